#pragma once

#include "VirtualCamera.h"

#include <memory>
#include <string>

class CNetConnect;

namespace irtest {

// The in-process camera of the live-stream tests: network front on a free port,
// delays scaled like Pace, the stream at 50 frames/s.
irsim::CameraOptions liveOptions();

// Starts the camera, logs `net` in and makes it the current link. Empty when all went
// well, else what failed.
std::string startLiveCamera(std::unique_ptr<irsim::VirtualCamera>* cam, CNetConnect* net,
                            const irsim::CameraOptions& options);
// Clears the current link, closes `net` and stops the camera.
void stopLiveCamera(irsim::VirtualCamera* cam, CNetConnect* net);

} // namespace irtest
