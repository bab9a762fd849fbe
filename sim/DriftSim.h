#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace irsim {

// What the drift and stabilisation benches need of the virtual core: a per-pixel
// offset that follows a known polynomial of the FPA temperature (the truth a drift fit
// must recover), an FPA that ramps to a target and can turn back, and the log of the
// registers those runs send, each with the frame count at which it arrived.
class DriftTruth {
public:
    static constexpr double kReferenceC = 30.0;
    // Per-pixel a1 (counts per degree) and a2 (counts per square degree) around the
    // reference; deterministic for a seed.
    void make(size_t pixels, uint32_t seed);
    bool empty() const { return m_a1.empty(); }
    size_t size() const { return m_a1.size(); }
    // Drift offset of pixel i at FPA `fpaC`: a1 (F - 30) + a2 (F - 30)^2.
    double at(size_t i, double fpaC) const;
    float a1(size_t i) const { return m_a1[i]; }
    float a2(size_t i) const { return m_a2[i]; }

private:
    std::vector<float> m_a1;
    std::vector<float> m_a2;
};

// FPA course: `base` at `since` seconds, then `ratePerMin` (already divided by the
// time scale) until it reaches `target` and stays there; without a target it drifts on.
struct FpaCourse {
    double base = 30.0;
    double since = 0.0;
    double ratePerMin = 0.0;
    bool toTarget = false;
    double target = 0.0;
    double at(double seconds) const;
};

struct DriftRegisterEvent {
    bool isShort = false;
    uint32_t address = 0;
    uint32_t value = 0;
    uint64_t frame = 0; // stream packets sent before it arrived
};

// Short register 0x13 (drift sampling), 0x201048 (stabilisation state), 0xF050
// (collection number).
bool isDriftRegister(bool isShort, uint32_t address);

class DriftRegisterLog {
public:
    void add(const DriftRegisterEvent& e);
    std::vector<DriftRegisterEvent> events() const;
    void clear();

private:
    mutable std::mutex m_lock;
    std::vector<DriftRegisterEvent> m_events;
};

} // namespace irsim
