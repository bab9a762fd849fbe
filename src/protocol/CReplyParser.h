#pragma once

#include <cstdint>

// Interprets the core's replies. Only the start byte (0xF0 / 0xF1) and the LEN byte
// are looked at; whatever LEN says, nothing outside the reply buffers is touched.
class CReplyParser {
public:
    static constexpr int kShortSize = 11;
    static constexpr int kLongSize = 259;

    static CReplyParser* instance();

    unsigned char* shortReplyBuffer();
    unsigned char* longReplyBuffer();
    // Forget any earlier reply: every transaction starts with empty buffers so that a
    // late reply to the previous request cannot be taken for the new one.
    void clearShort();
    void clearLong();

    // Short buffer: true when byte 0 is 0xF0 or 0xF1; value = payload big-endian.
    bool parseValue(uint32_t* value) const;
    bool parseValue64(uint64_t* value) const;
    // Short buffer payload into dst (at most cap bytes); len = bytes copied.
    bool copyPayload(unsigned char* dst, int cap, int* len) const;
    // Long buffer payload: pointer into the long buffer, len its length, clamped so
    // that [pointer, pointer + len) lies inside the buffer. Null on an unusable reply.
    const unsigned char* longPayload(int* len, int received) const;

    // The same rules over any buffer (used by the members above, tests and fuzzing).
    static bool parseValueIn(const unsigned char* buf, int size, uint64_t* value);
    static int payloadOffset(const unsigned char* buf, int size);
    static int payloadLength(const unsigned char* buf, int size);
    static const unsigned char* longPayloadIn(const unsigned char* buf, int size, int received, int* len);

private:
    CReplyParser();
    unsigned char m_short[kShortSize];
    unsigned char m_long[kLongSize];
};
