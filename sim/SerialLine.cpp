#include "SerialLine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace irsim {

namespace {

constexpr double kBitsPerByte = 10.0; // start bit, 8 data bits, stop bit
constexpr double kSliceNs = 1e6;      // line time carried per delivery

} // namespace

SerialLine::~SerialLine()
{
    stop();
}

void SerialLine::setBaud(int baud)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_baud = baud > 0 ? baud : 0;
}

int SerialLine::baud() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_baud;
}

void SerialLine::setTimeScale(double scale)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeScale = scale > 0 ? scale : 0;
}

void SerialLine::toCore(const uint8_t* data, size_t len, Deliver deliver)
{
    carry(m_in, data, len, std::move(deliver));
}

void SerialLine::toHost(const uint8_t* data, size_t len, Deliver deliver)
{
    carry(m_out, data, len, std::move(deliver));
}

void SerialLine::carry(Direction& d, const uint8_t* data, size_t len, Deliver deliver)
{
    if (!data || len == 0 || !deliver)
        return;
    using Clock = ReplyScheduler::Clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    const double byteNs = m_baud > 0 ? kBitsPerByte * 1e9 / m_baud * m_timeScale : 0.0;
    if (byteNs <= 0.0 && d.queued == 0) {
        lock.unlock();
        d.bytes += len;
        deliver(data, len);
        return;
    }
    // The line is busy until d.free; an idle line starts now.
    Clock::time_point at = std::max(Clock::now(), d.free);
    const size_t slice = byteNs > 0.0 ? std::max<size_t>(1, size_t(kSliceNs / byteNs)) : len;
    auto shared = std::make_shared<Deliver>(std::move(deliver));
    for (size_t done = 0; done < len;) {
        const size_t n = std::min(slice, len - done);
        at += std::chrono::nanoseconds(int64_t(std::llround(double(n) * byteNs)));
        std::vector<uint8_t> bytes(data + done, data + done + n);
        ++d.queued;
        d.timer.scheduleAt(at, [this, &d, shared, bytes = std::move(bytes)]() {
            d.bytes += bytes.size();
            (*shared)(bytes.data(), bytes.size());
            std::lock_guard<std::mutex> l(m_mutex);
            if (d.queued > 0)
                --d.queued;
        });
        done += n;
    }
    d.free = at;
}

void SerialLine::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_in.queued = m_out.queued = 0;
        m_in.free = m_out.free = {};
    }
    // Not under m_mutex: a delivery in progress may be sending the other way.
    m_in.timer.stop();
    m_out.timer.stop();
}

} // namespace irsim
