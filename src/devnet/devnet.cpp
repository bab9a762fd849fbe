// The C API of our network device SDK: handle bookkeeping over DevnetClient.

#include "devnet.h"

#include "DevnetClient.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

using devnet::DevnetClient;

namespace {

thread_local uint32_t t_lastError = NET_DEV_NOERROR;

enum class Kind { Login, Serial, Play };

struct Entry {
    Kind kind;
    std::shared_ptr<DevnetClient> client;
};

// Handles are never reused within a process, so a stale handle is always refused.
class Registry {
public:
    int32_t add(Kind kind, const std::shared_ptr<DevnetClient>& client)
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_next == INT32_MAX)
            return -1;
        const int32_t h = m_next++;
        m_map.emplace(h, Entry{kind, client});
        return h;
    }
    std::shared_ptr<DevnetClient> find(int32_t h, Kind kind)
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        auto it = m_map.find(h);
        if (it == m_map.end() || it->second.kind != kind)
            return nullptr;
        return it->second.client;
    }
    std::shared_ptr<DevnetClient> take(int32_t h, Kind kind)
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        auto it = m_map.find(h);
        if (it == m_map.end() || it->second.kind != kind)
            return nullptr;
        auto c = it->second.client;
        m_map.erase(it);
        return c;
    }
    // Removes a login and every serial and play handle opened on it.
    void removeAll(const std::shared_ptr<DevnetClient>& client)
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        for (auto it = m_map.begin(); it != m_map.end();) {
            if (it->second.client == client)
                it = m_map.erase(it);
            else
                ++it;
        }
    }

private:
    std::mutex m_mutex;
    std::unordered_map<int32_t, Entry> m_map;
    int32_t m_next = 1;
};

// Never destroyed: logins still open at exit must not be torn down by static
// destruction while their threads run.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

struct Config {
    std::mutex mutex;
    uint32_t connectWaitMs = 3000;
    uint32_t connectTries = 1;
    uint32_t reconnectIntervalMs = 1000;
    bool reconnect = false;
};

Config& config()
{
    static Config* c = new Config;
    return *c;
}

int fail(uint32_t err)
{
    t_lastError = err;
    return 0;
}

int32_t failHandle(uint32_t err)
{
    t_lastError = err;
    return -1;
}

int ok()
{
    t_lastError = NET_DEV_NOERROR;
    return 1;
}

