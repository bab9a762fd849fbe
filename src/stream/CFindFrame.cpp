#include "CFindFrame.h"

#include "Pace.h"
#include "PixelMath.h"
#include "StreamPacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace sp = streampacket;

static_assert(CFindFrame::kBufferBytes == sp::kBufferBytes, "one buffer size");

namespace {

// Start of the next possible header at or after `from` (the first magic's low byte).
const uint8_t* findMagic(const uint8_t* from, const uint8_t* last)
{
    while (from <= last) {
        const void* hit = std::memchr(from, 0x78, size_t(last - from) + 1);
        if (!hit)
            return nullptr;
        const uint8_t* p = static_cast<const uint8_t*>(hit);
        if (sp::isMagicAt(p))
            return p;
        from = p + 1;
    }
    return nullptr;
}

} // namespace

CFindFrame::CFindFrame(QObject* parent)
    : QObject(parent)
{
}

CFindFrame::~CFindFrame()
{
    CancelCapture();
}

void CFindFrame::SetLayoutProvider(LayoutProvider provider)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_layoutProvider = std::move(provider);
}

void CFindFrame::SetAddInfoSink(AddInfoSink sink)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_addInfoSink = std::move(sink);
}

AddInfoLayout CFindFrame::layout(int frameW, int frameH) const
{
    AddInfoLayout l = m_layoutProvider ? m_layoutProvider() : AddInfoLayout();
    if (l.coreWidth <= 0 || l.coreHeight <= 0) {
        // Core geometry unknown: the trailer sits at the end of the stream's frame.
        l.coreWidth = frameW;
        l.coreHeight = frameH;
    }
    return l;
}

bool CFindFrame::InputData(const uint8_t* data, int len)
{
    if (!data || len <= 0)
        return false;
    if (!m_recv) {
        m_recv.reset(new (std::nothrow) uint8_t[kBufferBytes]);
        if (!m_recv)
            return false;
    }
    if (m_used + size_t(len) > size_t(kBufferBytes)) {
        // No packet can be this long: start over and resynchronise on the next header.
        m_head = 0;
        m_used = 0;
        std::lock_guard<std::mutex> lock(m_frameLock);
        ++m_counters.overflowClears;
        return false;
    }
    if (m_head + m_used + size_t(len) > size_t(kBufferBytes)) {
        std::memmove(m_recv.get(), m_recv.get() + m_head, m_used);
        m_head = 0;
    }
    std::memcpy(m_recv.get() + m_head + m_used, data, size_t(len));
    m_used += size_t(len);
    // Every complete packet is taken now: a chunk carrying several must not leave a
    // backlog that grows until the buffer overflows and everything in it is lost.
    bool found = false;
    for (;;) {
        const Step step = frameStep();
        if (step == Step::Frame)
            found = true;
        else if (step == Step::None)
            break;
    }
    return found;
}

void CFindFrame::DropPartialPacket()
{
    m_head = 0;
    m_used = 0;
}

void CFindFrame::discard(size_t n)
{
    n = std::min(n, m_used);
    m_head += n;
    m_used -= n;
    if (m_used == 0)
        m_head = 0;
}

CFindFrame::Step CFindFrame::frameStep()
{
    // The search runs whenever a header can be in the buffer, not only once a packet of
    // the last geometry could be: the first frame of a smaller geometry is taken as
    // soon as it is complete instead of waiting for more data.
    if (m_used < size_t(sp::kHeaderBytes))
        return Step::None;
    const uint8_t* buf = m_recv.get() + m_head;
    const uint8_t* last = buf + (m_used - sp::kHeaderBytes);
    const uint8_t* header = nullptr;
    for (const uint8_t* p = buf; (p = findMagic(p, last)) != nullptr; ++p) {
        const sp::HeaderInfo info = sp::parseHeader(p);
        const uint32_t w = info.hasGeometry ? info.width : m_width;
        const uint32_t h = info.hasGeometry ? info.height : m_height;
        if (!sp::validGeometry(w, h)) {
            // Untrusted geometry that no buffer can hold: not a header we can use.
            std::lock_guard<std::mutex> lock(m_frameLock);
            ++m_counters.geometryDrops;
            continue;
        }
        m_width = w;
        m_height = h;
        if (info.hasCrc) {
            m_crcPresent = true;
            m_expectedCrc = info.crc;
        }
        header = p;
        break;
    }
    if (!header) {
        // Keep the last 55 bytes: a header may begin there.
        discard(m_used - (sp::kHeaderBytes - 1));
        return Step::None;
    }
    const size_t offset = size_t(header - buf);
    const size_t dataBytes = size_t(m_width) * m_height * 2;
    if (m_used - offset - sp::kHeaderBytes < dataBytes) {
        discard(offset); // wait for the rest of the packet
        return Step::None;
    }
    const uint8_t* data = header + sp::kHeaderBytes;
    if (m_crcPresent && sp::crcTagValue(data, dataBytes) != m_expectedCrc) {
        discard(offset + sp::kHeaderBytes + dataBytes);
        std::lock_guard<std::mutex> lock(m_frameLock);
        ++m_counters.crcDrops;
        return Step::Dropped;
    }
    const bool accepted = acceptFrame(data);
    // The frame is copied out: its bytes can go at once, so they are never searched
    // again (info rows may hold anything, a magic included).
    discard(offset + sp::kHeaderBytes + dataBytes);
    return accepted ? Step::Frame : Step::Dropped;
}

