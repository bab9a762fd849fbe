#ifndef IRBENCH_DEVNET_H
#define IRBENCH_DEVNET_H

/* Our network device SDK: login to a networked camera, its transparent serial channel
 * and its live stream, over the TCP wire protocol described in docs/devnet-protocol.md.
 * Handles are signed 32-bit integers; a negative handle means failure and
 * NET_DEV_GetLastError() tells why (per calling thread). Callbacks run on the SDK's
 * own threads; once NET_DEV_SerialStop / NET_DEV_StopRealPlay / NET_DEV_Logout has
 * returned, the matching callback is never entered again. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    NET_DEV_NOERROR = 0,
    NET_DEV_ERR_PARAMETER = 1,    /* bad argument (null pointer, bad address text) */
    NET_DEV_ERR_CONNECT = 2,      /* TCP connection refused or failed: nothing listening */
    NET_DEV_ERR_PASSWORD = 3,     /* user name or password refused */
    NET_DEV_ERR_TIMEOUT = 4,      /* no answer in time (TCP connect or the camera) */
    NET_DEV_ERR_HANDLE = 5,       /* unknown or closed handle */
    NET_DEV_ERR_SEND = 6,         /* the connection failed while sending */
    NET_DEV_ERR_PROTOCOL = 7,     /* malformed or unexpected message from the camera */
    NET_DEV_ERR_REFUSED = 8,      /* the camera refused the request (serial port, channel) */
    NET_DEV_ERR_RESOURCE = 9      /* out of handles, threads or memory */
};

/* Filled by NET_DEV_Login from the camera's login answer. */
typedef struct NET_DEV_DEVICEINFO {
    char sSerialNumber[48];
    char sModel[32];
    int32_t nChannelCount;
    int32_t nSerialPortCount;
    uint8_t byReserved[64];
} NET_DEV_DEVICEINFO;

/* The 280-byte preview request of NET_DEV_RealPlay_V40. */
typedef struct NET_DEV_PREVIEWINFO {
    int32_t lChannel;        /* offset 0 */
    uint32_t dwStreamType;   /* offset 4: 0 main stream */
    uint32_t dwLinkMode;     /* offset 8: 0 TCP */
    int32_t bBlocked;        /* offset 12 */
    uint8_t byReserved1[43]; /* offsets 16..58 */
    uint8_t byProtoType;     /* offset 59 */
    uint8_t byReserved2[220];/* offsets 60..279 */
} NET_DEV_PREVIEWINFO;

#define NET_DEV_STREAMDATA 2 /* data type of stream bytes in the stream callback */

typedef void (*NET_DEV_SerialDataCallBack)(int32_t lSerialHandle, const char* pRecvDataBuffer,
                                           uint32_t dwBufSize, void* pUser);
typedef void (*NET_DEV_RealDataCallBack)(int32_t lPlayHandle, uint32_t dwDataType, const uint8_t* pBuffer,
                                         uint32_t dwBufSize, void* pUser);

int NET_DEV_Init(void);
int NET_DEV_SetConnectTime(uint32_t dwWaitTime, uint32_t dwTryTimes);
int NET_DEV_SetReconnect(uint32_t dwInterval, int bEnableRecon);
int32_t NET_DEV_Login(const char* sDVRIP, uint16_t wDVRPort, const char* sUserName, const char* sPassword,
                      NET_DEV_DEVICEINFO* lpDeviceInfo);
int32_t NET_DEV_SerialStart(int32_t lUserID, int32_t lSerialPort, NET_DEV_SerialDataCallBack cbSerialDataCallBack,
                            void* pUser);
int NET_DEV_SerialSend(int32_t lSerialHandle, int32_t lChannel, const char* pSendBuf, uint32_t dwBufSize);
int NET_DEV_SerialStop(int32_t lSerialHandle);
int32_t NET_DEV_RealPlay_V40(int32_t lUserID, const NET_DEV_PREVIEWINFO* lpPreviewInfo,
                             NET_DEV_RealDataCallBack fRealDataCallBack, void* pUser);
int NET_DEV_StopRealPlay(int32_t lRealHandle);
int NET_DEV_Logout(int32_t lUserID);
uint32_t NET_DEV_GetLastError(void);

#ifdef __cplusplus
}
static_assert(sizeof(NET_DEV_PREVIEWINFO) == 280, "preview request is 280 bytes");
#endif

#endif
