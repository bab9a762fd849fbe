#include "LiveCamera.h"

#include "CDevice.h"
#include "CNetConnect.h"
#include "FrameLayoutSource.h"

namespace irtest {

irsim::CameraOptions liveOptions()
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.timeScale = 0.01;
    o.stream.frameRate = 50.0;
    return o;
}

std::string startLiveCamera(std::unique_ptr<irsim::VirtualCamera>* cam, CNetConnect* net,
                            const irsim::CameraOptions& options)
{
    *cam = std::make_unique<irsim::VirtualCamera>(options);
    std::string err;
    if (!(*cam)->start(&err))
        return "camera: " + err;
    NetLoginParams p;
    p.ip = "127.0.0.1";
    p.port = (*cam)->port();
    p.user = p.password = "admin";
    if (!net->Login(p))
        return "login to port " + std::to_string(p.port) + " failed";
    net->SetFrameLayout(identifiedLayoutProvider(), identifiedAddInfoSink());
    CDevice::SetConnect(net);
    return std::string();
}

void stopLiveCamera(irsim::VirtualCamera* cam, CNetConnect* net)
{
    CDevice::SetConnect(nullptr);
    net->Close();
    if (cam)
        cam->stop();
}

} // namespace irtest