bool CFindFrame::acceptFrame(const uint8_t* data)
{
    const int w = int(m_width);
    const int h = int(m_height);
    const size_t words = size_t(w) * size_t(h);
    FrameAddInfo info;
    AddInfoSink sink;
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        if (!m_frame) {
            m_frame.reset(new (std::nothrow) uint16_t[kBufferBytes / 2]);
            if (!m_frame)
                return false;
            std::memset(m_frame.get(), 0, kBufferBytes);
        }
        const size_t oldWords = size_t(m_frameW) * size_t(m_frameH);
        std::memcpy(m_frame.get(), data, words * 2);
        if (oldWords > words) // a smaller frame leaves nothing of the bigger one behind
            std::memset(m_frame.get() + words, 0, (oldWords - words) * 2);
        m_frameW = w;
        m_frameH = h;
        ++m_frameSeq;
        ++m_counters.frames;

        const size_t infoRow = size_t(w) * size_t(h - sp::kInfoRows);
        const size_t blockBytes = std::min<size_t>(kAddInfoBytes, (words - infoRow) * 2);
        std::memset(m_latestBlock, 0, kAddInfoBytes);
        std::memcpy(m_latestBlock, m_frame.get() + infoRow, blockBytes);

        if (m_capturing) {
            const int rows = h - sp::kInfoRows;
            if (m_store.Count() > 0 && (m_capturedW != w || m_capturedH != rows))
                m_store.Clear(); // another frame size mid-run: the run starts over
            if (m_store.Append(m_frame.get(), infoRow)) {
                m_capturedW = w;
                m_capturedH = rows;
            }
            if (m_store.Count() >= m_captureTarget) {
                std::memcpy(m_captureEndBlock, m_latestBlock, kAddInfoBytes);
                m_captureEndFrame.assign(m_frame.get(), m_frame.get() + words);
                m_captureEndW = w;
                m_captureEndH = h;
                m_capturing = false;
            }
        }
        info = decodeFrameAddInfo(layout(w, h), m_frame.get(), words, m_latestBlock);
        sink = m_addInfoSink;
    }
    if (sink)
        sink(info);
    return true;
}

bool CFindFrame::GetFrame(std::vector<uint16_t>* image, int* width, int* height, quint64* seq) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (!m_frame || m_frameSeq == 0)
        return false;
    const int rows = m_frameH - sp::kInfoRows;
    if (image)
        image->assign(m_frame.get(), m_frame.get() + size_t(m_frameW) * size_t(rows));
    if (width)
        *width = m_frameW;
    if (height)
        *height = rows;
    if (seq)
        *seq = m_frameSeq;
    return true;
}

bool CFindFrame::ReadFrame(const FrameView& view) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (!m_frame || m_frameSeq == 0 || !view)
        return false;
    view(m_frame.get(), m_frameW, m_frameH);
    return true;
}

bool CFindFrame::GetPixel(int x, int y, uint16_t* value) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (!m_frame || m_frameSeq == 0 || x < 0 || y < 0 || x >= m_frameW || y >= m_frameH - sp::kInfoRows)
        return false;
    if (value)
        *value = m_frame[size_t(y) * size_t(m_frameW) + size_t(x)];
    return true;
}

bool CFindFrame::HasFrame() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_frameSeq > 0;
}

bool CFindFrame::ImageMean(double* mean) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_frame && m_frameSeq > 0 && pixelmath::frameMean(m_frame.get(), size_t(m_frameW) * size_t(m_frameH), m_frameW, m_frameH - sp::kInfoRows, mean);
}

QSize CFindFrame::FrameSize() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_frameSeq > 0 ? QSize(m_frameW, m_frameH - sp::kInfoRows) : QSize();
}

quint64 CFindFrame::FrameCount() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_frameSeq;
}

