#include "FrameAddInfoDecoder.h"

namespace {

// A 13-bit magnitude with its sign above it: 8192 + n stands for -n.
int signedTemperature(int v)
{
    return v >= 8192 ? 8192 - v : v;
}

float scaleTemperature(int v, int sensorType)
{
    switch (sensorType) {
    case 1: return float(v) / 50.f;
    case 2:
    case 4:
    case 5: return float(v);
    default: return float(v) / 100.f;
    }
}

} // namespace

FrameAddInfo decodeFrameAddInfo(const AddInfoLayout& layout, const uint16_t* frame, size_t frameWords,
                                const uint8_t block[60])
{
    FrameAddInfo info;
    const int cls = layout.coreClass;
    if (cls >= 1 && cls <= 4) {
        const size_t k = cls == 3 ? 4 : 10;
        const size_t end = layout.coreWidth > 0 && layout.coreHeight > 0
            ? size_t(layout.coreWidth) * size_t(layout.coreHeight) : 0;
        if (!frame || end < k || end > frameWords)
            return info; // the core's geometry does not fit this frame
        const uint16_t* t = frame + (end - k);
        if (cls == 3) {
            info.tFPA = float(t[0]);
            info.VIEC = t[1];
            info.EOCC = t[2];
            info.BVAL = t[3];
        } else {
            info.Ival = t[2];
            info.INX = t[3];
            info.LBV = t[4];
            info.HBV = t[5];
            info.tFPA = float(signedTemperature(t[6]));
            info.VIEC = t[7];
            info.EOCC = t[8];
            info.BVAL = t[9];
        }
        return info;
    }
    if (!block)
        return info;
    uint16_t w[30];
    for (int i = 0; i < 30; ++i)
        w[i] = uint16_t(block[2 * i] | (block[2 * i + 1] << 8));
    const int t0 = signedTemperature(int16_t(w[0]));
    const int t1 = signedTemperature(int16_t(w[1]));
    const int t2 = signedTemperature(int16_t(w[2]));
    const int type = layout.sensorType;
    info.tFPA = scaleTemperature(t0, type);
    info.tCavity = scaleTemperature(t1, type);
    info.tBoard = (type == 2 || type == 5) ? 0.f : scaleTemperature(t2, type);
    info.VIEC = w[3];
    info.EOCC = w[4];
    info.TEC = w[5];
    info.TINT = w[10];
    info.BVAL = w[11];
    info.SENS = w[13];
    info.BaseL = w[16];
    return info;
}
