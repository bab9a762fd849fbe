#include "AgcProcessor.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kLevels = AgcProcessor::kLevels;
constexpr int kMax = AgcProcessor::kMaxValue;

inline int clampGrey(int64_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : int(v));
}

} // namespace

int AgcProcessor::QueryMemory(int* bytes)
{
    if (!bytes)
        return ErrNull;
    *bytes = kMemoryBytes;
    return Ok;
}

AgcProcessor::AgcProcessor() = default;
AgcProcessor::~AgcProcessor() = default;

int AgcProcessor::Create(int width, int height)
{
    if (width <= 0 || height <= 0)
        return ErrNull;
    if (!m_mem) {
        m_mem.reset(new (std::nothrow) uint64_t[(kMemoryBytes + 7) / 8]);
        if (!m_mem)
            return ErrMemory;
    }
    std::memset(m_mem.get(), 0, kMemoryBytes);
    Params& p = params();
    p.width = width;
    p.height = height;
    p.gain = 256;
    p.contrast = 220;
    SetMode(ModeLine);
    return Ok;
}

const AgcProcessor::Params& AgcProcessor::params() const
{
    return *reinterpret_cast<const Params*>(m_mem.get());
}

AgcProcessor::Params& AgcProcessor::params()
{
    return *reinterpret_cast<Params*>(m_mem.get());
}

const uint8_t* AgcProcessor::lut() const
{
    return reinterpret_cast<const uint8_t*>(m_mem.get()) + kParamBytes;
}

const uint16_t* AgcProcessor::histogram() const
{
    return reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(m_mem.get()) + kParamBytes + kLevels);
}

int AgcProcessor::SetMode(int mode)
{
    if (!m_mem)
        return ErrNull;
    Params& p = params();
    switch (mode) {
    case ModeLine:
        p.lowClip = 20;
        p.highClip = 20;
        p.brightness = 100;
        p.contrast = 220;
        p.minRange = 160;
        break;
    case ModeHisteq:
        p.lowClip = 20;
        p.highClip = 20;
        p.brightness = 96;
        p.minRange = 160;
        break;
    case ModeSpecial:
        p.lowClip = 10;
        p.highClip = 20;
        p.brightness = 80;
        p.contrast = 150;
        p.minRange = 120;
        break;
    default:
        return ErrMode;
    }
    p.mode = uint8_t(mode);
    return Ok;
}

void AgcProcessor::buildHistogram(const uint16_t* in, size_t n)
{
    // Full counts first, in two interleaved tables so that runs of equal pixels do not
    // wait on each other; then saturated at 16383 like the core's histogram unit.
    m_counts.assign(size_t(2) * kLevels, 0);
    uint32_t* c0 = m_counts.data();
    uint32_t* c1 = c0 + kLevels;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        ++c0[std::min<unsigned>(in[i], kMax)];
        ++c1[std::min<unsigned>(in[i + 1], kMax)];
    }
    if (i < n)
        ++c0[std::min<unsigned>(in[i], kMax)];
    uint16_t* hist = const_cast<uint16_t*>(histogram());
    for (int b = 0; b < kLevels; ++b)
        hist[b] = uint16_t(std::min<uint32_t>(c0[b] + c1[b], kMax));
}

void AgcProcessor::findRange(size_t n)
{
    const Params& p = params();
    const uint16_t* hist = histogram();
    const int64_t lowCount = int64_t(p.lowClip) * int64_t(n) / 1000;
    const int64_t highCount = int64_t(p.highClip) * int64_t(n) / 1000;
    const int64_t outliers = std::min<int64_t>(highCount, 16);

    int low = 0;
    int64_t run = 0;
    for (int i = 0; i < kLevels; ++i) {
        run += hist[i];
        if (run > lowCount) {
            low = i;
            break;
        }
    }
    int top = kMax;
    run = 0;
    int j = kMax;
    for (; j >= 0; --j) {
        run += hist[j];
        if (run > outliers) {
            top = j;
            break;
        }
    }
    if (j < 0)
        top = kMax;
    // The bright end continues from just below the outliers with the same sum.
    int high = top - 1;
    for (int k = top - 1; k >= 1; --k) {
        run += hist[k];
        if (run > highCount) {
            high = k;
            break;
        }
    }
    if (low >= high)
        high = low + 1;
    top = std::max(top, high);

    auto meanOver = [hist](int from, int to) { // bins [from, to)
        int64_t weight = 0, sum = 0;
        for (int i = std::max(from, 0); i < std::min(to, kLevels); ++i) {
            weight += hist[i];
            sum += int64_t(i) * hist[i];
        }
        if (weight == 0) {
            weight = 1;
            sum = 0;
        }
        return int(double(sum) / double(weight) + 0.5);
    };
    m_stats.low = low;
    m_stats.high = high;
    m_stats.top = top;
    m_stats.mean = meanOver(low, high);
    m_stats.lowerMean = meanOver(low, m_stats.mean);
    m_stats.upperMean = high < m_stats.mean ? 0 : meanOver(m_stats.mean, high + 1);
}

