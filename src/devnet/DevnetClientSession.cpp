#include "DevnetClientSession.h"

#include <chrono>

namespace devnet {

namespace {

uint8_t answerTypeFor(uint8_t requestType)
{
    switch (requestType) {
    case MsgLogin:
        return MsgLoginOk;
    case MsgSerialStart:
        return MsgSerialStartOk;
    case MsgStreamStart:
        return MsgStreamStartOk;
    default:
        return 0;
    }
}

// Errors after which the camera closes the connection.
bool closingError(uint32_t code)
{
    return code == WireErrProtocol || code == WireErrAuth || code == WireErrBusy || code == WireErrNotLoggedIn;
}

} // namespace

void DevnetClientSession::connectionUp()
{
    m_decoder.reset();
    m_problem.clear();
}

void DevnetClientSession::connectionDown()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    for (auto& p : m_pending) {
        if (p.second.answer.state == AnswerState::Waiting)
            p.second.answer.state = AnswerState::Lost;
    }
    m_cv.notify_all();
}

bool DevnetClientSession::fail(const std::string& why)
{
    m_problem = why;
    return false;
}

bool DevnetClientSession::feed(const uint8_t* data, size_t len)
{
    m_decoder.feed(data, len);
    Message m;
    while (m_decoder.next(&m)) {
        if (!handle(m))
            return false;
    }
    if (m_decoder.failed())
        return fail(m_decoder.error());
    return true;
}

bool DevnetClientSession::handle(const Message& m)
{
    switch (m.type) {
    case MsgLoginOk: {
        Answer a;
        if (!parseLoginOk(m, &a.login))
            return fail("malformed login answer");
        a.state = AnswerState::Ok;
        return resolve(a.login.reqId, MsgLoginOk, a);
    }
    case MsgSerialStartOk:
    case MsgStreamStartOk: {
        uint32_t reqId = 0;
        if (!parseU32(m, &reqId))
            return fail("malformed start answer");
        Answer a;
        a.state = AnswerState::Ok;
        return resolve(reqId, m.type, a);
    }
    case MsgSerialData: {
        DataMsg d;
        if (!parseSerialData(m, &d))
            return fail("malformed serial data");
        deliverSerial(d);
        return true;
    }
    case MsgStreamData: {
        DataMsg d;
        if (!parseStreamData(m, &d))
            return fail("malformed stream data");
        deliverStream(d);
        return true;
    }
    case MsgPong: {
        uint32_t seq = 0;
        if (!parseU32(m, &seq))
            return fail("malformed pong");
        return true;
    }
    case MsgError: {
        ErrorMsg e;
        if (!parseError(m, &e))
            return fail("malformed error message");
        if (e.reqId != 0) {
            Answer a;
            a.state = AnswerState::Failed;
            a.wireError = e.code;
            a.text = e.text;
            if (!resolve(e.reqId, MsgError, a))
                return false;
        }
        if (e.reqId == 0 || closingError(e.code))
            return fail("camera error " + std::to_string(e.code) + ": " + e.text);
        return true;
    }
    case MsgLogin:
    case MsgLogout:
    case MsgSerialStart:
    case MsgSerialStop:
    case MsgStreamStart:
    case MsgStreamStop:
    case MsgPing:
        return fail("request type " + std::to_string(m.type) + " sent by the camera");
    default:
        return true; // unknown types are skipped: later cameras may add optional messages
    }
}

bool DevnetClientSession::resolve(uint32_t reqId, uint8_t answerType, const Answer& a)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_pending.find(reqId);
    if (it == m_pending.end() || it->second.answer.state != AnswerState::Waiting)
        return true; // late answer to a request that gave up waiting
    if (answerType != MsgError && answerType != answerTypeFor(it->second.requestType))
        return fail("answer type " + std::to_string(answerType) + " does not match its request");
    it->second.answer = a;
    m_cv.notify_all();
    return true;
}

uint32_t DevnetClientSession::newRequest(uint8_t requestType)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    uint32_t id = m_nextReq++;
    if (id == 0)
        id = m_nextReq++;
    m_pending[id].requestType = requestType;
    return id;
}

void DevnetClientSession::cancelRequest(uint32_t reqId)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_pending.erase(reqId);
}

DevnetClientSession::Answer DevnetClientSession::waitAnswer(uint32_t reqId, int timeoutMs)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    auto it = m_pending.find(reqId);
    if (it == m_pending.end()) {
        Answer a;
        a.state = AnswerState::Lost;
        return a;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    m_cv.wait_until(lk, deadline, [&] { return m_pending[reqId].answer.state != AnswerState::Waiting; });
    Answer a = m_pending[reqId].answer;
    if (a.state == AnswerState::Waiting)
        a.state = AnswerState::TimedOut;
    m_pending.erase(reqId);
    return a;
}

