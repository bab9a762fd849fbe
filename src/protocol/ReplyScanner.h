#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// What the reply to one request must look like.
struct ReplyExpect {
    bool acceptRegister = true; // 0xF0 replies
    bool acceptBlock = true;    // 0xF1 replies
    int echo = -1;              // address byte an 0xF0 reply must carry at offset 3; -1: any
    int minPayload = 0;         // fewer payload bytes: not the reply waited for
};

// Finds the core's reply in the bytes a transaction has collected from the link. A
// reply is taken only when it is whole (LEN + 4 bytes), its checksum (8-bit sum of the
// LEN bytes from offset 2) and its 0xFF terminator hold, and, for register replies
// where the request asks for it, byte 3 echoes the request's address byte. Bytes
// before a reply are line noise and skipped; a candidate that fails a check is dropped
// and reported, and the scan goes on behind its start byte. Chunks may arrive in any
// pieces: what could still become a reply is kept for the next append.
class ReplyScanner {
public:
    static constexpr uint8_t kRegisterStart = 0xF0;
    static constexpr uint8_t kBlockStart = 0xF1;
    static constexpr uint8_t kEnd = 0xFF;
    // A larger backlog is line noise; the oldest bytes go.
    static constexpr size_t kMaxPending = 4096;

    using Expect = ReplyExpect;
    struct Dropped {
        std::vector<uint8_t> bytes;
        QString reason;
    };

    explicit ReplyScanner(Expect expect = {});

    void append(const uint8_t* data, int len);
    // The first whole, checked reply, removed from the pending bytes. False while none.
    bool take(std::vector<uint8_t>* reply);
    // Candidates dropped since the last call.
    std::vector<Dropped> takeDropped();
    size_t pending() const { return m_buf.size(); }

    // The checks on one candidate at buf[0] with `size` bytes available: 1 whole and
    // good, 0 not whole yet, -1 bad (`reason` says why).
    static int check(const uint8_t* buf, size_t size, const Expect& expect, QString* reason);

private:
    Expect m_expect;
    std::vector<uint8_t> m_buf;
    std::vector<Dropped> m_dropped;
    size_t m_reported = 0; // bad candidates before this index were told already
};
