#include "DevnetClient.h"

#include <sys/socket.h>

#include <algorithm>
#include <system_error>

namespace devnet {

namespace {

std::mutex g_timingMutex;
ClientTiming g_timing;

constexpr size_t kReadChunk = 64 * 1024;

} // namespace

ClientTiming clientTiming()
{
    std::lock_guard<std::mutex> lk(g_timingMutex);
    return g_timing;
}

void setClientTiming(const ClientTiming& t)
{
    std::lock_guard<std::mutex> lk(g_timingMutex);
    g_timing = t;
}

uint32_t errorForWire(uint32_t wireError)
{
    switch (wireError) {
    case WireErrAuth:
        return NET_DEV_ERR_PASSWORD;
    case WireErrRefused:
        return NET_DEV_ERR_REFUSED;
    case WireErrBusy:
        return NET_DEV_ERR_RESOURCE;
    default:
        return NET_DEV_ERR_PROTOCOL;
    }
}

DevnetClient::DevnetClient(const Settings& settings) : m_settings(settings), m_buf(kReadChunk) {}

DevnetClient::~DevnetClient()
{
    // Normally close() has run; this only guards against a forgotten one.
    if (m_reader.joinable()) {
        m_wake.signal();
        if (m_reader.get_id() == std::this_thread::get_id())
            m_reader.detach();
        else
            m_reader.join();
    }
    closeFd(m_fd);
}

bool DevnetClient::upGeneration(uint64_t* generation, uint32_t* err) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_closing) {
        *err = NET_DEV_ERR_HANDLE;
        return false;
    }
    if (!m_up) {
        *err = NET_DEV_ERR_SEND;
        return false;
    }
    *generation = m_generation;
    return true;
}

void DevnetClient::setFd(int fd)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_fd = fd;
    ++m_generation;
}

void DevnetClient::dropFd()
{
    std::lock_guard<std::mutex> sl(m_sendMutex); // no writer may still be using the fd
    std::lock_guard<std::mutex> lk(m_mutex);
    closeFd(m_fd);
    m_fd = -1;
    m_up = false;
}

// Writes one whole message on the connection of the given generation (0: whichever
// is current). A failed write shuts the socket down so that the reader notices.
bool DevnetClient::sendBytes(const std::vector<uint8_t>& msg, uint64_t generation, bool mayWait)
{
    std::unique_lock<std::mutex> sl(m_sendMutex, std::defer_lock);
    if (mayWait)
        sl.lock();
    else if (!sl.try_lock())
        return false;
    int fd;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_fd < 0 || (generation != 0 && generation != m_generation))
            return false;
        fd = m_fd;
    }
    if (sendAll(fd, msg.data(), msg.size(), clientTiming().sendTimeoutMs, m_wake.fd())) {
        m_lastTx.store(monotonicMs());
        return true;
    }
    ::shutdown(fd, SHUT_RDWR);
    return false;
}

uint32_t DevnetClient::open(LoginOk* info)
{
    if (!m_wake.valid())
        return NET_DEV_ERR_RESOURCE;
    if (!resolveIPv4(m_settings.host, m_settings.port, &m_addr))
        return NET_DEV_ERR_PARAMETER;
    const uint32_t err = connectAndLogin(info);
    if (err != NET_DEV_NOERROR)
        return err;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_up = true;
    }
    try {
        m_reader = std::thread([self = shared_from_this()] { self->run(); });
    } catch (const std::system_error&) {
        dropFd();
        return NET_DEV_ERR_RESOURCE;
    }
    return NET_DEV_NOERROR;
}

