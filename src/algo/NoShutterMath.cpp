#include "NoShutterMath.h"

#include <algorithm>
#include <limits>

namespace noshutter {

namespace {

// C++ division truncates toward zero: that is the ceiling for a negative quotient.
inline int32_t ceilDiv9(int32_t s)
{
    return s >= 0 ? (s + 8) / 9 : s / 9;
}

inline int64_t floorDiv(int64_t s, int64_t d)
{
    return s >= 0 ? s / d : -((-s + d - 1) / d);
}

inline int16_t saturate16(int64_t v)
{
    return int16_t(std::clamp<int64_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

} // namespace

void runningAverageStep(uint16_t* avg, const uint16_t* frame, size_t pixels, uint32_t i)
{
    if (i == 0) {
        std::copy(frame, frame + pixels, avg);
        return;
    }
    const uint64_t d = uint64_t(i) + 1;
    for (size_t k = 0; k < pixels; ++k) {
        // x = (i * avg + d * q) / d with q = floor(frame / d); nearest, half up:
        // floor((2 * i * avg + 2 * d * q + d) / (2 * d)).
        const uint64_t q = frame[k] / d;
        const uint64_t num = 2 * uint64_t(i) * avg[k] + 2 * d * q + d;
        avg[k] = uint16_t(std::min<uint64_t>(num / (2 * d), 0xFFFF));
    }
}

void accumulate(uint32_t* acc, const uint16_t* frame, size_t pixels)
{
    for (size_t k = 0; k < pixels; ++k)
        acc[k] += frame[k];
}

bool meanFreeModel(const uint32_t* acc, size_t pixels, uint32_t frames, int16_t* model)
{
    if (frames == 0 || pixels == 0)
        return false;
    uint64_t sum = 0;
    for (size_t k = 0; k < pixels; ++k)
        sum += acc[k] / frames;
    const int64_t mean = int64_t(sum / pixels);
    for (size_t k = 0; k < pixels; ++k)
        model[k] = saturate16(int64_t(acc[k] / frames) - mean);
    return true;
}

void smooth3x3(const int16_t* in, int width, int height, int16_t* out)
{
    if (width <= 0 || height <= 0)
        return;
    const size_t w = size_t(width);
    // Row sums of three with the edge repeated, then three row sums per pixel.
    std::vector<int32_t> rows(w * size_t(height));
    for (int y = 0; y < height; ++y) {
        const int16_t* src = in + size_t(y) * w;
        int32_t* dst = rows.data() + size_t(y) * w;
        for (int x = 0; x < width; ++x) {
            const int xl = x > 0 ? x - 1 : 0;
            const int xr = x + 1 < width ? x + 1 : width - 1;
            dst[x] = int32_t(src[xl]) + src[x] + src[xr];
        }
    }
    for (int y = 0; y < height; ++y) {
        const int32_t* up = rows.data() + size_t(y > 0 ? y - 1 : 0) * w;
        const int32_t* mid = rows.data() + size_t(y) * w;
        const int32_t* down = rows.data() + size_t(y + 1 < height ? y + 1 : height - 1) * w;
        int16_t* dst = out + size_t(y) * w;
        for (size_t x = 0; x < w; ++x)
            dst[x] = int16_t(ceilDiv9(up[x] + mid[x] + down[x]));
    }
}

BlockScale blockScale(const int16_t* model, int width, int height)
{
    BlockScale r;
    const int bw = width > 0 ? width / kBlockSide : 0;
    const int bh = height > 0 ? height / kBlockSide : 0;
    std::vector<int64_t> sums(size_t(std::max(bw, 0)));
    for (int by = 0; by < bh; ++by) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = by * kBlockSide; y < (by + 1) * kBlockSide; ++y) {
            const int16_t* row = model + size_t(y) * size_t(width);
            for (int bx = 0; bx < bw; ++bx) {
                int64_t s = 0;
                for (int x = bx * kBlockSide; x < (bx + 1) * kBlockSide; ++x)
                    s += row[x];
                sums[size_t(bx)] += s;
            }
        }
        int64_t previous = 0;
        for (int bx = 0; bx < bw; ++bx) {
            const int64_t mean = floorDiv(sums[size_t(bx)], kBlockSide * kBlockSide);
            if (bx > 0)
                r.sum += uint64_t((mean - previous) * (mean - previous));
            previous = mean;
        }
    }
    if (r.sum == 0)
        return r;
    const uint64_t s = kScaleNumerator / r.sum;
    if (s > std::numeric_limits<uint32_t>::max()) {
        r.result = ScaleResult::Overflow;
        return r;
    }
    r.result = ScaleResult::Ok;
    r.scale = uint32_t(s);
    return r;
}

std::vector<uint8_t> modelFileBytes(const int16_t* model, size_t pixels, uint32_t scale)
{
    std::vector<uint8_t> out(pixels * 2 + kModelTrailerBytes, 0);
    for (size_t k = 0; k < pixels; ++k) {
        const uint16_t v = uint16_t(model[k]);
        out[2 * k] = uint8_t(v & 0xFF);
        out[2 * k + 1] = uint8_t(v >> 8);
    }
    uint8_t* s = out.data() + pixels * 2;
    for (int b = 0; b < 4; ++b)
        s[b] = uint8_t(scale >> (8 * b));
    return out;
}

} // namespace noshutter
