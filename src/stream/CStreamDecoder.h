#pragma once

#include "IFrameSource.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CFindFrame;
class CVideoRender;

// The stream's decoding thread. The link's reader only copies each chunk into a
// bounded queue (Push); this thread takes them in order through the frame buffer
// (frame search, CRC, add-info) and hands each new frame to the render wrapper. When
// the queue is full the oldest whole chunks go (counted): what is shown and captured
// stays close to what the camera sees now, and the frame buffer drops its partial
// packet at the gap and resynchronises on the next header.
class CStreamDecoder {
public:
    // About six 640 x 512 frames.
    static constexpr size_t kDefaultQueueBytes = 4u << 20;
    static constexpr size_t kDefaultQueueChunks = 2048;

    // Neither is owned; both must outlive the decoder. `render` may be null.
    CStreamDecoder(CFindFrame* frames, CVideoRender* render);
    ~CStreamDecoder();
    CStreamDecoder(const CStreamDecoder&) = delete;
    CStreamDecoder& operator=(const CStreamDecoder&) = delete;

    // Starts the thread (again after Stop); nothing when it runs.
    void Start();
    // Ends the thread and joins it: the chunk being decoded is finished, the rest of
    // the queue is discarded (not counted as dropped). Safe to call twice.
    void Stop();
    bool IsRunning() const;

    // Reader thread: copies the chunk into the queue. False when it, or older chunks
    // to make room for it, had to be dropped.
    bool Push(const uint8_t* data, int len);

    void SetQueueLimit(size_t bytes, size_t chunks);
    StreamQueueCounts Counts() const;
    // Chunks waiting and chunks the thread has finished with.
    size_t PendingChunks() const;
    uint64_t DecodedChunks() const;

    // Test and benchmark hook: each decoded frame costs this much more (nominal ms,
    // through Pace's scale); Stop cuts the wait short. 0 turns it off.
    void SetFrameDelayMs(double ms);

private:
    void run();

    CFindFrame* const m_frames;
    CVideoRender* const m_render;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::vector<uint8_t>> m_queue;
    size_t m_queuedBytes = 0;
    size_t m_maxBytes = kDefaultQueueBytes;
    size_t m_maxChunks = kDefaultQueueChunks;
    bool m_gap = false; // chunks were dropped before the queue's first
    bool m_stop = false;
    bool m_running = false;
    double m_frameDelayMs = 0;
    StreamQueueCounts m_counts;
    uint64_t m_decoded = 0;
    std::thread m_thread;
};
