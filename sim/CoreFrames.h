#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace irsim {

// Start bytes of the two frame kinds on the core's serial line.
constexpr uint8_t kRegisterStart = 0xF0;
constexpr uint8_t kBlockStart = 0xF1;
constexpr uint8_t kFrameEnd = 0xFF;
constexpr uint8_t kRegisterClass = 0x36;
constexpr uint8_t kLongAddress = 0xFE; // address byte meaning "32-bit address follows"

// Block command bytes.
namespace blockcmd {
constexpr uint8_t Address = 0xE3;
constexpr uint8_t Size = 0xE4;
constexpr uint8_t End = 0xE5;
constexpr uint8_t Exit = 0xE6;
constexpr uint8_t ReadStart = 0xE8;
constexpr uint8_t ReadLength = 0xE9;
constexpr uint8_t ReadBlock = 0xEA;
constexpr uint8_t ReadEnd = 0xEB;
constexpr uint8_t Reload = 0xEC;
constexpr uint8_t Data = 0xEE;
} // namespace blockcmd

// Largest data part of a block request (the host's block buffer) and of a block
// reply (the reply's length field is one byte).
constexpr size_t kMaxBlockData = 1000;
constexpr size_t kMaxReplyPayload = 254;
// Largest register frame we accept: the host packs at most 32 bytes.
constexpr size_t kMaxRegisterFrame = 32;

uint8_t checksum8(const uint8_t* data, size_t len);

// One well-formed request, classified.
struct Request {
    enum Kind { LongWrite, LongRead, ShortWrite, ShortRead, Raw, Block };
    Kind kind = Raw;
    uint8_t addressByte = 0; // byte 3 of a register frame (echoed in write replies)
    uint32_t address = 0;    // 32-bit or short register address
    uint32_t value = 0;      // written value
    int width = 0;           // bytes of the written value
    uint8_t command = 0;     // block command byte
    std::vector<uint8_t> data; // block data / written value bytes
};

// Classifies a frame that the assembler accepted (checksum and terminator checked).
Request classifyFrame(const std::vector<uint8_t>& frame);

// Reply builders; every reply is one complete frame.
std::vector<uint8_t> writeReply(uint8_t addressByte, uint8_t value);
std::vector<uint8_t> readReply(uint8_t addressByte, const std::vector<uint8_t>& payload);
std::vector<uint8_t> blockAck(uint8_t command, uint8_t value);
std::vector<uint8_t> blockDataReply(uint8_t command, const uint8_t* payload, size_t len);

void appendU32BE(std::vector<uint8_t>& out, uint32_t value);
uint32_t readU32BE(const uint8_t* p);

} // namespace irsim
