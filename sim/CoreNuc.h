#pragma once

#include <cstdint>
#include <vector>

namespace irsim {

// The core's own two-point correction (one-key register 0xF023): it looks at a low
// and a high blackbody, then turns the two average pictures into a gain table for one
// TEC range, K = trunc(32768 x (meanHigh - meanLow) / (H - L + 0.01)) clamped to
// 25000..45000, stored as 16-bit big-endian words in image order.
class CoreNuc {
public:
    static constexpr uint16_t kGainMin = 25000;
    static constexpr uint16_t kGainMax = 45000;
    // Flash area of the gain table of TEC 1..4.
    static uint32_t gainAddress(int tec) { return 0xC00000u + uint32_t(tec - 1) * 0x100000u; }

    // A capture of one point; a new picture size drops the other point.
    void setPoint(bool high, const std::vector<uint16_t>& average, int width, int rows);
    bool hasPoint(bool high) const { return high ? !m_high.empty() : !m_low.empty(); }
    // The gain file bytes; false when a point is missing or the points do not match.
    bool gainTable(std::vector<uint8_t>* bytes) const;

private:
    static double meanOf(const std::vector<uint16_t>& image);

    int m_width = 0;
    int m_rows = 0;
    std::vector<uint16_t> m_low;
    std::vector<uint16_t> m_high;
};

} // namespace irsim