// Connects (the configured attempts, each bounded by the connect time) and logs in.
// On success the connection is installed but not yet marked up.
uint32_t DevnetClient::connectAndLogin(LoginOk* info)
{
    int fd = -1;
    ConnectResult r = ConnectResult::Failed;
    for (int i = 0; i < m_settings.connectTries; ++i) {
        r = connectTcp(m_addr, m_settings.connectWaitMs, m_wake.fd(), &fd);
        if (r == ConnectResult::Ok || r == ConnectResult::Woken)
            break;
    }
    // A host that never answers the connect differs from one where nothing listens.
    if (r == ConnectResult::TimedOut)
        return NET_DEV_ERR_TIMEOUT;
    if (r != ConnectResult::Ok)
        return NET_DEV_ERR_CONNECT;
    m_session.connectionUp();
    setFd(fd);
    const uint32_t req = m_session.newRequest(MsgLogin);
    DevnetClientSession::Answer a;
    uint32_t err = NET_DEV_ERR_CONNECT;
    if (sendBytes(encodeLogin(req, m_settings.user, m_settings.password), 0))
        err = pumpUntil(req, &a);
    else
        m_session.cancelRequest(req);
    if (err != NET_DEV_NOERROR) {
        m_session.connectionDown();
        dropFd();
        return err;
    }
    if (info)
        *info = a.login;
    return NET_DEV_NOERROR;
}

// Reads and handles the camera's messages on the calling thread until the answer
// to `reqId` is in. Used while no reader thread serves the connection (login) or on
// the reader thread itself (restarts after reconnecting).
uint32_t DevnetClient::pumpUntil(uint32_t reqId, DevnetClientSession::Answer* a)
{
    int fd;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        fd = m_fd;
    }
    const int64_t deadline = monotonicMs() + clientTiming().answerTimeoutMs;
    bool broken = false;
    for (;;) {
        if (m_session.takeAnswer(reqId, a)) {
            if (a->state == DevnetClientSession::AnswerState::Ok)
                return NET_DEV_NOERROR;
            if (a->state == DevnetClientSession::AnswerState::Failed)
                return errorForWire(a->wireError);
            return NET_DEV_ERR_CONNECT;
        }
        const int64_t left = deadline - monotonicMs();
        if (broken || left <= 0) {
            m_session.cancelRequest(reqId);
            return broken ? NET_DEV_ERR_PROTOCOL : NET_DEV_ERR_TIMEOUT;
        }
        size_t got = 0;
        const ReadResult rr = readSome(fd, m_wake.fd(), int(left), m_buf.data(), m_buf.size(), &got);
        if (rr == ReadResult::Data) {
            broken = !m_session.feed(m_buf.data(), got); // the answer may still be in
        } else if (rr != ReadResult::Idle) {
            if (m_session.takeAnswer(reqId, a) && a->state == DevnetClientSession::AnswerState::Failed)
                return errorForWire(a->wireError);
            m_session.cancelRequest(reqId);
            return NET_DEV_ERR_CONNECT;
        }
    }
}

void DevnetClient::close()
{
    bool wasUp;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_closing)
            return;
        m_closing = true;
        wasUp = m_up;
    }
    if (wasUp)
        sendBytes(encodeLogout(), 0);
    m_wake.signal();
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_RDWR);
    }
    m_session.clearAll();
    if (m_reader.joinable()) {
        if (m_reader.get_id() == std::this_thread::get_id())
            m_reader.detach(); // called from a callback: the thread ends after it returns
        else
            m_reader.join();
    }
    m_session.connectionDown();
}

void DevnetClient::run()
{
    for (;;) {
        readLoop();
        m_session.connectionDown();
        dropFd();
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_closing || !m_settings.reconnect)
                return;
        }
        bool up = false;
        while (!up) {
            if (waitWake(m_wake.fd(), m_settings.reconnectIntervalMs))
                return; // logout
            up = reconnectOnce();
        }
    }
}

