#pragma once

#include <cstdint>

// The 36-byte frame status record decoded from each frame's add-info block.
struct FrameAddInfo {
    float tFPA = 0.f;
    float tCavity = 0.f;
    float tBoard = 0.f;
    uint16_t VIEC = 0;
    uint16_t EOCC = 0;
    uint16_t TEC = 0;
    uint16_t TINT = 0;
    uint16_t SENS = 0;
    uint16_t BVAL = 0;
    uint16_t BaseL = 0;
    uint16_t Ival = 0;
    uint16_t INX = 0;
    uint16_t HBV = 0;
    uint16_t LBV = 0;
};
static_assert(sizeof(FrameAddInfo) == 36, "frame status record is 36 bytes");
