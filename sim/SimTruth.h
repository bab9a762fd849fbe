#pragma once

#include <string>

namespace irsim {

class VirtualCamera;

// The camera's truth as a text file, for scripts that judge a calibration against it:
//   size W ROWS            image size (info rows left out)
//   noise SIGMA            temporal noise of a working pixel, counts
//   dead X Y | hot X Y | noisy X Y   one line per injected pixel, 0-based
//   gain Y g0 g1 ...       relative response of each pixel of image row Y
//   offset Y o0 o1 ...     fixed offset in counts the picture shows (after shutter)
// Written to a temporary beside `path` and renamed, so a reader never sees half.
bool writeTruthFile(VirtualCamera& camera, const std::string& path, std::string* error);

} // namespace irsim
