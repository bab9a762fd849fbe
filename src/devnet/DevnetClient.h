#pragma once

#include "DevnetClientSession.h"
#include "DevnetSocket.h"
#include "devnet.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devnet {

// Bounds of the SDK's waits. Process-wide; tests shorten them.
struct ClientTiming {
    int answerTimeoutMs = 3000;  // login, serial start, stream start
    int sendTimeoutMs = 3000;    // one message into a jammed socket
    int keepaliveIdleMs = 5000;  // silence after which a ping is sent
    int deadAfterMs = 15000;     // silence after which the connection counts as lost
};
ClientTiming clientTiming();
void setClientTiming(const ClientTiming& t);

// One login: the TCP connection to the camera, its reader thread (which runs the
// callbacks) and, when enabled, the background reconnection that logs in again and
// restarts the serial channel and the stream under the same handles.
class DevnetClient : public std::enable_shared_from_this<DevnetClient> {
public:
    struct Settings {
        std::string host;
        uint16_t port = 0;
        std::string user;
        std::string password;
        int connectWaitMs = 3000;
        int connectTries = 1;
        int reconnectIntervalMs = 1000;
        bool reconnect = false;
    };

    explicit DevnetClient(const Settings& settings);
    ~DevnetClient();
    DevnetClient(const DevnetClient&) = delete;
    DevnetClient& operator=(const DevnetClient&) = delete;

    // Connects, logs in and starts the reader thread. NET_DEV_NOERROR or an error code.
    uint32_t open(LoginOk* info);
    // Logout: tells the camera, closes the connection, ends reconnection and joins the
    // reader thread (detaches it when called from a callback on that thread).
    void close();

    uint32_t startSerial(int32_t handle, int32_t port, NET_DEV_SerialDataCallBack cb, void* user);
    uint32_t sendSerial(int32_t handle, int32_t channel, const uint8_t* data, size_t len);
    bool stopSerial(int32_t handle);
    uint32_t startStream(int32_t handle, const NET_DEV_PREVIEWINFO* preview, NET_DEV_RealDataCallBack cb,
                         void* user);
    bool stopStream(int32_t handle);

private:
    uint32_t connectAndLogin(LoginOk* info);
    uint32_t pumpUntil(uint32_t reqId, DevnetClientSession::Answer* a);
    bool restart(const std::vector<uint8_t>& msg, uint32_t reqId);
    bool reconnectOnce();
    void run();
    void readLoop();
    bool sendBytes(const std::vector<uint8_t>& msg, uint64_t generation, bool mayWait = true);
    void setFd(int fd);
    void dropFd();
    bool upGeneration(uint64_t* generation, uint32_t* err) const;

    const Settings m_settings;
    sockaddr_in m_addr{};
    DevnetClientSession m_session;
    WakePipe m_wake;
    std::vector<uint8_t> m_buf; // reader side only

    mutable std::mutex m_mutex; // m_fd, m_generation, m_up, m_closing
    std::mutex m_sendMutex;     // one writer at a time; held while the fd is in use
    int m_fd = -1;
    uint64_t m_generation = 0;
    bool m_up = false;
    bool m_closing = false;
    uint32_t m_pingSeq = 0;
    std::atomic<int64_t> m_lastTx{0};
    std::thread m_reader;
};

uint32_t errorForWire(uint32_t wireError);

} // namespace devnet
