#include "CTwoPointNuc.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Vectors that release their memory, not just their size.
template <typename T>
void freeVector(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

template <typename T>
bool sizeVector(std::vector<T>& v, size_t n)
{
    try {
        if (v.size() != n) {
            freeVector(v);
            v.resize(n);
        }
        return true;
    } catch (const std::bad_alloc&) {
        freeVector(v);
        return false;
    }
}

} // namespace

bool CTwoPointNuc::SetSize(uint32_t width, uint32_t height)
{
    release();
    m_width = 0;
    m_height = 0;
    if (width == 0 || height == 0 || uint64_t(width) * height > kMaxPixels)
        return false;
    m_width = width;
    m_height = height;
    return true;
}

void CTwoPointNuc::release()
{
    freeVector(m_sum);
    freeVector(m_avgLow);
    freeVector(m_avgHigh);
    freeVector(m_gain);
    m_state = StateEmpty;
    m_open = -1;
    m_frames = 0;
    m_meanLow = 0;
    m_meanHigh = 0;
}

bool CTwoPointNuc::BeginSet(Set set)
{
    m_open = -1;
    m_frames = 0;
    if (pixelCount() == 0 || !sizeVector(m_sum, pixelCount()))
        return false;
    std::fill(m_sum.begin(), m_sum.end(), 0u);
    m_open = set;
    return true;
}

bool CTwoPointNuc::AddFrame(const uint16_t* pixels)
{
    if (m_open < 0 || !pixels || m_frames >= kMaxFrames)
        return false;
    uint32_t* sum = m_sum.data();
    const size_t n = pixelCount();
    for (size_t i = 0; i < n; ++i)
        sum[i] += pixels[i];
    ++m_frames;
    return true;
}

bool CTwoPointNuc::AddFrameBytes(const uint8_t* bytes)
{
    if (m_open < 0 || !bytes || m_frames >= kMaxFrames)
        return false;
    uint32_t* sum = m_sum.data();
    const size_t n = pixelCount();
    for (size_t i = 0; i < n; ++i)
        sum[i] += uint32_t(bytes[2 * i]) | (uint32_t(bytes[2 * i + 1]) << 8);
    ++m_frames;
    return true;
}

bool CTwoPointNuc::EndSet()
{
    const int set = m_open;
    const int frames = m_frames;
    m_open = -1;
    m_frames = 0;
    if (set < 0 || frames == 0) {
        freeVector(m_sum);
        return false;
    }
    std::vector<uint16_t>& avg = set == LowSet ? m_avgLow : m_avgHigh;
    if (!sizeVector(avg, pixelCount())) {
        freeVector(m_sum);
        return false;
    }
    const size_t n = pixelCount();
    const uint32_t count = uint32_t(frames);
    for (size_t i = 0; i < n; ++i)
        avg[i] = uint16_t(m_sum[i] / count);
    freeVector(m_sum);

    const double mean = MeanOf(avg.data(), n);
    if (set == LowSet) {
        m_meanLow = mean;
        if (m_state == StateHigh)
            m_state = StateBoth;
        else if (m_state == StateEmpty || m_state == StateGain)
            m_state = StateLow;
    } else {
        m_meanHigh = mean;
        if (m_state == StateLow)
            m_state = StateBoth;
        else if (m_state == StateEmpty || m_state == StateGain)
            m_state = StateHigh;
    }
    if (m_state != StateGain)
        freeVector(m_gain);
    return true;
}

bool CTwoPointNuc::LoadSet(Set set, const uint16_t* const* frames, int count)
{
    if (!frames || count <= 0 || !BeginSet(set))
        return false;
    for (int i = 0; i < count; ++i) {
        if (!AddFrame(frames[i])) {
            m_open = -1;
            freeVector(m_sum);
            return false;
        }
    }
    return EndSet();
}

uint16_t CTwoPointNuc::GainFor(int high, int low, double meanHigh, double meanLow)
{
    const int d = high - low;
    const double r = (meanHigh - meanLow) / (d + 0.01);
    const double k = 32768.0 * r;
    // Clamped as a double: an integer cast of a huge ratio (H = L with means far
    // apart) would wrap instead of saturating.
    if (k <= kGainMin)
        return kGainMin;
    if (k >= kGainMax)
        return kGainMax;
    return uint16_t(k); // toward zero
}

double CTwoPointNuc::MeanOf(const uint16_t* image, size_t count)
{
    if (!image || count == 0)
        return 0;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += image[i];
    const double mean = double(sum) / double(count);
    return std::trunc(mean * 10.0) / 10.0;
}

bool CTwoPointNuc::Compute()
{
    if (m_state != StateBoth || m_avgLow.size() != pixelCount() || m_avgHigh.size() != pixelCount())
        return false;
    if (!sizeVector(m_gain, pixelCount()))
        return false;
    const size_t n = pixelCount();
    const uint16_t* hi = m_avgHigh.data();
    const uint16_t* lo = m_avgLow.data();
    for (size_t i = 0; i < n; ++i)
        m_gain[i] = GainFor(hi[i], lo[i], m_meanHigh, m_meanLow);
    m_state = StateGain;
    return true;
}

const uint16_t* CTwoPointNuc::Average(Set set) const
{
    const std::vector<uint16_t>& avg = set == LowSet ? m_avgLow : m_avgHigh;
    return avg.size() == pixelCount() && !avg.empty() ? avg.data() : nullptr;
}

const uint16_t* CTwoPointNuc::Gains() const
{
    return m_state == StateGain ? m_gain.data() : nullptr;
}

std::vector<uint8_t> CTwoPointNuc::GainFileBytes() const
{
    std::vector<uint8_t> out;
    if (m_state != StateGain)
        return out;
    out.resize(m_gain.size() * 2);
    for (size_t i = 0; i < m_gain.size(); ++i) {
        out[2 * i] = uint8_t(m_gain[i] >> 8);
        out[2 * i + 1] = uint8_t(m_gain[i]);
    }
    return out;
}

size_t CTwoPointNuc::MemoryBytes() const
{
    return m_sum.capacity() * sizeof(uint32_t)
        + (m_avgLow.capacity() + m_avgHigh.capacity() + m_gain.capacity()) * sizeof(uint16_t);
}
