#pragma once

#include "VirtualCamera.h"

#include <memory>
#include <string>

class CNetConnect;

namespace irtest {

// The in-process camera of the live-stream tests: network front on a free port,
// delays scaled like Pace, the stream at kLiveFps.
irsim::CameraOptions liveOptions();

// Starts the camera, logs `net` in, makes it the current link and gives transactions
// the live poll budget (kLivePollMs). Empty when all went well, else what failed.
std::string startLiveCamera(std::unique_ptr<irsim::VirtualCamera>* cam, CNetConnect* net,
                            const irsim::CameraOptions& options);
// Clears the current link, closes `net`, stops the camera and restores the poll.
void stopLiveCamera(irsim::VirtualCamera* cam, CNetConnect* net);

} // namespace irtest
