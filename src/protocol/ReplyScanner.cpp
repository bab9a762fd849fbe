#include "ReplyScanner.h"

#include <algorithm>

ReplyScanner::ReplyScanner(Expect expect)
    : m_expect(expect)
{
}

void ReplyScanner::append(const uint8_t* data, int len)
{
    if (!data || len <= 0)
        return;
    m_buf.insert(m_buf.end(), data, data + len);
    if (m_buf.size() > kMaxPending) {
        const size_t cut = m_buf.size() - kMaxPending;
        m_buf.erase(m_buf.begin(), m_buf.begin() + long(cut));
        m_reported = m_reported > cut ? m_reported - cut : 0;
    }
}

int ReplyScanner::check(const uint8_t* buf, size_t size, const Expect& expect, QString* reason)
{
    auto bad = [reason](const char* why) {
        if (reason)
            *reason = QString::fromUtf8(why);
        return -1;
    };
    if (size < 1)
        return 0;
    const bool reg = buf[0] == kRegisterStart;
    if (!(reg && expect.acceptRegister) && !(buf[0] == kBlockStart && expect.acceptBlock))
        return bad("起始字节不符");
    if (size < 2)
        return 0;
    const size_t len = buf[1];
    // A register reply carries class, address and operation before its value; a block
    // reply at least its command byte.
    if ((reg && len < 3) || len < 1)
        return bad("长度错误");
    // The echo can be judged before the rest arrives: a reply for another address
    // never becomes this one's.
    if (reg && expect.echo >= 0 && size >= 4 && buf[3] != uint8_t(expect.echo))
        return bad("应答地址与请求不符");
    if (size < len + 4)
        return 0;
    uint8_t sum = 0;
    for (size_t i = 2; i < len + 2; ++i)
        sum = uint8_t(sum + buf[i]);
    if (sum != buf[len + 2])
        return bad("校验和错误");
    if (buf[len + 3] != kEnd)
        return bad("结束符错误");
    if (int(len) - (reg ? 3 : 1) < expect.minPayload)
        return bad("应答无数据");
    return 1;
}

bool ReplyScanner::take(std::vector<uint8_t>* reply)
{
    const uint8_t* b = m_buf.data();
    const size_t n = m_buf.size();
    size_t keepFrom = n; // first byte that may still start a reply
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != kRegisterStart && b[i] != kBlockStart)
            continue; // noise
        QString reason;
        const int r = check(b + i, n - i, m_expect, &reason);
        if (r == 0) {
            // Not whole yet. A whole reply behind it still counts: this start byte may
            // be noise that only looks like the head of a longer frame.
            keepFrom = std::min(keepFrom, i);
            continue;
        }
        if (r < 0) {
            if (i < m_reported)
                continue; // told already on an earlier look
            const size_t whole = (n - i >= 2) ? std::min<size_t>(size_t(b[i + 1]) + 4, n - i) : n - i;
            m_dropped.push_back({std::vector<uint8_t>(b + i, b + i + whole), reason});
            continue;
        }
        const size_t whole = size_t(b[i + 1]) + 4;
        if (reply)
            reply->assign(b + i, b + i + whole);
        m_buf.erase(m_buf.begin(), m_buf.begin() + long(i + whole));
        m_reported = 0;
        return true;
    }
    m_buf.erase(m_buf.begin(), m_buf.begin() + long(keepFrom));
    m_reported = n - keepFrom;
    return false;
}

std::vector<ReplyScanner::Dropped> ReplyScanner::takeDropped()
{
    std::vector<Dropped> out;
    out.swap(m_dropped);
    return out;
}
