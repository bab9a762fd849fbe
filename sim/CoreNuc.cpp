#include "CoreNuc.h"

#include <cmath>

namespace irsim {

void CoreNuc::setPoint(bool high, const std::vector<uint16_t>& average, int width, int rows)
{
    if (width != m_width || rows != m_rows) {
        m_low.clear();
        m_high.clear();
        m_width = width;
        m_rows = rows;
    }
    (high ? m_high : m_low) = average;
}

double CoreNuc::meanOf(const std::vector<uint16_t>& image)
{
    double sum = 0;
    for (uint16_t v : image)
        sum += v;
    // The core keeps its means to one decimal, cut toward zero.
    return std::trunc(sum / double(image.size()) * 10.0) / 10.0;
}

bool CoreNuc::gainTable(std::vector<uint8_t>* bytes) const
{
    const size_t n = size_t(m_width) * size_t(m_rows);
    if (!bytes || n == 0 || m_low.size() != n || m_high.size() != n)
        return false;
    const double span = meanOf(m_high) - meanOf(m_low);
    bytes->resize(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const int d = int(m_high[i]) - int(m_low[i]);
        double k = std::trunc(32768.0 * span / (double(d) + 0.01));
        if (!(k >= kGainMin))
            k = kGainMin;
        else if (k > kGainMax)
            k = kGainMax;
        const uint16_t v = uint16_t(k);
        (*bytes)[2 * i] = uint8_t(v >> 8);
        (*bytes)[2 * i + 1] = uint8_t(v & 0xFF);
    }
    return true;
}

} // namespace irsim
