#pragma once

// The devnet wire protocol: message framing, payload encoders and parsers, and an
// incremental decoder. Shared by the SDK (camera client) and the camera side.
// The byte layout is documented in docs/devnet-protocol.md; multi-byte integers are
// big-endian on the wire.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace devnet {

constexpr uint8_t kMagic[4] = {'I', 'R', 'D', 'N'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 12;

// Payload limits. A header announcing more is a protocol error: the decoder refuses it
// before buffering anything, so a hostile length never turns into a big allocation.
constexpr uint32_t kMaxDataPayload = 16u * 1024u * 1024u;   // serial and stream data
constexpr uint32_t kMaxControlPayload = 64u * 1024u;        // every other type
constexpr size_t kMaxNameLen = 64;                          // user name, password
constexpr size_t kMaxInfoLen = 64;                          // serial number, model
constexpr size_t kMaxErrorText = 1024;
constexpr size_t kPreviewSize = 280;
constexpr size_t kSerialDataPrefix = 8;                     // tag, channel
constexpr size_t kStreamDataPrefix = 4;                     // tag
constexpr size_t kMaxSerialChunk = kMaxDataPayload - kSerialDataPrefix;
constexpr size_t kMaxStreamChunk = kMaxDataPayload - kStreamDataPrefix;

enum MsgType : uint8_t {
    MsgLogin = 0x01,          // client -> camera
    MsgLogout = 0x02,
    MsgSerialStart = 0x03,
    MsgSerialStop = 0x04,
    MsgSerialData = 0x05,     // both ways
    MsgStreamStart = 0x06,
    MsgStreamStop = 0x07,
    MsgStreamData = 0x08,     // camera -> client
    MsgPing = 0x09,
    MsgError = 0x7F,          // camera -> client
    MsgLoginOk = 0x81,
    MsgSerialStartOk = 0x83,
    MsgStreamStartOk = 0x86,
    MsgPong = 0x89,
};

// Error codes carried by MsgError.
enum WireError : uint32_t {
    WireErrProtocol = 1,      // malformed or unexpected message; the camera closes
    WireErrAuth = 2,          // user name or password refused; the camera closes
    WireErrRefused = 3,       // request refused (no such serial port, channel)
    WireErrBusy = 4,          // out of resources (too many clients); the camera closes
    WireErrNotLoggedIn = 5,   // request before login; the camera closes
};

uint32_t payloadLimit(uint8_t type);

struct Message {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// ---- Encoders: each returns one whole message (header and payload). ----
std::vector<uint8_t> encodeMessage(uint8_t type, const uint8_t* payload, size_t len);
std::vector<uint8_t> encodeLogin(uint32_t reqId, const std::string& user, const std::string& password);
std::vector<uint8_t> encodeLogout();
std::vector<uint8_t> encodeLoginOk(uint32_t reqId, const std::string& serialNumber, const std::string& model,
                                   uint32_t channelCount, uint32_t serialPortCount);
std::vector<uint8_t> encodeSerialStart(uint32_t reqId, uint32_t tag, uint32_t port);
std::vector<uint8_t> encodeSerialStop(uint32_t tag);
std::vector<uint8_t> encodeSerialData(uint32_t tag, uint32_t channel, const uint8_t* data, size_t len);
// `preview` is the preview request as the caller filled it (host byte order).
std::vector<uint8_t> encodeStreamStart(uint32_t reqId, uint32_t tag, const uint8_t* preview);
std::vector<uint8_t> encodeStreamStop(uint32_t tag);
std::vector<uint8_t> encodeStreamData(uint32_t tag, const uint8_t* data, size_t len);
std::vector<uint8_t> encodeStartOk(uint8_t type, uint32_t reqId);
std::vector<uint8_t> encodePing(uint8_t type, uint32_t seq);
std::vector<uint8_t> encodeError(uint32_t reqId, uint32_t code, const std::string& text);

// ---- Parsed payloads. parse* return false on a malformed payload. ----
struct LoginReq {
    uint32_t reqId = 0;
    std::string user;
    std::string password;
};
struct LoginOk {
    uint32_t reqId = 0;
    std::string serialNumber;
    std::string model;
    uint32_t channelCount = 0;
    uint32_t serialPortCount = 0;
};
struct StartReq {             // serial start (port) or stream start (channel, preview)
    uint32_t reqId = 0;
    uint32_t tag = 0;
    uint32_t port = 0;
    int32_t channel = 0;
    std::vector<uint8_t> preview; // host byte order, kPreviewSize bytes
};
struct DataMsg {              // serial data (channel) or stream data; points into the payload
    uint32_t tag = 0;
    uint32_t channel = 0;
    const uint8_t* data = nullptr;
    size_t len = 0;
};
struct ErrorMsg {
    uint32_t reqId = 0;
    uint32_t code = 0;
    std::string text;
};

bool parseLogin(const Message& m, LoginReq* out);
bool parseLoginOk(const Message& m, LoginOk* out);
bool parseSerialStart(const Message& m, StartReq* out);
bool parseStreamStart(const Message& m, StartReq* out);
bool parseSerialData(const Message& m, DataMsg* out);
bool parseStreamData(const Message& m, DataMsg* out);
// Stop requests, start answers, ping and pong: one 32-bit value (tag, request id, seq).
bool parseU32(const Message& m, uint32_t* out);
bool parseError(const Message& m, ErrorMsg* out);

// Incremental decoder: feed byte chunks of any size, take whole messages out.
// A bad magic, an unknown version or a length above the type's limit is a protocol
// error; it is sticky until reset() (the connection is to be closed).
class WireDecoder {
public:
    void feed(const uint8_t* data, size_t len);
    // Takes the next complete message; false when none is complete (or after an error).
    bool next(Message* out);
    bool failed() const { return !m_error.empty(); }
    const std::string& error() const { return m_error; }
    // Bytes held that do not yet form a whole message.
    size_t buffered() const { return m_buf.size() - m_pos; }
    void reset();

private:
    bool checkHeader();

    std::vector<uint8_t> m_buf;
    size_t m_pos = 0;
    std::string m_error;
};

} // namespace devnet