bool DevnetClientSession::takeAnswer(uint32_t reqId, Answer* out)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_pending.find(reqId);
    if (it == m_pending.end() || it->second.answer.state == AnswerState::Waiting)
        return false;
    *out = it->second.answer;
    m_pending.erase(it);
    return true;
}

uint32_t DevnetClientSession::nextTagLocked()
{
    uint32_t t = m_nextTag++;
    if (t == 0)
        t = m_nextTag++;
    return t;
}

uint32_t DevnetClientSession::setSerial(int32_t handle, uint32_t port, NET_DEV_SerialDataCallBack cb, void* user)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_serial.handle >= 0)
        return 0;
    m_serial.handle = handle;
    m_serial.tag = nextTagLocked();
    m_serial.port = port;
    m_serial.cb = cb;
    m_serial.user = user;
    return m_serial.tag;
}

bool DevnetClientSession::hasSerial(int32_t handle) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_serial.handle >= 0 && (handle < 0 || handle == m_serial.handle);
}

bool DevnetClientSession::renewSerialTag(uint32_t* tag, uint32_t* port)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_serial.handle < 0)
        return false;
    m_serial.tag = nextTagLocked();
    *tag = m_serial.tag;
    *port = m_serial.port;
    return true;
}

bool DevnetClientSession::serialTag(int32_t handle, uint32_t* tag) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_serial.handle < 0 || m_serial.handle != handle)
        return false;
    *tag = m_serial.tag;
    return true;
}

bool DevnetClientSession::clearSerial(int32_t handle, uint32_t* tag)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    if (m_serial.handle < 0 || m_serial.handle != handle)
        return false;
    if (tag)
        *tag = m_serial.tag;
    m_serial = SerialSub();
    waitIdleLocked(lk);
    return true;
}

uint32_t DevnetClientSession::setStream(int32_t handle, const uint8_t* preview, NET_DEV_RealDataCallBack cb,
                                        void* user)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_stream.handle >= 0)
        return 0;
    m_stream.handle = handle;
    m_stream.tag = nextTagLocked();
    m_stream.preview.assign(preview, preview + kPreviewSize);
    m_stream.cb = cb;
    m_stream.user = user;
    return m_stream.tag;
}

bool DevnetClientSession::hasStream(int32_t handle) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_stream.handle >= 0 && (handle < 0 || handle == m_stream.handle);
}

bool DevnetClientSession::renewStreamTag(uint32_t* tag, std::vector<uint8_t>* preview)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_stream.handle < 0)
        return false;
    m_stream.tag = nextTagLocked();
    *tag = m_stream.tag;
    *preview = m_stream.preview;
    return true;
}

bool DevnetClientSession::clearStream(int32_t handle, uint32_t* tag)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    if (m_stream.handle < 0 || m_stream.handle != handle)
        return false;
    if (tag)
        *tag = m_stream.tag;
    m_stream = StreamSub();
    waitIdleLocked(lk);
    return true;
}

void DevnetClientSession::clearAll()
{
    std::unique_lock<std::mutex> lk(m_mutex);
    m_serial = SerialSub();
    m_stream = StreamSub();
    waitIdleLocked(lk);
}

// Waits out a callback that is running on another thread. A clear from inside the
// callback itself returns at once.
void DevnetClientSession::waitIdleLocked(std::unique_lock<std::mutex>& lk)
{
    const auto self = std::this_thread::get_id();
    m_cv.wait(lk, [&] { return !m_busy || m_busyThread == self; });
}

void DevnetClientSession::deliverSerial(const DataMsg& d)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    if (m_serial.handle < 0 || d.tag != m_serial.tag || d.len == 0 || !m_serial.cb)
        return; // stale data from a stopped channel, or nothing to hand over
    const auto cb = m_serial.cb;
    const auto handle = m_serial.handle;
    void* user = m_serial.user;
    m_busy = true;
    m_busyThread = std::this_thread::get_id();
    lk.unlock();
    cb(handle, reinterpret_cast<const char*>(d.data), uint32_t(d.len), user);
    lk.lock();
    m_busy = false;
    m_cv.notify_all();
}

void DevnetClientSession::deliverStream(const DataMsg& d)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    if (m_stream.handle < 0 || d.tag != m_stream.tag || d.len == 0 || !m_stream.cb)
        return;
    const auto cb = m_stream.cb;
    const auto handle = m_stream.handle;
    void* user = m_stream.user;
    m_busy = true;
    m_busyThread = std::this_thread::get_id();
    lk.unlock();
    cb(handle, NET_DEV_STREAMDATA, d.data, uint32_t(d.len), user);
    lk.lock();
    m_busy = false;
    m_cv.notify_all();
}

} // namespace devnet