void DevnetClient::readLoop()
{
    int fd;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        fd = m_fd;
    }
    if (fd < 0)
        return;
    const ClientTiming t = clientTiming();
    int64_t lastRx = monotonicMs();
    int64_t lastPing = lastRx;
    for (;;) {
        const int64_t now = monotonicMs();
        if (now - lastRx >= t.deadAfterMs)
            return; // the camera went silent: treat as lost
        // A ping goes out when either direction has been quiet: the camera needs to
        // hear from a client that only watches the stream, and a quiet camera has to
        // show that it is still there.
        const bool quiet = now - lastRx >= t.keepaliveIdleMs || now - m_lastTx.load() >= t.keepaliveIdleMs;
        if (quiet && now - lastPing >= t.keepaliveIdleMs) {
            // Skipped while a caller is writing: that write is traffic too.
            if (sendBytes(encodePing(MsgPing, ++m_pingSeq), 0, false))
                lastPing = now;
        }
        const int64_t quietSince = std::min(lastRx, m_lastTx.load());
        const int64_t nextPing = std::max(quietSince, lastPing) + t.keepaliveIdleMs;
        const int64_t untilPing = std::max<int64_t>(nextPing - now, 1);
        const int64_t untilDead = std::max<int64_t>(lastRx + t.deadAfterMs - now, 1);
        size_t got = 0;
        const ReadResult r =
            readSome(fd, m_wake.fd(), int(std::min(untilPing, untilDead)), m_buf.data(), m_buf.size(), &got);
        if (r == ReadResult::Closed || r == ReadResult::Woken)
            return;
        if (r == ReadResult::Data) {
            lastRx = monotonicMs();
            if (!m_session.feed(m_buf.data(), got))
                return;
        }
    }
}

// Sends a start request on the reader thread and reads until its answer.
bool DevnetClient::restart(const std::vector<uint8_t>& msg, uint32_t reqId)
{
    if (!sendBytes(msg, 0)) {
        m_session.cancelRequest(reqId);
        return false;
    }
    DevnetClientSession::Answer a;
    return pumpUntil(reqId, &a) == NET_DEV_NOERROR;
}

// One reconnection attempt on the reader thread: connect, log in again, restart the
// serial channel and the stream that were running. Any failure closes the attempt;
// the next one follows after the interval.
bool DevnetClient::reconnectOnce()
{
    LoginOk info;
    if (connectAndLogin(&info) != NET_DEV_NOERROR)
        return false;
    uint32_t tag = 0;
    uint32_t port = 0;
    if (m_session.renewSerialTag(&tag, &port)) {
        const uint32_t req = m_session.newRequest(MsgSerialStart);
        if (!restart(encodeSerialStart(req, tag, port), req)) {
            m_session.connectionDown();
            dropFd();
            return false;
        }
        if (!m_session.hasSerial()) // stopped meanwhile
            sendBytes(encodeSerialStop(tag), 0);
    }
    std::vector<uint8_t> preview;
    if (m_session.renewStreamTag(&tag, &preview)) {
        const uint32_t req = m_session.newRequest(MsgStreamStart);
        if (!restart(encodeStreamStart(req, tag, preview.data()), req)) {
            m_session.connectionDown();
            dropFd();
            return false;
        }
        if (!m_session.hasStream())
            sendBytes(encodeStreamStop(tag), 0);
    }
    std::lock_guard<std::mutex> lk(m_mutex);
    m_up = true;
    return true;
}

