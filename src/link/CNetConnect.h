#pragma once

#include "CInterfaceConnect.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct NetLoginParams {
    std::string ip;
    int port = 8000;
    std::string user;
    std::string password;
    int channel = 1;
    int deviceForm = 0;
};

// Link through a networked camera's transparent serial channel (devnet SDK). The SDK
// pushes received bytes into a callback; the link keeps the latest chunk in a
// one-chunk mailbox that Read empties. The same object owns the camera's stream.
class CNetConnect : public CInterfaceConnect {
public:
    static constexpr int kMailboxSize = 280;

    CNetConnect();
    ~CNetConnect() override;
    CNetConnect(const CNetConnect&) = delete;
    CNetConnect& operator=(const CNetConnect&) = delete;

    bool Login(const NetLoginParams& params);
    int LoginHandle() const { return m_loginHandle; }
    int Channel() const { return m_channel; }
    int DeviceForm() const { return m_deviceForm; }

    bool Write(const void* data, int len) override;
    bool Read(unsigned char* buf, int len, int* count) override;
    // Sends 0xF018 = 5 as the last command (when this is the current link), then
    // stops the serial channel and the stream and logs out.
    void Close() override;

    // Stream: every chunk of stream data goes to the sink on the SDK's thread.
    using StreamSink = std::function<void(const uint8_t* data, int size)>;
    void SetStreamSink(StreamSink sink);
    bool StartStream();
    bool StopStream();
    bool IsPlaying() const;
    int StreamChunkCount() const;
    int LastStreamChunkLength() const;

private:
    bool ensureSerial();
    static void onSerialData(int32_t serialHandle, const char* data, uint32_t size, void* user);
    static void onStreamData(int32_t playHandle, uint32_t dataType, const uint8_t* data, uint32_t size, void* user);

    int m_loginHandle;
    int m_serialHandle;
    int m_playHandle;
    int m_channel;
    int m_deviceForm;

    // Mailbox, shared with the SDK's serial thread.
    std::mutex m_mailLock;
    unsigned char m_recvBuf[kMailboxSize];
    bool m_hasRecvBuf;
    int m_recvLen;

    // Stream state, shared with the SDK's stream thread.
    mutable std::mutex m_streamLock;
    StreamSink m_sink;
    bool m_playing;
    int m_streamChunks;
    int m_lastStreamLen;
};
