#pragma once

#include "FlashModel.h"

#include <cstdint>
#include <map>
#include <vector>

namespace irsim {

// The core's upgrade mode: writes into flash and read-back of the data sets. Each
// step is acknowledged only in its legal place in the sequence
//   0xF0E0=1, 0xF0E1=1, { E3 address, E4 size, EE data..., E5 end, [EC reload]
//                        | E8 selector, E9 length, EA block..., EB end }, E6 exit;
// anything else is refused (value 0, or no data for the read requests E9/EA).
// Not locked: the core model serialises access.
class UpgradeEngine {
public:
    enum class State { Idle, Entered, Ready, AddressSet, Receiving, Ended, Reading };

    struct Reply {
        bool data = false;   // a data reply (E9/EA) rather than an acknowledgement
        uint8_t value = 0;   // acknowledgement value
        std::vector<uint8_t> payload;
    };
    struct Transfer {
        bool valid = false;
        uint32_t address = 0;
        uint32_t size = 0;
    };

    static constexpr int kSelectorCount = 10;
    // Flash address of a read-back data set (1 bad pixels, 2-5 OCC, 6-9 K, 10 data
    // area); 0xFFFFFFFF for an unknown selector.
    static uint32_t selectorAddress(int selector);
    static constexpr uint32_t kDataAreaAddress = 0x1A00000;
    static bool isDataRequest(uint8_t command);

    uint8_t writeEnter(uint32_t value);
    uint8_t writeConfirm(uint32_t value);
    Reply block(uint8_t command, const std::vector<uint8_t>& data);

    // The core's own write of a table it made (not a host transfer): straight into
    // flash and readable back like a completed transfer at that address. Leaves the
    // upgrade sequence alone.
    bool storeInternal(uint32_t address, const std::vector<uint8_t>& bytes);

    State state() const { return m_state; }
    bool inUpgradeMode() const { return m_state != State::Idle; }
    FlashModel& flash() { return m_flash; }
    const FlashModel& flash() const { return m_flash; }

    // The last completed (E5) transfer that started at the address of a selector.
    Transfer lastWrite(int selector) const;
    Transfer lastWriteAt(uint32_t address) const;
    Transfer lastCommitted() const { return m_lastCommitted; }
    int commitCount() const { return m_commits; }
    int reloadCount() const { return m_reloads; }
    // Data blocks (0xEE with data) taken in, all transfers together.
    uint64_t dataBlockCount() const { return m_dataBlocks; }
    // Bytes received by the transfer in progress.
    uint32_t pendingBytes() const { return uint32_t(m_pending.size()); }

private:
    Reply ack(bool ok) const;
    Reply onAddress(const std::vector<uint8_t>& data);
    Reply onSize(const std::vector<uint8_t>& data);
    Reply onData(const std::vector<uint8_t>& data);
    Reply onEnd();
    Reply onReload(const std::vector<uint8_t>& data);
    Reply onReadStart(const std::vector<uint8_t>& data);
    Reply onReadBlock();
    void leave();

    FlashModel m_flash;
    State m_state = State::Idle;
    // Transfer in progress.
    uint32_t m_address = 0;
    uint32_t m_size = 0;
    std::vector<uint8_t> m_pending;
    bool m_emptyBlockSeen = false;
    bool m_reloaded = false;
    // Read in progress.
    uint32_t m_readAddress = 0;
    uint32_t m_readLength = 0;
    uint32_t m_readPos = 0;

    std::map<uint32_t, uint32_t> m_lastWrites; // start address -> size
    Transfer m_lastCommitted;
    int m_commits = 0;
    int m_reloads = 0;
    uint64_t m_dataBlocks = 0;
};

} // namespace irsim
