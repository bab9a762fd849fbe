#include "FrameAssembler.h"

#include "CoreFrames.h"

#include <algorithm>

namespace irsim {

void FrameAssembler::push(const uint8_t* data, size_t len)
{
    if (!data || len == 0)
        return;
    m_buf.insert(m_buf.end(), data, data + len);
    // The stale clock runs from the last byte in: on a slow line a long block frame
    // takes longer than the stale time to arrive, but its bytes keep coming.
    m_headSinceMs = -1;
    if (m_buf.size() > kMaxBuffered) {
        dropFront(m_buf.size() - kMaxBuffered);
        m_headSinceMs = -1;
    }
}

void FrameAssembler::clear()
{
    m_unframed += m_buf.size();
    m_buf.clear();
    m_headSinceMs = -1;
}

void FrameAssembler::dropFront(size_t n)
{
    n = std::min(n, m_buf.size());
    m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(n));
    m_unframed += n;
}

FrameAssembler::Head FrameAssembler::checkHead(size_t* total) const
{
    // The caller guarantees m_buf[0] is a start byte.
    size_t need = 0;
    size_t sumFrom = 0;
    size_t sumLen = 0;
    if (m_buf[0] == kRegisterStart) {
        if (m_buf.size() < 2)
            return Head::Incomplete;
        const size_t len = m_buf[1];
        if (len < 1 || len + 4 > kMaxRegisterFrame)
            return Head::Bad;
        need = len + 4;
        sumFrom = 2;
        sumLen = len;
    } else {
        if (m_buf.size() < 3)
            return Head::Incomplete;
        const size_t len = (size_t(m_buf[1]) << 8) | m_buf[2];
        if (len < 1 || len > kMaxBlockData + 1)
            return Head::Bad;
        need = len + 5;
        sumFrom = 3;
        sumLen = len;
    }
    if (m_buf.size() < need)
        return Head::Incomplete;
    if (m_buf[need - 1] != kFrameEnd)
        return Head::Bad;
    uint8_t sum = 0;
    for (size_t i = sumFrom; i < sumFrom + sumLen; ++i)
        sum = static_cast<uint8_t>(sum + m_buf[i]);
    if (sum != m_buf[sumFrom + sumLen])
        return Head::Bad;
    *total = need;
    return Head::Good;
}

bool FrameAssembler::next(std::vector<uint8_t>* frame, int64_t nowMs)
{
    for (;;) {
        size_t skip = 0;
        while (skip < m_buf.size() && m_buf[skip] != kRegisterStart && m_buf[skip] != kBlockStart)
            ++skip;
        if (skip > 0) {
            dropFront(skip);
            m_headSinceMs = -1;
        }
        if (m_buf.empty())
            return false;

        size_t total = 0;
        const Head head = checkHead(&total);
        if (head == Head::Incomplete) {
            if (m_headSinceMs < 0) {
                m_headSinceMs = nowMs;
                return false;
            }
            if (nowMs - m_headSinceMs < m_staleMs)
                return false;
            // Stale: fall through and treat it as a bad head.
        }
        if (head != Head::Good) {
            dropFront(1);
            m_headSinceMs = -1;
            continue;
        }
        if (frame)
            frame->assign(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(total));
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(total));
        m_headSinceMs = -1;
        return true;
    }
}

} // namespace irsim
