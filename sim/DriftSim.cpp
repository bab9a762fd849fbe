#include "DriftSim.h"

#include <algorithm>
#include <cmath>

namespace irsim {

void DriftTruth::make(size_t pixels, uint32_t seed)
{
    m_a1.resize(pixels);
    m_a2.resize(pixels);
    uint32_t s = seed ^ 0x5EED0D1Fu;
    auto uniform = [&s] {
        s = s * 1664525u + 1013904223u;
        return double(s >> 8) / double(1u << 24);
    };
    for (size_t i = 0; i < pixels; ++i) {
        // Slopes of -6..6 counts a degree and a bend of 0.2..1.0 counts a square degree.
        m_a1[i] = float(12.0 * uniform() - 6.0);
        m_a2[i] = float(0.2 + 0.8 * uniform());
    }
}

double DriftTruth::at(size_t i, double fpaC) const
{
    const double d = fpaC - kReferenceC;
    return double(m_a1[i]) * d + double(m_a2[i]) * d * d;
}

double FpaCourse::at(double seconds) const
{
    const double v = base + ratePerMin * (seconds - since) / 60.0;
    if (!toTarget)
        return v;
    return ratePerMin >= 0 ? std::min(v, target) : std::max(v, target);
}

bool isDriftRegister(bool isShort, uint32_t address)
{
    return isShort ? address == 0x13 : (address == 0x201048 || address == 0xF050);
}

void DriftRegisterLog::add(const DriftRegisterEvent& e)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_events.size() < 100000)
        m_events.push_back(e);
}

std::vector<DriftRegisterEvent> DriftRegisterLog::events() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

void DriftRegisterLog::clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.clear();
}

} // namespace irsim
