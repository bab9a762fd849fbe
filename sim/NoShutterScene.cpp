#include "NoShutterScene.h"

#include <algorithm>
#include <cmath>

namespace irsim {

namespace {

constexpr double kMax = 16383.0;

uint16_t clamp14(double v)
{
    return uint16_t(std::clamp(std::lround(v), 0L, long(kMax)));
}

} // namespace

double lidCounts(int x, int y, int width, int rows, double amplitude)
{
    const double cx = (width - 1) * 0.5, cy = (rows - 1) * 0.5;
    const double far2 = cx * cx + cy * cy;
    if (far2 <= 0)
        return 0;
    return amplitude * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / far2;
}

std::vector<float> lidPattern(int width, int rows, double amplitude)
{
    std::vector<float> out(size_t(std::max(width, 0)) * size_t(std::max(rows, 0)));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x)
            out[size_t(y) * size_t(width) + size_t(x)] = float(lidCounts(x, y, width, rows, amplitude));
    return out;
}

void addLid(uint16_t* frame, int width, int rows, double amplitude)
{
    if (amplitude == 0)
        return;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            uint16_t& v = frame[size_t(y) * size_t(width) + size_t(x)];
            v = clamp14(v + lidCounts(x, y, width, rows, amplitude));
        }
}

void fillUniform(uint16_t* frame, int width, int rows, double count)
{
    std::fill(frame, frame + size_t(width) * size_t(rows), clamp14(count));
}

void writeFrameCounter(uint16_t* frame, int width, int rows, uint32_t counter)
{
    if (width < kCounterWord + 2)
        return;
    uint16_t* w = frame + size_t(width) * size_t(rows) + kCounterWord;
    w[0] = uint16_t(counter & 0xFFFF);
    w[1] = uint16_t(counter >> 16);
}

uint32_t readFrameCounter(const uint16_t* frame, int width, int rows)
{
    if (width < kCounterWord + 2)
        return 0;
    const uint16_t* w = frame + size_t(width) * size_t(rows) + kCounterWord;
    return uint32_t(w[0]) | (uint32_t(w[1]) << 16);
}

} // namespace irsim