void AgcProcessor::buildLine()
{
    Params& p = params();
    uint8_t* table = const_cast<uint8_t*>(lut());
    const int64_t d = std::max<int64_t>(m_stats.high - m_stats.low, p.minRange);
    const int64_t f = d > 0 ? int64_t(p.contrast) * 256 / d : 0;
    const int64_t shift = (int64_t(m_stats.mean) * f) >> 8;
    for (int i = 0; i < kLevels; ++i)
        table[i] = uint8_t(clampGrey(int64_t(p.brightness) + ((int64_t(i) * f) >> 8) - shift));
    p.gain = uint16_t(f);
}

void AgcProcessor::buildHisteq()
{
    Params& p = params();
    uint8_t* table = const_cast<uint8_t*>(lut());
    const uint16_t* hist = histogram();
    int64_t total = 0;
    for (int i = 0; i < kLevels; ++i)
        total += std::min<int>(hist[i], 32);
    if (total == 0)
        total = 1;
    // The equalised table first (table(i) = clipped cumulative count x 255 / S).
    int64_t cum = 0;
    for (int i = 0; i < kLevels; ++i) {
        cum += std::min<int>(hist[i], 32);
        table[i] = uint8_t(cum * 255 / total);
    }
    const int64_t range = m_stats.high - m_stats.low;
    const int64_t minRange = p.minRange > 0 ? p.minRange : 1;
    const int64_t e = std::min<int64_t>(minRange, range) * 256 / minRange;
    const int64_t base = int64_t(p.brightness) - ((e * table[m_stats.mean]) >> 8);
    for (int i = 0; i < kLevels; ++i)
        table[i] = uint8_t(clampGrey(base + ((e * table[i]) >> 8)));
    p.gain = uint16_t(e);
}

void AgcProcessor::buildSpecial()
{
    Params& p = params();
    uint8_t* table = const_cast<uint8_t*>(lut());
    const uint16_t* hist = histogram();
    const int mean = m_stats.mean;
    const int top = m_stats.top;
    // The core keeps these in 16-bit registers; keep their wrap-around.
    const uint16_t spread = uint16_t(std::min(m_stats.upperMean - mean, mean - m_stats.lowerMean));
    uint16_t g = uint16_t(std::max<int>(6 * int(spread), p.minRange));
    if (g == 0)
        g = 1;
    const uint16_t knee = uint16_t(mean + 4 * int(spread));
    const uint16_t l = uint16_t(int(p.contrast) * 256 / g);
    const int64_t m = int64_t(p.brightness) - ((int64_t(mean) * l) >> 8);
    const uint16_t r = uint16_t(m + ((int64_t(l) * knee) >> 8));

    bool twoPart = knee < top && r < 255 && ((int64_t(255 - r) << 8) / (top - knee)) < l;
    int64_t aboveSum = 0;
    if (twoPart) {
        for (int i = knee + 1; i < kLevels; ++i)
            aboveSum += std::min<int>(hist[i], 4);
        // Nothing above the knee: the equalised part has no counts to spread.
        if (aboveSum == 0)
            twoPart = false;
    }
    if (twoPart) {
        for (int i = 0; i <= knee; ++i)
            table[i] = uint8_t(clampGrey(m + ((int64_t(i) * l) >> 8)));
        int64_t cum = 0;
        for (int i = knee + 1; i < kLevels; ++i) {
            cum += std::min<int>(hist[i], 4);
            table[i] = uint8_t(clampGrey(int64_t(r) + int64_t(255 - r) * cum / aboveSum));
        }
    } else {
        for (int i = 0; i < kLevels; ++i)
            table[i] = uint8_t(clampGrey(m + ((int64_t(i) * l) >> 8)));
    }
    p.gain = l;
}

int AgcProcessor::Process(const uint16_t* in, uint8_t* out, uint8_t* lutCopy)
{
    if (!m_mem || !in || !out)
        return ErrNull;
    const Params& p = params();
    const size_t n = size_t(p.width) * size_t(p.height);
    buildHistogram(in, n);
    findRange(n);
    switch (p.mode) {
    case ModeHisteq: buildHisteq(); break;
    case ModeSpecial: buildSpecial(); break;
    default: buildLine(); break;
    }
    const uint8_t* table = lut();
    for (size_t i = 0; i < n; ++i)
        out[i] = table[std::min<unsigned>(in[i], kMax)];
    if (lutCopy)
        std::memcpy(lutCopy, table, kLevels);
    return Ok;
}
