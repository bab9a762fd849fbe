// Arbitrary bytes as core replies: the parsing rules over buffers of the real sizes,
// then the read transactions over a link that serves the bytes as reply chunks.
#include "CDevice.h"
#include "CFramePacker.h"
#include "CInterfaceConnect.h"
#include "CReplyParser.h"
#include "DataExchange.h"
#include "Pace.h"
#include "ReplyScanner.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

volatile unsigned g_sink;

// Reads every byte of [p, p + n) so that the sanitizer sees any range outside a buffer.
void touch(const unsigned char* p, int n)
{
    unsigned s = 0;
    for (int i = 0; i < n; ++i)
        s += p[i];
    g_sink = s;
}

// Serves the input as a sequence of chunks: a length byte, then that many bytes; a
// length of 0 is a poll that finds nothing. Serial or mailbox behaviour, optionally
// reporting a count larger than the buffer (the network link reports the chunk size).
class ChunkLink : public CInterfaceConnect {
public:
    ChunkLink(const uint8_t* data, size_t size, bool mailbox, bool inflate)
        : m_data(data), m_size(size), m_mailbox(mailbox), m_inflate(inflate) {}

    bool Write(const void* data, int len) override
    {
        touch(static_cast<const unsigned char*>(data), len);
        return true;
    }

    bool Read(unsigned char* buf, int len, int* count) override
    {
        int n = 0;
        const uint8_t* chunk = nullptr;
        if (m_pos < m_size) {
            const size_t want = m_data[m_pos++];
            n = int(std::min(want, m_size - m_pos));
            chunk = m_data + m_pos;
            m_pos += size_t(n);
        }
        if (n == 0) {
            if (count && !m_mailbox)
                *count = 0;
            return !m_mailbox;
        }
        const int copied = std::min(n, len);
        std::memcpy(buf, chunk, size_t(copied));
        if (count)
            *count = m_mailbox ? (m_inflate ? n + 300 : n) : copied;
        return true;
    }

    void Close() override {}

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_mailbox;
    bool m_inflate;
};

void parseRules(const uint8_t* data, size_t size, int bufSize, int received)
{
    std::unique_ptr<unsigned char[]> buf(new unsigned char[size_t(bufSize)]);
    std::memset(buf.get(), 0, size_t(bufSize));
    std::memcpy(buf.get(), data, std::min<size_t>(size, size_t(bufSize)));
    uint64_t v = 0;
    CReplyParser::parseValueIn(buf.get(), bufSize, &v);
    const int off = CReplyParser::payloadOffset(buf.get(), bufSize);
    const int n = CReplyParser::payloadLength(buf.get(), bufSize);
    if (off >= 0)
        touch(buf.get() + off, n);
    int len = 0;
    if (const unsigned char* p = CReplyParser::longPayloadIn(buf.get(), bufSize, received, &len))
        touch(p, len);
}

// The scanner over the bytes cut into chunks by the bytes themselves: whatever it
// takes must pass its own checks again and be exactly one whole frame.
void scan(const uint8_t* data, size_t size, uint8_t mode)
{
    ReplyExpect e;
    e.acceptRegister = !(mode & 0x10);
    e.acceptBlock = !(mode & 0x20);
    e.echo = (mode & 0x40) ? int(mode) : -1;
    e.minPayload = mode & 1;
    ReplyScanner s(e);
    size_t pos = 0;
    while (pos < size) {
        const size_t n = std::min<size_t>(size_t(data[pos] % 64) + 1, size - pos);
        s.append(data + pos, int(n));
        pos += n;
        std::vector<uint8_t> reply;
        while (s.take(&reply)) {
            if (reply.size() < 2 || reply.size() != size_t(reply[1]) + 4
                || ReplyScanner::check(reply.data(), reply.size(), e, nullptr) != 1)
                __builtin_trap();
            touch(reply.data(), int(reply.size()));
        }
        for (const ReplyScanner::Dropped& d : s.takeDropped())
            touch(d.bytes.data(), int(d.bytes.size()));
        if (s.pending() > ReplyScanner::kMaxPending)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        Pace::setScale(0);
        DataExchange::setPollIntervalMs(0);
        return true;
    }();
    (void)ready;
    if (size < 3)
        return 0;
    const uint8_t mode = data[0];
    const int cap = data[1] % 40; // small capacities make every clamp matter
    int16_t rawReceived;
    std::memcpy(&rawReceived, data + 1, 2);
    const uint8_t* body = data + 3;
    const size_t bodySize = size - 3;

    scan(body, bodySize, mode);
    DataExchange::setPacing((mode & 0x40) ? DataExchange::Pacing::Reply : DataExchange::Pacing::Fixed);
    for (int bufSize : {CReplyParser::kShortSize, CReplyParser::kLongSize}) {
        parseRules(body, bodySize, bufSize, rawReceived);
        parseRules(body, bodySize, bufSize, int(bodySize));
    }
    {
        std::unique_ptr<unsigned char[]> out(new unsigned char[size_t(cap) + 1]);
        hexTextToBytes(QString::fromLatin1(reinterpret_cast<const char*>(body), int(std::min<size_t>(bodySize, 200))),
                       out.get(), cap + 1);
    }

    ChunkLink link(body, bodySize, mode & 1, mode & 2);
    CInterfaceConnect* previous = CDevice::SetConnect(&link);
    DataExchange* dx = DataExchange::instance();
    std::unique_ptr<char[]> dst(new char[size_t(cap) + 1]);
    std::unique_ptr<char[]> full(new char[CReplyParser::kLongSize]);
    int len = 0;
    unsigned v = 0;
    unsigned long long v64 = 0;
    switch ((mode >> 2) % 7) {
    case 0: dx->readRegister(0xF0E3, &v); break;
    case 1: dx->readRegisterBytes(0xF0E3, dst.get(), cap + 1, &len); break;
    case 2: dx->readShortRegister64(0x84, &v64); break;
    case 3: dx->readShortRegisterBytes(0x84, dst.get(), cap + 1, &len); break;
    case 4: dx->readShortRegisterLong(0x01, dst.get(), cap + 1); break;
    case 5:
        if (mode & 0x80) {
            dx->readBlock(0xEA, full.get(), CReplyParser::kLongSize, &len);
            touch(reinterpret_cast<const unsigned char*>(full.get()), len);
        } else {
            dx->readBlock(0xEA, dst.get(), cap + 1, &len);
        }
        break;
    default: dx->waitAcknowledge(); break;
    }
    if (len > 0 && !(((mode >> 2) % 7) == 5 && (mode & 0x80)))
        touch(reinterpret_cast<const unsigned char*>(dst.get()), len);
    CDevice::SetConnect(previous);
    return 0;
}
