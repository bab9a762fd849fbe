#include "DevnetWire.h"

#include <algorithm>
#include <cstring>

namespace devnet {

namespace {

void putU32(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

void putStr(std::vector<uint8_t>& v, const std::string& s, size_t maxLen)
{
    const size_t n = std::min(s.size(), maxLen);
    v.push_back(uint8_t(n >> 8));
    v.push_back(uint8_t(n));
    v.insert(v.end(), s.begin(), s.begin() + long(n));
}

uint32_t getU32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Reads fields off a payload; any read past the end marks the whole parse bad.
class Reader {
public:
    explicit Reader(const Message& m) : m_p(m.payload.data()), m_n(m.payload.size()) {}
    uint32_t u32()
    {
        if (!need(4))
            return 0;
        const uint32_t v = getU32(m_p + m_at);
        m_at += 4;
        return v;
    }
    std::string str(size_t maxLen)
    {
        if (!need(2))
            return {};
        const size_t n = (size_t(m_p[m_at]) << 8) | m_p[m_at + 1];
        m_at += 2;
        if (n > maxLen || !need(n)) {
            m_ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(m_p + m_at), n);
        m_at += n;
        return s;
    }
    const uint8_t* bytes(size_t n)
    {
        if (!need(n))
            return nullptr;
        const uint8_t* p = m_p + m_at;
        m_at += n;
        return p;
    }
    const uint8_t* rest(size_t* n)
    {
        *n = m_n - m_at;
        const uint8_t* p = m_p + m_at;
        m_at = m_n;
        return p;
    }
    // True when every read fitted and nothing is left over.
    bool done() const { return m_ok && m_at == m_n; }

private:
    bool need(size_t n)
    {
        if (!m_ok || m_n - m_at < n) {
            m_ok = false;
            return false;
        }
        return true;
    }
    const uint8_t* m_p;
    size_t m_n;
    size_t m_at = 0;
    bool m_ok = true;
};

std::vector<uint8_t> finish(uint8_t type, std::vector<uint8_t> payload)
{
    return encodeMessage(type, payload.data(), payload.size());
}

// The four 32-bit fields at the start of the preview request travel big-endian; the
// rest of the request is carried byte for byte.
constexpr size_t kPreviewWords = 4;

} // namespace

uint32_t payloadLimit(uint8_t type)
{
    return (type == MsgSerialData || type == MsgStreamData) ? kMaxDataPayload : kMaxControlPayload;
}

std::vector<uint8_t> encodeMessage(uint8_t type, const uint8_t* payload, size_t len)
{
    std::vector<uint8_t> v;
    v.reserve(kHeaderSize + len);
    v.insert(v.end(), kMagic, kMagic + 4);
    v.push_back(kVersion);
    v.push_back(type);
    v.push_back(0);
    v.push_back(0);
    putU32(v, uint32_t(len));
    if (len)
        v.insert(v.end(), payload, payload + len);
    return v;
}

std::vector<uint8_t> encodeLogin(uint32_t reqId, const std::string& user, const std::string& password)
{
    std::vector<uint8_t> p;
    putU32(p, reqId);
    putStr(p, user, kMaxNameLen);
    putStr(p, password, kMaxNameLen);
    return finish(MsgLogin, std::move(p));
}

std::vector<uint8_t> encodeLogout()
{
    return encodeMessage(MsgLogout, nullptr, 0);
}

std::vector<uint8_t> encodeLoginOk(uint32_t reqId, const std::string& serialNumber, const std::string& model,
                                   uint32_t channelCount, uint32_t serialPortCount)
{
    std::vector<uint8_t> p;
    putU32(p, reqId);
    putStr(p, serialNumber, kMaxInfoLen);
    putStr(p, model, kMaxInfoLen);
    putU32(p, channelCount);
    putU32(p, serialPortCount);
    return finish(MsgLoginOk, std::move(p));
}

std::vector<uint8_t> encodeSerialStart(uint32_t reqId, uint32_t tag, uint32_t port)
{
    std::vector<uint8_t> p;
    putU32(p, reqId);
    putU32(p, tag);
    putU32(p, port);
    return finish(MsgSerialStart, std::move(p));
}

std::vector<uint8_t> encodeSerialStop(uint32_t tag)
{
    return encodePing(MsgSerialStop, tag);
}

std::vector<uint8_t> encodeSerialData(uint32_t tag, uint32_t channel, const uint8_t* data, size_t len)
{
    len = std::min(len, kMaxSerialChunk);
    std::vector<uint8_t> v;
    v.reserve(kHeaderSize + kSerialDataPrefix + len);
    v.insert(v.end(), kMagic, kMagic + 4);
    v.push_back(kVersion);
    v.push_back(MsgSerialData);
    v.push_back(0);
    v.push_back(0);
    putU32(v, uint32_t(kSerialDataPrefix + len));
    putU32(v, tag);
    putU32(v, channel);
    if (len)
        v.insert(v.end(), data, data + len);
    return v;
}

std::vector<uint8_t> encodeStreamStart(uint32_t reqId, uint32_t tag, const uint8_t* preview)
{
    std::vector<uint8_t> p;
    putU32(p, reqId);
    putU32(p, tag);
    for (size_t i = 0; i < kPreviewWords; ++i) {
        uint32_t w;
        std::memcpy(&w, preview + 4 * i, 4);
        putU32(p, w);
    }
    p.insert(p.end(), preview + 4 * kPreviewWords, preview + kPreviewSize);
    return finish(MsgStreamStart, std::move(p));
}

std::vector<uint8_t> encodeStreamStop(uint32_t tag)
{
    return encodePing(MsgStreamStop, tag);
}

std::vector<uint8_t> encodeStreamData(uint32_t tag, const uint8_t* data, size_t len)
{
    len = std::min(len, kMaxStreamChunk);
    std::vector<uint8_t> v;
    v.reserve(kHeaderSize + kStreamDataPrefix + len);
    v.insert(v.end(), kMagic, kMagic + 4);
    v.push_back(kVersion);
    v.push_back(MsgStreamData);
    v.push_back(0);
    v.push_back(0);
    putU32(v, uint32_t(kStreamDataPrefix + len));
    putU32(v, tag);
    if (len)
        v.insert(v.end(), data, data + len);
    return v;
}

std::vector<uint8_t> encodeStartOk(uint8_t type, uint32_t reqId)
{
    return encodePing(type, reqId);
}

std::vector<uint8_t> encodePing(uint8_t type, uint32_t seq)
{
    std::vector<uint8_t> p;
    putU32(p, seq);
    return finish(type, std::move(p));
}

std::vector<uint8_t> encodeError(uint32_t reqId, uint32_t code, const std::string& text)
{
    std::vector<uint8_t> p;
    putU32(p, reqId);
    putU32(p, code);
    putStr(p, text, kMaxErrorText);
    return finish(MsgError, std::move(p));
}

bool parseLogin(const Message& m, LoginReq* out)
{
    Reader r(m);
    out->reqId = r.u32();
    out->user = r.str(kMaxNameLen);
    out->password = r.str(kMaxNameLen);
    return m.type == MsgLogin && r.done();
}

bool parseLoginOk(const Message& m, LoginOk* out)
{
    Reader r(m);
    out->reqId = r.u32();
    out->serialNumber = r.str(kMaxInfoLen);
    out->model = r.str(kMaxInfoLen);
    out->channelCount = r.u32();
    out->serialPortCount = r.u32();
    return m.type == MsgLoginOk && r.done();
}

bool parseSerialStart(const Message& m, StartReq* out)
{
    Reader r(m);
    out->reqId = r.u32();
    out->tag = r.u32();
    out->port = r.u32();
    return m.type == MsgSerialStart && r.done();
}

bool parseStreamStart(const Message& m, StartReq* out)
{
    Reader r(m);
    out->reqId = r.u32();
    out->tag = r.u32();
    out->preview.assign(kPreviewSize, 0);
    for (size_t i = 0; i < kPreviewWords; ++i) {
        const uint32_t w = r.u32();
        std::memcpy(out->preview.data() + 4 * i, &w, 4);
        if (i == 0)
            out->channel = int32_t(w);
    }
    const uint8_t* tail = r.bytes(kPreviewSize - 4 * kPreviewWords);
    if (tail)
        std::memcpy(out->preview.data() + 4 * kPreviewWords, tail, kPreviewSize - 4 * kPreviewWords);
    return m.type == MsgStreamStart && r.done();
}

bool parseSerialData(const Message& m, DataMsg* out)
{
    Reader r(m);
    out->tag = r.u32();
    out->channel = r.u32();
    out->data = r.rest(&out->len);
    return m.type == MsgSerialData && r.done();
}

bool parseStreamData(const Message& m, DataMsg* out)
{
    Reader r(m);
    out->tag = r.u32();
    out->channel = 0;
    out->data = r.rest(&out->len);
    return m.type == MsgStreamData && r.done();
}

bool parseU32(const Message& m, uint32_t* out)
{
    Reader r(m);
    *out = r.u32();
    return r.done();
}

bool parseError(const Message& m, ErrorMsg* out)
{
    Reader r(m);
    out->reqId = r.u32();
    out->code = r.u32();
    out->text = r.str(kMaxErrorText);
    return m.type == MsgError && r.done();
}

// ---- WireDecoder ----

void WireDecoder::feed(const uint8_t* data, size_t len)
{
    if (failed() || len == 0)
        return;
    if (m_pos > 0 && m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
    } else if (m_pos >= 65536 && m_pos * 2 >= m_buf.size()) {
        m_buf.erase(m_buf.begin(), m_buf.begin() + long(m_pos));
        m_pos = 0;
    }
    m_buf.insert(m_buf.end(), data, data + len);
    checkHeader();
}

// Validates whatever part of the next header is already buffered, so garbage and
// oversize lengths fail as soon as they can be recognised.
bool WireDecoder::checkHeader()
{
    if (failed())
        return false;
    const size_t have = m_buf.size() - m_pos;
    const uint8_t* h = m_buf.data() + m_pos;
    for (size_t i = 0; i < 4 && i < have; ++i) {
        if (h[i] != kMagic[i]) {
            m_error = "bad magic";
            return false;
        }
    }
    if (have > 4 && h[4] != kVersion) {
        m_error = "unsupported protocol version " + std::to_string(h[4]);
        return false;
    }
    if (have >= kHeaderSize) {
        const uint32_t len = getU32(h + 8);
        if (len > payloadLimit(h[5])) {
            m_error = "message length " + std::to_string(len) + " above limit";
            return false;
        }
    }
    return true;
}

bool WireDecoder::next(Message* out)
{
    if (!checkHeader())
        return false;
    const size_t have = m_buf.size() - m_pos;
    if (have < kHeaderSize)
        return false;
    const uint8_t* h = m_buf.data() + m_pos;
    const uint32_t len = getU32(h + 8);
    if (have - kHeaderSize < len)
        return false;
    out->type = h[5];
    out->payload.assign(h + kHeaderSize, h + kHeaderSize + len);
    m_pos += kHeaderSize + len;
    if (m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
    }
    checkHeader();
    return true;
}

void WireDecoder::reset()
{
    m_buf.clear();
    m_buf.shrink_to_fit();
    m_pos = 0;
    m_error.clear();
}

} // namespace devnet
