#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace irsim {

// Cuts one peer's byte stream into request frames. Bytes arrive in arbitrary pieces
// (a pty delivers whatever the line discipline has, the host pads short requests with
// zeros), so the assembler scans for a start byte, waits until the frame's length is
// in, checks checksum and terminator and otherwise drops the start byte and rescans.
class FrameAssembler {
public:
    // Bound of buffered bytes; the oldest are dropped beyond it.
    static constexpr size_t kMaxBuffered = 8192;
    // A frame head that stays incomplete this long without a new byte is taken for
    // noise (a stray start byte would otherwise hold back every later request until
    // its length arrived).
    static constexpr int64_t kDefaultStaleMs = 1000;

    void push(const uint8_t* data, size_t len);
    // Takes the next complete frame out of the buffer. nowMs is a monotonic clock
    // reading used for the stale-head rule.
    bool next(std::vector<uint8_t>* frame, int64_t nowMs);
    void clear();

    size_t buffered() const { return m_buf.size(); }
    // Bytes that were not part of any accepted frame (padding, noise, bad frames).
    uint64_t unframedBytes() const { return m_unframed; }
    void setStaleMs(int64_t ms) { m_staleMs = ms; }

private:
    enum class Head { Incomplete, Bad, Good };
    Head checkHead(size_t* total) const;
    void dropFront(size_t n);

    std::deque<uint8_t> m_buf;
    uint64_t m_unframed = 0;
    int64_t m_staleMs = kDefaultStaleMs;
    int64_t m_headSinceMs = -1; // since when the incomplete head has had no new byte
};

} // namespace irsim
