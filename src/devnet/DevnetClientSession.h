#pragma once

#include "DevnetWire.h"
#include "devnet.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devnet {

// The SDK side of one login, without sockets: turns the camera's bytes into answers
// for waiting requests and into serial / stream callbacks. The connection feeds it
// from its reader thread; requests wait on it from the callers' threads. Fuzz
// harnesses drive feed() directly.
//
// Callback guarantee: once clearSerial() / clearStream() / clearAll() has returned,
// the matching callback is not running and is never entered again, unless the clear
// was called from inside a callback (then it does not wait, which would deadlock).
class DevnetClientSession {
public:
    enum class AnswerState { Waiting, Ok, Failed, Lost, TimedOut };
    struct Answer {
        AnswerState state = AnswerState::Waiting;
        uint32_t wireError = 0;   // WireError when Failed
        std::string text;
        LoginOk login;            // login answers
    };

    DevnetClientSession() = default;
    DevnetClientSession(const DevnetClientSession&) = delete;
    DevnetClientSession& operator=(const DevnetClientSession&) = delete;

    // A new TCP connection: the decoder starts afresh.
    void connectionUp();
    // The connection is gone: every waiting request ends as Lost.
    void connectionDown();

    // Bytes from the camera. False when the connection has to be closed: a framing
    // error, a malformed or out-of-place message, or a closing error from the camera.
    bool feed(const uint8_t* data, size_t len);
    const std::string& lastProblem() const { return m_problem; }

    // ---- Requests. `requestType` is MsgLogin, MsgSerialStart or MsgStreamStart. ----
    uint32_t newRequest(uint8_t requestType);
    void cancelRequest(uint32_t reqId);
    // Blocks until the answer, the loss of the connection or the timeout.
    Answer waitAnswer(uint32_t reqId, int timeoutMs);
    // Non-blocking, for the thread that feeds: true (and the answer) once resolved.
    bool takeAnswer(uint32_t reqId, Answer* out);

    // ---- Subscriptions; each start gets a fresh tag the camera echoes in its data.
    // One serial channel and one stream per login: set* returns 0 when one is set. ----
    uint32_t setSerial(int32_t handle, uint32_t port, NET_DEV_SerialDataCallBack cb, void* user);
    bool hasSerial(int32_t handle = -1) const;
    // New tag for a restart after reconnecting; false when no serial channel is set.
    bool renewSerialTag(uint32_t* tag, uint32_t* port);
    bool serialTag(int32_t handle, uint32_t* tag) const;
    bool clearSerial(int32_t handle, uint32_t* tag);

    uint32_t setStream(int32_t handle, const uint8_t* preview, NET_DEV_RealDataCallBack cb, void* user);
    bool hasStream(int32_t handle = -1) const;
    bool renewStreamTag(uint32_t* tag, std::vector<uint8_t>* preview);
    bool clearStream(int32_t handle, uint32_t* tag);

    void clearAll();

private:
    struct Pending {
        uint8_t requestType = 0;
        Answer answer;
    };
    struct SerialSub {
        int32_t handle = -1;
        uint32_t tag = 0;
        uint32_t port = 0;
        NET_DEV_SerialDataCallBack cb = nullptr;
        void* user = nullptr;
    };
    struct StreamSub {
        int32_t handle = -1;
        uint32_t tag = 0;
        std::vector<uint8_t> preview;
        NET_DEV_RealDataCallBack cb = nullptr;
        void* user = nullptr;
    };

    bool handle(const Message& m);
    bool resolve(uint32_t reqId, uint8_t answerType, const Answer& a);
    void deliverSerial(const DataMsg& d);
    void deliverStream(const DataMsg& d);
    void waitIdleLocked(std::unique_lock<std::mutex>& lk);
    uint32_t nextTagLocked();
    bool fail(const std::string& why);

    WireDecoder m_decoder;    // feeding thread only
    std::string m_problem;    // feeding thread only

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<uint32_t, Pending> m_pending;
    uint32_t m_nextReq = 1;
    uint32_t m_nextTag = 1;
    SerialSub m_serial;
    StreamSub m_stream;
    bool m_busy = false;               // a callback is running
    std::thread::id m_busyThread;
};

} // namespace devnet
