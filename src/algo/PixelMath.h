#pragma once

#include <cstddef>
#include <cstdint>

// Arithmetic on one frame's pixels as the pages show it: the frame mean and the 5 x 5
// neighbourhood of the core's cursor. `pixels` holds `size` words, row-major, `width`
// words a row; `height` is the number of rows to use (image rows only, or the core's
// whole geometry, as the caller decides). Nothing is read past `size`.
namespace pixelmath {

constexpr int kWindowSide = 5;
constexpr int kWindowCells = kWindowSide * kWindowSide;

// Mean of the first width x height words (fewer when `size` ends first). False, and
// `mean` untouched, when there is nothing to average.
bool frameMean(const uint16_t* pixels, size_t size, int width, int height, double* mean);

// Adds the 5 x 5 window centred on pixel (x, y) (0-based) into `sums`, row by row;
// cells outside the picture get nothing. `maxIndex` / `minIndex` get the largest and
// the smallest covered cell (ties: the later cell), -1 when none is covered. False,
// and nothing touched, without a picture.
bool accumulateWindow(const uint16_t* pixels, size_t size, int width, int height, int x, int y,
                      int sums[kWindowCells], int* maxIndex, int* minIndex);

} // namespace pixelmath
