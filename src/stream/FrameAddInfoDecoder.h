#pragma once

#include "FrameAddInfo.h"

#include <cstddef>
#include <cstdint>

// Where a core class keeps its housekeeping values in a frame and how its sensor type
// scales the temperatures.
struct AddInfoLayout {
    int coreClass = 0;  // 0..4
    int sensorType = 0; // sensor type code of the core
    int coreWidth = 0;  // the core's frame geometry (info rows included)
    int coreHeight = 0;
};

// Decodes the frame status record. Classes 1 to 4 read a trailer at the end of the
// core's frame (word index coreWidth x coreHeight - k); every other class the 60-byte
// add-info block. Nothing outside `frameWords` is read: a trailer the frame does not
// hold leaves its fields 0. `frame` may be null (trailer fields stay 0).
FrameAddInfo decodeFrameAddInfo(const AddInfoLayout& layout, const uint16_t* frame, size_t frameWords,
                                const uint8_t block[60]);
