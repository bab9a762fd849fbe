#include "CoreFrames.h"

#include <algorithm>

namespace irsim {

uint8_t checksum8(const uint8_t* data, size_t len)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < len; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

void appendU32BE(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

uint32_t readU32BE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

Request classifyFrame(const std::vector<uint8_t>& frame)
{
    Request r;
    if (frame.size() < 5)
        return r; // the assembler never hands over less; keep Raw
    if (frame[0] == kBlockStart) {
        r.kind = Request::Block;
        r.command = frame[3];
        // Data sits between the command byte and the checksum.
        r.data.assign(frame.begin() + 4, frame.end() - 2);
        return r;
    }
    r.addressByte = frame[3];
    const size_t len = frame[1];
    if (len < 3 || frame[2] != kRegisterClass)
        return r;
    const uint8_t aa = frame[3];
    const uint8_t op = frame[4];
    if (aa == kLongAddress) {
        if (op == 0 && len == 11) {
            r.kind = Request::LongWrite;
            r.address = readU32BE(&frame[5]);
            r.value = readU32BE(&frame[9]);
            r.width = 4;
            r.data.assign(frame.begin() + 9, frame.begin() + 13);
        } else if (op == 1 && len == 7) {
            r.kind = Request::LongRead;
            r.address = readU32BE(&frame[5]);
        }
        return r;
    }
    if (op == 0 && (len == 4 || len == 5 || len == 7)) {
        r.kind = Request::ShortWrite;
        r.address = aa;
        r.width = int(len - 3);
        r.data.assign(frame.begin() + 5, frame.begin() + 5 + r.width);
        for (uint8_t b : r.data)
            r.value = (r.value << 8) | b;
    } else if (op == 1 && len == 3) {
        r.kind = Request::ShortRead;
        r.address = aa;
    }
    return r;
}

std::vector<uint8_t> writeReply(uint8_t addressByte, uint8_t value)
{
    std::vector<uint8_t> out{kRegisterStart, 0x07, kRegisterClass, addressByte, 0x00, 0, 0, 0, value};
    out.push_back(checksum8(out.data() + 2, out.size() - 2));
    out.push_back(kFrameEnd);
    return out;
}

std::vector<uint8_t> readReply(uint8_t addressByte, const std::vector<uint8_t>& payload)
{
    // The length byte counts class, address, operation and payload.
    const size_t n = std::min(payload.size(), size_t(252));
    std::vector<uint8_t> out{kRegisterStart, static_cast<uint8_t>(3 + n), kRegisterClass, addressByte, 0x01};
    out.insert(out.end(), payload.begin(), payload.begin() + n);
    out.push_back(checksum8(out.data() + 2, out.size() - 2));
    out.push_back(kFrameEnd);
    return out;
}

std::vector<uint8_t> blockAck(uint8_t command, uint8_t value)
{
    return blockDataReply(command, &value, 1);
}

std::vector<uint8_t> blockDataReply(uint8_t command, const uint8_t* payload, size_t len)
{
    len = std::min(len, kMaxReplyPayload);
    std::vector<uint8_t> out{kBlockStart, static_cast<uint8_t>(len + 1), command};
    if (len > 0)
        out.insert(out.end(), payload, payload + len);
    out.push_back(checksum8(out.data() + 2, out.size() - 2));
    out.push_back(kFrameEnd);
    return out;
}

} // namespace irsim
