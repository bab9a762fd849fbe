#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace irsim {

// A fault the virtual camera plays on matching requests.
//
// Text form (command line, control interface):  KIND[=N][@TARGET][#N|*N|>N|%P]
//   KIND    noreply | zero | delay=MS | split[=MS] | drop | garbage[=COUNT]
//           | flip | badsum | badend | echo | noise[=COUNT]
//   TARGET  0xF0E0 (a 32-bit register) | short:0x84 | block:0xEE | block
//           (omitted: every request)
//   #N      only the Nth matching request     *N  the first N matching requests
//   >N      every matching request after the Nth (e.g. drop@block:0xEE>3)
//   %P      each matching request with probability P percent (the injector's seed)
//           (omitted: always)
// The line faults spoil the reply frame itself: flip one payload bit (checksum as
// it was), badsum (checksum off by one), badend (terminator not 0xFF), echo (the
// echoed address byte of a register reply or command byte of a block reply, with a
// checksum that fits), noise (random bytes, never a start byte, just before it).
struct FaultRule {
    enum class Kind { NoReply, Zero, Delay, Split, Drop, Garbage, Flip, BadSum, BadEnd, Echo, Noise };
    enum class Target { Any, Register, ShortRegister, Block, AnyBlock };
    enum class Count { Always, Nth, Times, After, Percent };

    Kind kind = Kind::NoReply;
    int param = 0; // delay ms, split pause ms, garbage / noise byte count
    Target target = Target::Any;
    uint32_t address = 0; // register address or block command byte
    Count count = Count::Always;
    int n = 0;
    double percent = 0; // Count::Percent: 0 < percent <= 100

    static constexpr int kDefaultDelayMs = 500;
    static constexpr int kDefaultSplitPauseMs = 20;
    static constexpr int kDefaultGarbageBytes = 4;
    static constexpr int kMaxGarbageBytes = 64;
    static constexpr int kDefaultNoiseBytes = 4;
    static constexpr int kMaxNoiseBytes = 64;
    static constexpr int kMaxDelayMs = 600000;

    // False with a reason when the text is not a fault.
    static bool parse(const std::string& text, FaultRule* out, std::string* error);
    std::string toString() const;
};

// What a request is, as far as fault targets go.
struct RequestKey {
    enum Kind { Register, ShortRegister, Block, Raw };
    Kind kind = Raw;
    uint32_t address = 0; // register address or block command
};

// What the faults that fired do to one reply (several may combine).
struct FaultEffect {
    bool noReply = false;
    bool zero = false;
    bool drop = false;
    int delayMs = 0;
    bool split = false;
    int splitPauseMs = 0;
    int garbageBytes = 0;
    std::vector<uint8_t> noise; // random bytes in front of the reply (none a start byte)
    bool flip = false;
    uint32_t flipPick = 0;      // which payload bit (modulo the payload's bits)
    bool badSum = false;
    bool badEnd = false;
    bool echo = false;
};

// Spoils a whole reply frame (F0 LEN ... CHK FF or F1 LEN CMD ... CHK FF) the way the
// line faults of `fx` say; anything else is left alone.
void corruptReply(std::vector<uint8_t>* frame, const FaultEffect& fx);

// The list of active faults; thread-safe.
class FaultInjector {
public:
    static constexpr uint32_t kDefaultSeed = 1;
    // Restarts the random choices (%P counts, flipped bits, noise) from a seed, so a
    // run with the same requests plays the same faults.
    void setSeed(uint32_t seed);

    // Returns an id for fired() and remove().
    int add(const FaultRule& rule);
    bool remove(int id);
    void clear();
    std::vector<FaultRule> list() const;

    // How often a fault fired; -1 for an unknown id.
    int fired(int id) const;
    int totalFired() const;

    // Counts the request against every fault it matches and returns the effect of
    // those that fire.
    FaultEffect apply(const RequestKey& key);

private:
    struct Entry {
        int id;
        FaultRule rule;
        int seen;
        int fired;
    };
    static bool matches(const FaultRule& rule, const RequestKey& key);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    int m_nextId = 1;
    int m_totalFired = 0;
    std::mt19937 m_rng{kDefaultSeed};
};

} // namespace irsim
