#pragma once

#include "DevnetWire.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace devnet {

// The camera side of one client connection, without sockets: checks the login,
// answers requests and reports the client's serial and stream requests to the
// camera. The connection feeds it the client's bytes on its own thread; the camera
// sends serial and stream data through it from any thread. Fuzz harnesses drive
// feed() directly.
class DevnetServerSession {
public:
    struct Config {
        std::string user;
        std::string password;
        std::string serialNumber;
        std::string model;
        uint32_t channelCount = 1;
        uint32_t serialPortCount = 1;
    };

    // Called on the feeding thread with no lock held; they may call back into the
    // session (sendSerial / sendStream).
    class Events {
    public:
        virtual ~Events() = default;
        virtual void loggedIn() {}
        // `tag` identifies this start of the serial channel for sendSerial().
        virtual void serialStarted(uint32_t tag, uint32_t port) {}
        virtual void serialStopped(uint32_t tag) {}
        virtual void serialData(uint32_t tag, uint32_t channel, const uint8_t* data, size_t len) {}
        virtual void streamStarted(int32_t channel) {}
        virtual void streamStopped(int32_t channel) {}
    };

    // Writes one whole message to the client; false when the connection failed.
    // Called from the feeding thread and from the senders' threads: must be thread-safe.
    using Sink = std::function<bool(const std::vector<uint8_t>& msg)>;

    DevnetServerSession(const Config& config, Events* events, Sink sink);
    DevnetServerSession(const DevnetServerSession&) = delete;
    DevnetServerSession& operator=(const DevnetServerSession&) = delete;

    // Handles bytes from the client. False when the connection is to be closed now:
    // a protocol error (answered with an error message first), refused credentials,
    // a logout, or a failed write.
    bool feed(const uint8_t* data, size_t len);
    const std::string& lastProblem() const { return m_problem; }

    // Sends an unsolicited error (e.g. too many clients) before closing.
    void sendError(uint32_t code, const std::string& text);

    // Camera -> client. sendSerial only goes out while the serial start `tag` is the
    // running one; sendStream while a stream runs. False when nothing was sent.
    // Chunks above the message limit are split.
    bool sendSerial(uint32_t tag, const uint8_t* data, size_t len);
    bool sendStream(const uint8_t* data, size_t len);

    bool loggedIn() const;
    bool streaming() const;
    bool serialRunning() const;

    // The connection has ended: reports the running serial channel and stream as
    // stopped (once) and refuses further sends.
    void closed();

private:
    bool handle(const Message& m);
    bool protocolError(uint32_t reqId, const std::string& why);
    bool reply(const std::vector<uint8_t>& msg);

    const Config m_config;
    Events* m_events;
    Sink m_sink;
    WireDecoder m_decoder;   // feeding thread only
    std::string m_problem;   // feeding thread only

    mutable std::mutex m_mutex;
    bool m_loggedIn = false;
    bool m_closed = false;
    bool m_serialOn = false;
    uint32_t m_serialTag = 0;
    uint32_t m_serialPort = 0;
    bool m_streamOn = false;
    uint32_t m_streamTag = 0;
    int32_t m_streamChannel = 0;
};

} // namespace devnet
