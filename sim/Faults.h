#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace irsim {

// A fault the virtual camera plays on matching requests.
//
// Text form (command line, control interface):  KIND[=N][@TARGET][#N|*N|>N]
//   KIND    noreply | zero | delay=MS | split[=MS] | drop | garbage[=COUNT]
//   TARGET  0xF0E0 (a 32-bit register) | short:0x84 | block:0xEE | block
//           (omitted: every request)
//   #N      only the Nth matching request     *N  the first N matching requests
//   >N      every matching request after the Nth (e.g. drop@block:0xEE>3)
//           (omitted: always)
struct FaultRule {
    enum class Kind { NoReply, Zero, Delay, Split, Drop, Garbage };
    enum class Target { Any, Register, ShortRegister, Block, AnyBlock };
    enum class Count { Always, Nth, Times, After };

    Kind kind = Kind::NoReply;
    int param = 0; // delay ms, split pause ms, garbage byte count
    Target target = Target::Any;
    uint32_t address = 0; // register address or block command byte
    Count count = Count::Always;
    int n = 0;

    static constexpr int kDefaultDelayMs = 500;
    static constexpr int kDefaultSplitPauseMs = 20;
    static constexpr int kDefaultGarbageBytes = 4;
    static constexpr int kMaxGarbageBytes = 64;
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
};

// The list of active faults; thread-safe.
class FaultInjector {
public:
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
};

} // namespace irsim
