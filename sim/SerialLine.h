#pragma once

#include "ReplyScheduler.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace irsim {

// The core's serial line (8N1: 10 bits a byte), in both directions. With a baud rate
// set, a byte is delivered no earlier than the previous one on the same direction
// finished plus 10 / baud seconds (times the camera's time scale), so back-to-back
// bytes are paced and an idle line saves nothing up. Bytes go on in slices of about
// a millisecond of line time, each at the time its last byte is through, on a timer
// thread per direction. Without a rate (or at time scale 0) bytes pass at once on
// the caller's thread, unless earlier ones are still on their way. Thread-safe.
class SerialLine {
public:
    using Deliver = std::function<void(const uint8_t* data, size_t len)>;

    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // 0: no line limit.
    void setBaud(int baud);
    int baud() const;
    void setTimeScale(double scale);

    // Host -> core and core -> host. `deliver` gets the bytes (copied) in order.
    void toCore(const uint8_t* data, size_t len, Deliver deliver);
    void toHost(const uint8_t* data, size_t len, Deliver deliver);

    // Bytes that crossed the line so far, each way.
    uint64_t bytesFromHost() const { return m_in.bytes.load(); }
    uint64_t bytesToHost() const { return m_out.bytes.load(); }

    // Drops whatever is still on its way (front shutting down).
    void stop();

private:
    struct Direction {
        ReplyScheduler::Clock::time_point free{}; // when the last queued byte is through
        size_t queued = 0;                         // slices not yet delivered
        std::atomic<uint64_t> bytes{0};
        ReplyScheduler timer;
    };
    void carry(Direction& d, const uint8_t* data, size_t len, Deliver deliver);

    mutable std::mutex m_mutex;
    int m_baud = 0;
    double m_timeScale = 1.0;
    Direction m_in;
    Direction m_out;
};

} // namespace irsim
