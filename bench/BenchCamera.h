#pragma once

// The virtual camera in-process for the round-trip benchmarks: data root in a
// temporary folder, Pace at scale 1, the given poll interval, the camera started with
// `options` on a free port and `link` logged in to it. Exits the program when any of
// it fails: a figure without its camera means nothing.

#include "CNetConnect.h"
#include "VirtualCamera.h"

#include <memory>

namespace irbench_bench {

std::unique_ptr<irsim::VirtualCamera> startCameraAndLogin(irsim::CameraOptions options, CNetConnect* link,
                                                          double pollMs);

} // namespace irbench_bench
