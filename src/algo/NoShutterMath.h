#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The no-shutter base and the NVFFC model over plain buffers. Frames are W x H 16-bit
// pixels, row-major (image rows only). Nothing here allocates per pixel step or keeps
// state between calls.
namespace noshutter {

// One step of the base's running average, frame `i` (0-based) into `avg`:
// i = 0 copies the frame; after that each pixel becomes the nearest integer to
// i / (i + 1) x avg + floor(frame / (i + 1)), a half rounded up. Integer arithmetic
// throughout: a float product can land a hair below a half and round it down.
void runningAverageStep(uint16_t* avg, const uint16_t* frame, size_t pixels, uint32_t i);

// Adds a frame into the per-pixel 32-bit accumulators (64 frames of 14-bit pixels
// stay far below 2^32).
void accumulate(uint32_t* acc, const uint16_t* frame, size_t pixels);

// The mean-free model of `frames` accumulated frames: average = acc / frames, then
// average - mean of the averages (both integer divisions). False for no frames or no
// pixels. Values beyond the 16-bit range (never from 14-bit pixels) are saturated.
bool meanFreeModel(const uint32_t* acc, size_t pixels, uint32_t frames, int16_t* model);

// ceil(mean of the 3 x 3 neighbourhood) of every pixel, the image padded by one pixel
// that repeats the nearest edge (corners from the corner pixels). `in` and `out` must
// not overlap.
void smooth3x3(const int16_t* in, int width, int height, int16_t* out);

// The block roughness of the smoothed model: 16 x 16 blocks, block row by block row;
// only whole blocks count (a partial last block row or column is left out). Each
// block's mean is rounded down; every block after the first of its row adds the square
// of (its mean - the previous block's mean). S = floor(2^39 / sum).
constexpr int kBlockSide = 16;
constexpr uint64_t kScaleNumerator = uint64_t(1) << 39;
enum class ScaleResult {
    Ok,
    Flat,     // sum 0 (also without two whole blocks in a row): S = 0
    Overflow, // S does not fit its 32-bit field (sum of 128 or less)
};
struct BlockScale {
    ScaleResult result = ScaleResult::Flat;
    uint64_t sum = 0;
    uint32_t scale = 0;
};
BlockScale blockScale(const int16_t* model, int width, int height);

// The model file: W x H signed 16-bit little-endian values, S little-endian 32-bit,
// then two trailer bytes (zero): W x H x 2 + 6 bytes.
constexpr size_t kModelTrailerBytes = 6;
std::vector<uint8_t> modelFileBytes(const int16_t* model, size_t pixels, uint32_t scale);

} // namespace noshutter
