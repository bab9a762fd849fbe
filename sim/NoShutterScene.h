#pragma once

#include <cstdint>
#include <vector>

namespace irsim {

// The no-shutter bench: what a core without a shutter sees when its lid correction
// (0x70C6) is off. The lid (lens cover) radiates a smooth bowl onto the detector:
// nothing in the middle, `amplitude` counts in the corners. With the uniform scene
// every image pixel reads the same count, so the bowl is all the picture holds: the
// ground truth an NVFFC model is compared with, and with amplitude 0 the flat case.

// The bowl's counts at image pixel (x, y) of a width x rows image.
double lidCounts(int x, int y, int width, int rows, double amplitude);
// The whole bowl, width x rows in image order.
std::vector<float> lidPattern(int width, int rows, double amplitude);
// Adds the bowl to the image rows of `frame` (clamped to 14 bits).
void addLid(uint16_t* frame, int width, int rows, double amplitude);
// Fills the image rows with one count (clamped to 14 bits).
void fillUniform(uint16_t* frame, int width, int rows, double count);

// The frame counter in the picture: a 32-bit count of rendered frames, low word
// first, in words 40 and 41 of the first info row (after the 60-byte add-info block,
// before any class trailer), so that a recording can be checked frame by frame.
constexpr int kCounterWord = 40;
void writeFrameCounter(uint16_t* frame, int width, int rows, uint32_t counter);
uint32_t readFrameCounter(const uint16_t* frame, int width, int rows);

} // namespace irsim