void copyText(char* dst, size_t cap, const std::string& src)
{
    const size_t n = std::min(src.size(), cap - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

} // namespace

extern "C" {

int NET_DEV_Init(void)
{
    registry();
    config();
    return ok();
}

// The wait is clamped to 100 ms .. 75 s and the attempts to 1 .. 10 so that a login
// always ends in bounded time.
int NET_DEV_SetConnectTime(uint32_t dwWaitTime, uint32_t dwTryTimes)
{
    Config& c = config();
    std::lock_guard<std::mutex> lk(c.mutex);
    c.connectWaitMs = std::clamp<uint32_t>(dwWaitTime, 100, 75000);
    c.connectTries = std::clamp<uint32_t>(dwTryTimes, 1, 10);
    return ok();
}

int NET_DEV_SetReconnect(uint32_t dwInterval, int bEnableRecon)
{
    Config& c = config();
    std::lock_guard<std::mutex> lk(c.mutex);
    c.reconnectIntervalMs = std::clamp<uint32_t>(dwInterval, 10, 600000);
    c.reconnect = bEnableRecon != 0;
    return ok();
}

int32_t NET_DEV_Login(const char* sDVRIP, uint16_t wDVRPort, const char* sUserName, const char* sPassword,
                      NET_DEV_DEVICEINFO* lpDeviceInfo)
{
    if (!sDVRIP || !sUserName || !sPassword || wDVRPort == 0 || std::strlen(sUserName) > devnet::kMaxNameLen
        || std::strlen(sPassword) > devnet::kMaxNameLen)
        return failHandle(NET_DEV_ERR_PARAMETER);
    DevnetClient::Settings s;
    s.host = sDVRIP;
    s.port = wDVRPort;
    s.user = sUserName;
    s.password = sPassword;
    {
        Config& c = config();
        std::lock_guard<std::mutex> lk(c.mutex);
        s.connectWaitMs = int(c.connectWaitMs);
        s.connectTries = int(c.connectTries);
        s.reconnectIntervalMs = int(c.reconnectIntervalMs);
        s.reconnect = c.reconnect;
    }
    std::shared_ptr<DevnetClient> client;
    try {
        client = std::make_shared<DevnetClient>(s);
    } catch (const std::bad_alloc&) {
        return failHandle(NET_DEV_ERR_RESOURCE);
    }
    devnet::LoginOk info;
    const uint32_t err = client->open(&info);
    if (err != NET_DEV_NOERROR)
        return failHandle(err);
    const int32_t h = registry().add(Kind::Login, client);
    if (h < 0) {
        client->close();
        return failHandle(NET_DEV_ERR_RESOURCE);
    }
    if (lpDeviceInfo) {
        std::memset(lpDeviceInfo, 0, sizeof(*lpDeviceInfo));
        copyText(lpDeviceInfo->sSerialNumber, sizeof(lpDeviceInfo->sSerialNumber), info.serialNumber);
        copyText(lpDeviceInfo->sModel, sizeof(lpDeviceInfo->sModel), info.model);
        lpDeviceInfo->nChannelCount = int32_t(std::min<uint32_t>(info.channelCount, INT32_MAX));
        lpDeviceInfo->nSerialPortCount = int32_t(std::min<uint32_t>(info.serialPortCount, INT32_MAX));
    }
    t_lastError = NET_DEV_NOERROR;
    return h;
}

int32_t NET_DEV_SerialStart(int32_t lUserID, int32_t lSerialPort, NET_DEV_SerialDataCallBack cbSerialDataCallBack,
                            void* pUser)
{
    auto client = registry().find(lUserID, Kind::Login);
    if (!client)
        return failHandle(NET_DEV_ERR_HANDLE);
    if (!cbSerialDataCallBack || lSerialPort < 1)
        return failHandle(NET_DEV_ERR_PARAMETER);
    // Registered first: the callback may run (and use the handle) before the start returns.
    const int32_t h = registry().add(Kind::Serial, client);
    if (h < 0)
        return failHandle(NET_DEV_ERR_RESOURCE);
    const uint32_t err = client->startSerial(h, lSerialPort, cbSerialDataCallBack, pUser);
    if (err != NET_DEV_NOERROR) {
        registry().take(h, Kind::Serial);
        return failHandle(err);
    }
    t_lastError = NET_DEV_NOERROR;
    return h;
}

int NET_DEV_SerialSend(int32_t lSerialHandle, int32_t lChannel, const char* pSendBuf, uint32_t dwBufSize)
{
    auto client = registry().find(lSerialHandle, Kind::Serial);
    if (!client)
        return fail(NET_DEV_ERR_HANDLE);
    if (!pSendBuf || dwBufSize == 0 || dwBufSize > devnet::kMaxSerialChunk)
        return fail(NET_DEV_ERR_PARAMETER);
    const uint32_t err =
        client->sendSerial(lSerialHandle, lChannel, reinterpret_cast<const uint8_t*>(pSendBuf), dwBufSize);
    return err == NET_DEV_NOERROR ? ok() : fail(err);
}

int NET_DEV_SerialStop(int32_t lSerialHandle)
{
    auto client = registry().take(lSerialHandle, Kind::Serial);
    if (!client || !client->stopSerial(lSerialHandle))
        return fail(NET_DEV_ERR_HANDLE);
    return ok();
}

int32_t NET_DEV_RealPlay_V40(int32_t lUserID, const NET_DEV_PREVIEWINFO* lpPreviewInfo,
                             NET_DEV_RealDataCallBack fRealDataCallBack, void* pUser)
{
    auto client = registry().find(lUserID, Kind::Login);
    if (!client)
        return failHandle(NET_DEV_ERR_HANDLE);
    if (!lpPreviewInfo || !fRealDataCallBack)
        return failHandle(NET_DEV_ERR_PARAMETER);
    const int32_t h = registry().add(Kind::Play, client);
    if (h < 0)
        return failHandle(NET_DEV_ERR_RESOURCE);
    const uint32_t err = client->startStream(h, lpPreviewInfo, fRealDataCallBack, pUser);
    if (err != NET_DEV_NOERROR) {
        registry().take(h, Kind::Play);
        return failHandle(err);
    }
    t_lastError = NET_DEV_NOERROR;
    return h;
}

int NET_DEV_StopRealPlay(int32_t lRealHandle)
{
    auto client = registry().take(lRealHandle, Kind::Play);
    if (!client || !client->stopStream(lRealHandle))
        return fail(NET_DEV_ERR_HANDLE);
    return ok();
}

int NET_DEV_Logout(int32_t lUserID)
{
    auto client = registry().take(lUserID, Kind::Login);
    if (!client)
        return fail(NET_DEV_ERR_HANDLE);
    registry().removeAll(client);
    client->close();
    return ok();
}

uint32_t NET_DEV_GetLastError(void)
{
    return t_lastError;
}

} // extern "C"
