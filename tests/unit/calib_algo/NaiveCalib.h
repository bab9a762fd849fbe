#pragma once

// The direct forms of the calibration algorithms, written as plainly as their
// definitions: every frame held, the full window summed, the window values sorted.
// Tests and benchmarks compare the fast forms with these.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace naive {

using Frame = std::vector<uint16_t>;

inline Frame average(const std::vector<Frame>& frames, size_t pixels)
{
    Frame avg(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t sum = 0;
        for (const Frame& f : frames)
            sum += f[i];
        avg[i] = uint16_t(sum / uint32_t(frames.size()));
    }
    return avg;
}

inline double mean(const Frame& avg)
{
    uint64_t sum = 0;
    for (uint16_t v : avg)
        sum += v;
    return std::trunc(double(sum) / double(avg.size()) * 10.0) / 10.0;
}

// K per pixel: truncate first, then clamp.
inline Frame gains(const std::vector<Frame>& low, const std::vector<Frame>& high, size_t pixels)
{
    const Frame l = average(low, pixels);
    const Frame h = average(high, pixels);
    const double ml = mean(l);
    const double mh = mean(h);
    Frame k(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const int d = int(h[i]) - int(l[i]);
        double v = std::trunc(32768.0 * ((mh - ml) / (d + 0.01)));
        v = std::min(std::max(v, 25000.0), 45000.0);
        k[i] = uint16_t(v);
    }
    return k;
}

struct Pt {
    int x, y;
};

// Sums the whole 25 x 25 window of every pixel.
inline std::vector<Pt> detectV10(const uint16_t* img, int w, int h, int bright, int dark)
{
    std::vector<Pt> out;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t sum = 0, n = 0;
            for (int yy = std::max(y - 12, 0); yy <= std::min(y + 12, h - 1); ++yy)
                for (int xx = std::max(x - 12, 0); xx <= std::min(x + 12, w - 1); ++xx) {
                    sum += img[yy * w + xx];
                    ++n;
                }
            const uint16_t m = uint16_t(std::ceil(double(sum) / double(n)));
            const int v = img[y * w + x];
            if (v > m + bright || v < m - dark)
                out.push_back({x, y});
        }
    }
    return out;
}

// Exchange-sorts the good values of the 5 x 5 window, high to low, and takes n / 2.
inline int detectV20(const uint16_t* img, int w, int h, int bright, uint8_t* map)
{
    int found = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (map[y * w + x])
                continue;
            int vals[25];
            int n = 0;
            for (int yy = std::max(y - 2, 0); yy <= std::min(y + 2, h - 1); ++yy)
                for (int xx = std::max(x - 2, 0); xx <= std::min(x + 2, w - 1); ++xx)
                    if (!map[yy * w + xx])
                        vals[n++] = img[yy * w + xx];
            for (int i = 0; i < n; ++i)
                for (int j = i + 1; j < n; ++j)
                    if (vals[j] > vals[i])
                        std::swap(vals[i], vals[j]);
            const int med = vals[n / 2];
            const int v = img[y * w + x];
            if (v < med - bright || v > med + bright) {
                map[y * w + x] = 1;
                ++found;
            }
        }
    }
    return found;
}

} // namespace naive
