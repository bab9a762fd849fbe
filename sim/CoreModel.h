#pragma once

#include "CoreFrames.h"
#include "CoreNuc.h"
#include "Faults.h"
#include "FrameAssembler.h"
#include "Peer.h"
#include "Presets.h"
#include "ReplyScheduler.h"
#include "UpgradeEngine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace irsim {

// The camera core behind the serial line: registers (32-bit and short), identity,
// upgrade mode with its flash, long-running commands and fault injection. Fronts hand
// in whatever bytes a client sent; replies go back through the client's Peer, at once
// or later from the timer thread. Thread-safe.
class CoreModel {
public:
    // Registers with a meaning of their own.
    static constexpr uint32_t kEnterUpgrade = 0xF0E0;
    static constexpr uint32_t kConfirmUpgrade = 0xF0E1;
    static constexpr uint32_t kCloseCommand = 0xF018; // value 5: host is closing
    static constexpr uint32_t kOneKeyConfig = 0xF021;
    static constexpr uint32_t kAutoCorrection = 0xF029;
    // The core's own calibration commands.
    static constexpr uint32_t kOneKeyCalibration = 0xF023; // 1 low, 2 high, 3..6 gains of TEC 1..4
    static constexpr uint32_t kNvffcCapture = 0xF026;      // TEC index + 1
    static constexpr uint32_t kBadPixelCommand = 0xF03D;   // 0xD3: own detection (15: cursor mode)
    static constexpr uint32_t kBadPixelDetectV30 = 0xF057; // 1
    static constexpr uint32_t kShutterCorrect = 0x7003;    // 0
    static constexpr uint32_t kDetectOwnBadPixels = 0xD3;
    static constexpr int kDetectV30DelayMs = 600; // nominal acknowledgement delays
    static constexpr int kShutterDelayMs = 300;
    static constexpr int kCoreAverageFrames = 16; // frames the core averages per point
    static constexpr size_t kMaxLoggedFrames = 100000;

    CoreModel();
    ~CoreModel();
    CoreModel(const CoreModel&) = delete;
    CoreModel& operator=(const CoreModel&) = delete;

    // Loads the identification registers of a preset (other registers are kept).
    void setIdentity(const Identity& identity);
    Identity identity() const;
    // Multiplies every simulated delay (long commands, completion replies, faults).
    void setTimeScale(double scale);
    // Nominal acknowledgement delay of 0xF021 / 0xF029.
    void setLongCommandDelayMs(int ms);
    // The capture commands (0xF023 = 1..6, 0xF026, 0xF03D = 0xD3) are acknowledged at
    // once and report completion with a second reply this much later; negative: never.
    void setCompletionDelayMs(int ms);
    static bool isCompletionCommand(uint32_t address, uint32_t value);
    // Time the core takes to program one 0xEE data block into flash before it
    // acknowledges the block (nominal, scaled like the other delays).
    void setBlockProgramMs(int ms);
    int blockProgramMs() const;

    // What the core's detector sees, for its own calibration: the average of `frames`
    // pictures (W x imageRows words). Runs under the model's lock: it must not call
    // back into the model. Without one, 0xF023 only acknowledges.
    using PictureSource =
        std::function<bool(const Identity& identity, int frames, std::vector<uint16_t>* average, int* width, int* rows)>;
    void setPictureSource(PictureSource source);

    FaultInjector& faults() { return m_faults; }

    // Told of every register write the core accepted (value as written). Runs under
    // the model's lock: it must not call back into the model. VirtualCamera sets one
    // that drives its picture (cursor, shutter correction); replacing it cuts that off.
    using WriteObserver = std::function<void(bool isShort, uint32_t address, uint32_t value)>;
    void setWriteObserver(WriteObserver observer);
    // Told of every gain table that lands in a TEC's gain area (host transfer or the
    // core's own one-key step), big-endian as stored. Same lock rule as above.
    using GainObserver = std::function<void(const std::vector<uint8_t>& table)>;
    void setGainObserver(GainObserver observer);

    // Front side.
    void receive(const PeerPtr& peer, const uint8_t* data, size_t len);
    void forgetPeer(const Peer* peer);
    // Drops replies still waiting on the timer thread.
    void cancelPending();

    // Inspection and control (tests, demos).
    std::vector<std::vector<uint8_t>> requestLog() const;
    uint64_t requestCount() const;
    uint64_t unframedBytes() const;
    void clearLog();

    uint32_t longRegister(uint32_t address) const;
    std::vector<uint8_t> longRegisterBytes(uint32_t address) const;
    void setLongRegister(uint32_t address, uint32_t value);
    std::vector<uint8_t> shortRegister(uint8_t address) const;
    void setShortRegister(uint8_t address, const std::vector<uint8_t>& bytes);
    int closeCommandCount() const;

    UpgradeEngine::State upgradeState() const;
    std::vector<uint8_t> readFlash(uint32_t address, size_t len) const;
    UpgradeEngine::Transfer lastWrite(int selector) const;
    UpgradeEngine::Transfer lastCommitted() const;
    int commitCount() const;
    int reloadCount() const;
    uint64_t dataBlocksProgrammed() const;

private:
    struct PeerState {
        std::weak_ptr<Peer> peer;
        FrameAssembler assembler;
    };
    struct Outgoing {
        bool drop = false;
        std::vector<uint8_t> bytes;
        double delayMs = 0;
        bool split = false;
        double splitPauseMs = 0;
        // Work the core does before this reply; its bytes are what it returns (none:
        // nothing is sent). Runs on the timer thread at the reply's time.
        std::function<std::vector<uint8_t>()> work;
    };
    struct Outcome {
        std::vector<uint8_t> reply;
        int delayMs = 0;                 // nominal, before scaling
        std::vector<uint8_t> completion; // second reply of a capture command
        bool oneKeyStep = false;         // 0xF023 work behind the completion
        uint32_t oneKeyValue = 0;
    };

    Outcome handle(const Request& request, bool refuse);
    Outcome handleLongWrite(const Request& request, bool refuse);
    bool runOneKeyStep(uint32_t value);
    std::vector<uint8_t> registerPayload(const Request& request) const;
    void dispatch(const PeerPtr& peer, const std::vector<Outgoing>& out);
    void loadIdentityLocked();

    mutable std::mutex m_mutex;
    Identity m_identity;
    double m_timeScale = 1.0;
    int m_longDelayMs = 3000;
    int m_completionDelayMs = 1500;
    int m_blockProgramMs = 0;
    std::map<uint32_t, std::vector<uint8_t>> m_long;
    std::map<uint8_t, std::vector<uint8_t>> m_short;
    UpgradeEngine m_upgrade;
    int m_closeCommands = 0;
    std::map<const Peer*, PeerState> m_peers;
    uint64_t m_unframedGone = 0; // from peers that went away
    std::deque<std::vector<uint8_t>> m_log;
    uint64_t m_requests = 0;

    WriteObserver m_writeObserver;
    GainObserver m_gainObserver;
    void announceGainTable(uint32_t address); // under m_mutex
    PictureSource m_pictureSource;
    CoreNuc m_nuc;
    FaultInjector m_faults;
    ReplyScheduler m_scheduler; // last: stopped first on destruction
};

} // namespace irsim
