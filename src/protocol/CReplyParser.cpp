#include "CReplyParser.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned char kRegStart = 0xF0;
constexpr unsigned char kBlockStart = 0xF1;
// Checksum and terminator follow the payload of a complete reply.
constexpr int kTrailer = 2;
} // namespace

CReplyParser* CReplyParser::instance()
{
    static CReplyParser parser;
    return &parser;
}

CReplyParser::CReplyParser()
{
    clearShort();
    clearLong();
}

unsigned char* CReplyParser::shortReplyBuffer()
{
    return m_short;
}

unsigned char* CReplyParser::longReplyBuffer()
{
    return m_long;
}

void CReplyParser::clearShort()
{
    std::memset(m_short, 0, sizeof(m_short));
}

void CReplyParser::clearLong()
{
    std::memset(m_long, 0, sizeof(m_long));
}

bool CReplyParser::parseValue(uint32_t* value) const
{
    uint64_t v = 0;
    const bool ok = parseValueIn(m_short, kShortSize, &v);
    if (value)
        *value = static_cast<uint32_t>(v);
    return ok;
}

bool CReplyParser::parseValue64(uint64_t* value) const
{
    uint64_t v = 0;
    const bool ok = parseValueIn(m_short, kShortSize, &v);
    if (value)
        *value = v;
    return ok;
}

bool CReplyParser::copyPayload(unsigned char* dst, int cap, int* len) const
{
    if (len)
        *len = 0;
    const int off = payloadOffset(m_short, kShortSize);
    if (!dst || off < 0)
        return false;
    const int n = std::min(payloadLength(m_short, kShortSize), std::max(cap, 0));
    if (n > 0)
        std::memcpy(dst, m_short + off, static_cast<size_t>(n));
    if (len)
        *len = n;
    return true;
}

const unsigned char* CReplyParser::longPayload(int* len, int received) const
{
    return longPayloadIn(m_long, kLongSize, received, len);
}

int CReplyParser::payloadOffset(const unsigned char* buf, int size)
{
    if (!buf || size < 2)
        return -1;
    if (buf[0] == kRegStart)
        return 5;
    if (buf[0] == kBlockStart)
        return 3;
    return -1;
}

int CReplyParser::payloadLength(const unsigned char* buf, int size)
{
    const int off = payloadOffset(buf, size);
    if (off < 0)
        return 0;
    const int declared = (buf[0] == kRegStart) ? buf[1] - 3 : buf[1] - 1;
    // Only what a complete reply could hold inside this buffer is payload; a LEN byte
    // that claims more (or less than nothing) cannot move the reads.
    const int room = size - off - kTrailer;
    return std::max(0, std::min(declared, room));
}

bool CReplyParser::parseValueIn(const unsigned char* buf, int size, uint64_t* value)
{
    if (value)
        *value = 0;
    const int off = payloadOffset(buf, size);
    if (off < 0)
        return false;
    const int k = payloadLength(buf, size);
    // Big-endian accumulation; bytes beyond 64 bits shift out, as in any fixed width.
    uint64_t v = 0;
    for (int i = 0; i < k; ++i)
        v = (v << 8) | buf[off + i];
    if (value)
        *value = v;
    return true;
}

const unsigned char* CReplyParser::longPayloadIn(const unsigned char* buf, int size, int received, int* len)
{
    if (len)
        *len = 0;
    if (!buf || size < 2)
        return nullptr;
    received = std::max(received, 0);
    const int L = buf[1];
    int off = 0;
    int n = 0;
    if (buf[0] == kRegStart) {
        off = 5;
        n = L - 3;
    } else if (buf[0] == kBlockStart) {
        off = 3;
        n = L - 1;
        if (received < L + 4) // only part of the reply arrived
            n = received - 3;
    } else {
        off = 0;
        n = received - 2;
    }
    if (n < 0 || off > size)
        return nullptr;
    n = std::min(n, size - off);
    if (len)
        *len = n;
    return buf + off;
}