bool CFindFrame::StartCapture(int n)
{
    if (n < 1 || n > kMaxCapture)
        return false;
    std::lock_guard<std::mutex> one(m_captureCall);
    m_cancelCapture = false;
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_captureTarget = n;
        m_store.Clear();
        m_capturing = true;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastProgress = Clock::now();
    int lastCount = 0;
    for (;;) {
        int count;
        bool capturing;
        {
            std::lock_guard<std::mutex> lock(m_frameLock);
            count = m_store.Count();
            capturing = m_capturing;
        }
        if (!capturing && count >= n)
            return true;
        const Clock::time_point now = Clock::now();
        if (count != lastCount) {
            lastCount = count;
            lastProgress = now;
        }
        const bool stalled = now - lastProgress > std::chrono::milliseconds(m_stallMs.load());
        if (stalled || m_cancelCapture.load()) {
            std::lock_guard<std::mutex> lock(m_frameLock);
            m_capturing = false;
            return false;
        }
        Pace::sleepMs(100);
    }
}

void CFindFrame::CancelCapture()
{
    m_cancelCapture = true;
}

void CFindFrame::SetCaptureStallMs(int ms)
{
    m_stallMs = std::max(ms, 1);
}

bool CFindFrame::GetCapturedFrames(std::vector<std::vector<uint16_t>>* frames, int* width, int* height) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (m_store.Count() == 0)
        return false;
    if (frames) {
        frames->clear();
        frames->reserve(size_t(m_store.Count()));
        for (int i = 0; i < m_store.Count(); ++i)
            frames->emplace_back(m_store.Frame(i), m_store.Frame(i) + m_store.ImageWords());
    }
    if (width)
        *width = m_capturedW;
    if (height)
        *height = m_capturedH;
    return true;
}

int CFindFrame::CapturedCount() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_store.Count();
}

bool CFindFrame::GetFrameAddInfoEx(FrameAddInfo* info, int which) const
{
    if (!info || which == 2)
        return false;
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (which == 1) {
        if (m_captureEndFrame.empty())
            return false;
        *info = decodeFrameAddInfo(layout(m_captureEndW, m_captureEndH), m_captureEndFrame.data(),
                                   m_captureEndFrame.size(), m_captureEndBlock);
        return true;
    }
    if (m_frameSeq == 0)
        return false;
    *info = decodeFrameAddInfo(layout(m_frameW, m_frameH), m_frame.get(), size_t(m_frameW) * size_t(m_frameH),
                               m_latestBlock);
    return true;
}

bool CFindFrame::GetWholeFrame(std::vector<uint16_t>* frame, int* width, int* height, FrameAddInfo* info,
                               quint64* seq) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (!m_frame || m_frameSeq == 0)
        return false;
    const size_t words = size_t(m_frameW) * size_t(m_frameH);
    if (frame)
        frame->assign(m_frame.get(), m_frame.get() + words);
    if (info)
        *info = decodeFrameAddInfo(layout(m_frameW, m_frameH), m_frame.get(), words, m_latestBlock);
    if (width)
        *width = m_frameW;
    if (height)
        *height = m_frameH;
    if (seq)
        *seq = m_frameSeq;
    return true;
}

bool CFindFrame::GetAddInfoBlock(uint8_t block[kAddInfoBytes]) const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (m_frameSeq == 0 || !block)
        return false;
    std::memcpy(block, m_latestBlock, kAddInfoBytes);
    return true;
}

void CFindFrame::SetCrossPoint(const QPoint& point)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_cross = point;
}

QPoint CFindFrame::CrossPoint() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_cross;
}

bool CFindFrame::AccumulateCross(int sums[25], int* maxIndex, int* minIndex) const
{
    if (!sums)
        return false;
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (!m_frame || m_frameSeq == 0)
        return false;
    // The core counts its cursor from 1.
    const int x = m_cross.x() > 0 ? m_cross.x() - 1 : m_cross.x();
    const int y = m_cross.y() > 0 ? m_cross.y() - 1 : m_cross.y();
    return pixelmath::accumulateWindow(m_frame.get(), size_t(m_frameW) * size_t(m_frameH), m_frameW,
                                       m_frameH - sp::kInfoRows, x, y, sums, maxIndex, minIndex);
}

void CFindFrame::SetRecording(bool bRecording)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_recording = bRecording;
}

bool CFindFrame::IsRecording() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_recording;
}

void CFindFrame::SetRecordInterval(int nMs)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_recordIntervalMs = nMs;
}

int CFindFrame::RecordInterval() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_recordIntervalMs;
}

void CFindFrame::SetRecordFiles(QIODevice* pRaw, QIODevice* pText)
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_recordRaw = pRaw;
    m_recordText = pText;
}

QIODevice* CFindFrame::RecordRawFile() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_recordRaw;
}

QIODevice* CFindFrame::RecordTextFile() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_recordText;
}

CFindFrame::Counters CFindFrame::counters() const
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    return m_counters;
}
