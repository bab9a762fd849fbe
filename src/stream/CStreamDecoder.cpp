#include "CStreamDecoder.h"

#include "CFindFrame.h"
#include "CVideoRender.h"
#include "Pace.h"

#include <algorithm>
#include <chrono>

CStreamDecoder::CStreamDecoder(CFindFrame* frames, CVideoRender* render)
    : m_frames(frames)
    , m_render(render)
{
}

CStreamDecoder::~CStreamDecoder()
{
    Stop();
}

void CStreamDecoder::Start()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_running || !m_frames)
        return;
    if (m_thread.joinable())
        m_thread.join(); // a thread that Stop already ended
    m_stop = false;
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

void CStreamDecoder::Stop()
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_running = false;
        m_queue.clear();
        m_queuedBytes = 0;
        finished = std::move(m_thread);
    }
    m_wake.notify_all();
    if (finished.joinable())
        finished.join();
}

bool CStreamDecoder::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running;
}

bool CStreamDecoder::Push(const uint8_t* data, int len)
{
    if (!data || len <= 0)
        return true;
    const size_t n = size_t(len);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_running)
            return true; // nobody decodes: the chunk is not wanted
        bool dropped = false;
        if (n > m_maxBytes) {
            // Larger than the whole queue: only this one goes.
            ++m_counts.droppedChunks;
            m_counts.droppedBytes += n;
            m_gap = true;
            return false;
        }
        while (!m_queue.empty() && (m_queuedBytes + n > m_maxBytes || m_queue.size() + 1 > m_maxChunks)) {
            m_queuedBytes -= m_queue.front().size();
            m_counts.droppedBytes += m_queue.front().size();
            ++m_counts.droppedChunks;
            m_queue.pop_front();
            dropped = true;
        }
        if (dropped)
            m_gap = true;
        m_queue.emplace_back(data, data + n);
        m_queuedBytes += n;
        ++m_counts.queuedChunks;
        if (dropped) {
            m_wake.notify_one();
            return false;
        }
    }
    m_wake.notify_one();
    return true;
}

void CStreamDecoder::SetQueueLimit(size_t bytes, size_t chunks)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_maxBytes = std::max<size_t>(bytes, 1);
    m_maxChunks = std::max<size_t>(chunks, 1);
}

StreamQueueCounts CStreamDecoder::Counts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_counts;
}

size_t CStreamDecoder::PendingChunks() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.size();
}

uint64_t CStreamDecoder::DecodedChunks() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_decoded;
}

void CStreamDecoder::SetFrameDelayMs(double ms)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_frameDelayMs = std::max(ms, 0.0);
    }
    m_wake.notify_all();
}

void CStreamDecoder::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        std::vector<uint8_t> chunk = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= chunk.size();
        const bool gap = m_gap;
        m_gap = false;
        lock.unlock();

        if (gap)
            m_frames->DropPartialPacket(); // its rest was in a dropped chunk
        const quint64 before = m_frames->FrameCount();
        if (m_frames->InputData(chunk.data(), int(chunk.size())) && m_render) {
            // Only a new frame is converted: the picture of the last one is unchanged.
            CVideoRender* render = m_render;
            m_frames->ReadFrame([render](const uint16_t* frame, int w, int h) { render->ShowFrame(frame, w, h - 2); });
        }
        const quint64 frames = m_frames->FrameCount() - before;

        lock.lock();
        ++m_decoded;
        if (frames > 0 && m_frameDelayMs > 0) {
            const auto wait = std::chrono::duration<double, std::milli>(Pace::scaledMs(m_frameDelayMs * double(frames)));
            const auto until = std::chrono::steady_clock::now()
                + std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait);
            m_wake.wait_until(lock, until, [this] { return m_stop || m_frameDelayMs <= 0; });
        }
    }
}
