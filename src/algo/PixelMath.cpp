#include "PixelMath.h"

#include <algorithm>

namespace pixelmath {

namespace {

// Words of a width x height picture that the buffer really holds.
size_t usableWords(size_t size, int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    return std::min(size, size_t(width) * size_t(height));
}

} // namespace

bool frameMean(const uint16_t* pixels, size_t size, int width, int height, double* mean)
{
    const size_t n = pixels ? usableWords(size, width, height) : 0;
    if (n == 0 || !mean)
        return false;
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += pixels[i];
    *mean = double(sum) / double(n);
    return true;
}

bool accumulateWindow(const uint16_t* pixels, size_t size, int width, int height, int x, int y,
                      int sums[kWindowCells], int* maxIndex, int* minIndex)
{
    if (!pixels || !sums || size == 0 || width <= 0 || height <= 0)
        return false;
    const int half = kWindowSide / 2;
    int maxI = -1, minI = -1;
    for (int i = 0; i < kWindowSide; ++i) {
        const int py = y + i - half;
        if (py < 0 || py >= height)
            continue;
        for (int j = 0; j < kWindowSide; ++j) {
            const int px = x + j - half;
            if (px < 0 || px >= width)
                continue;
            const size_t at = size_t(py) * size_t(width) + size_t(px);
            if (at >= size)
                continue; // a short buffer: the rows it lacks are outside
            const int cell = i * kWindowSide + j;
            sums[cell] += pixels[at];
            if (maxI < 0 || sums[cell] >= sums[maxI])
                maxI = cell;
            if (minI < 0 || sums[cell] <= sums[minI])
                minI = cell;
        }
    }
    if (maxIndex)
        *maxIndex = maxI;
    if (minIndex)
        *minIndex = minI;
    return true;
}

} // namespace pixelmath