uint32_t DevnetClient::startSerial(int32_t handle, int32_t port, NET_DEV_SerialDataCallBack cb, void* user)
{
    uint64_t gen = 0;
    uint32_t err = NET_DEV_NOERROR;
    if (!upGeneration(&gen, &err))
        return err;
    const uint32_t tag = m_session.setSerial(handle, uint32_t(port), cb, user);
    if (tag == 0)
        return NET_DEV_ERR_RESOURCE; // one serial channel per login
    const uint32_t req = m_session.newRequest(MsgSerialStart);
    if (!sendBytes(encodeSerialStart(req, tag, uint32_t(port)), gen)) {
        m_session.cancelRequest(req);
        m_session.clearSerial(handle, nullptr);
        return NET_DEV_ERR_SEND;
    }
    const DevnetClientSession::Answer a = m_session.waitAnswer(req, clientTiming().answerTimeoutMs);
    if (a.state != DevnetClientSession::AnswerState::Ok) {
        m_session.clearSerial(handle, nullptr);
        if (a.state == DevnetClientSession::AnswerState::TimedOut)
            sendBytes(encodeSerialStop(tag), gen); // in case the camera starts it late
        if (a.state == DevnetClientSession::AnswerState::Failed)
            return errorForWire(a.wireError);
        return a.state == DevnetClientSession::AnswerState::TimedOut ? NET_DEV_ERR_TIMEOUT : NET_DEV_ERR_SEND;
    }
    return NET_DEV_NOERROR;
}

uint32_t DevnetClient::sendSerial(int32_t handle, int32_t channel, const uint8_t* data, size_t len)
{
    uint64_t gen = 0;
    uint32_t err = NET_DEV_NOERROR;
    if (!m_session.hasSerial(handle))
        return NET_DEV_ERR_HANDLE;
    if (!upGeneration(&gen, &err))
        return err;
    // The tag is read after the generation: a reconnection in between changes the
    // generation and the write is refused rather than sent with a stale tag.
    uint32_t tag = 0;
    if (!m_session.serialTag(handle, &tag))
        return NET_DEV_ERR_HANDLE;
    if (!sendBytes(encodeSerialData(tag, uint32_t(channel), data, len), gen))
        return NET_DEV_ERR_SEND;
    return NET_DEV_NOERROR;
}

bool DevnetClient::stopSerial(int32_t handle)
{
    uint32_t tag = 0;
    if (!m_session.clearSerial(handle, &tag))
        return false;
    uint64_t gen = 0;
    uint32_t err = 0;
    if (upGeneration(&gen, &err))
        sendBytes(encodeSerialStop(tag), gen);
    return true;
}

uint32_t DevnetClient::startStream(int32_t handle, const NET_DEV_PREVIEWINFO* preview, NET_DEV_RealDataCallBack cb,
                                   void* user)
{
    uint64_t gen = 0;
    uint32_t err = NET_DEV_NOERROR;
    if (!upGeneration(&gen, &err))
        return err;
    const auto* bytes = reinterpret_cast<const uint8_t*>(preview);
    const uint32_t tag = m_session.setStream(handle, bytes, cb, user);
    if (tag == 0)
        return NET_DEV_ERR_RESOURCE; // one stream per login
    const uint32_t req = m_session.newRequest(MsgStreamStart);
    if (!sendBytes(encodeStreamStart(req, tag, bytes), gen)) {
        m_session.cancelRequest(req);
        m_session.clearStream(handle, nullptr);
        return NET_DEV_ERR_SEND;
    }
    const DevnetClientSession::Answer a = m_session.waitAnswer(req, clientTiming().answerTimeoutMs);
    if (a.state != DevnetClientSession::AnswerState::Ok) {
        m_session.clearStream(handle, nullptr);
        if (a.state == DevnetClientSession::AnswerState::TimedOut)
            sendBytes(encodeStreamStop(tag), gen);
        if (a.state == DevnetClientSession::AnswerState::Failed)
            return errorForWire(a.wireError);
        return a.state == DevnetClientSession::AnswerState::TimedOut ? NET_DEV_ERR_TIMEOUT : NET_DEV_ERR_SEND;
    }
    return NET_DEV_NOERROR;
}

bool DevnetClient::stopStream(int32_t handle)
{
    uint32_t tag = 0;
    if (!m_session.clearStream(handle, &tag))
        return false;
    uint64_t gen = 0;
    uint32_t err = 0;
    if (upGeneration(&gen, &err))
        sendBytes(encodeStreamStop(tag), gen);
    return true;
}

} // namespace devnet
