#include "BenchCamera.h"

#include "CComonFun.h"
#include "DataExchange.h"
#include "Pace.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace irbench_bench {

std::unique_ptr<irsim::VirtualCamera> startCameraAndLogin(irsim::CameraOptions options, CNetConnect* link,
                                                          double pollMs)
{
    static QTemporaryDir root; // the logs of every transaction go there
    CComonFun::setDataRoot(root.path());
    Pace::setScale(1.0);
    DataExchange::setPollIntervalMs(pollMs);
    options.net.port = 0;
    auto cam = std::make_unique<irsim::VirtualCamera>(options);
    std::string err;
    if (!cam->start(&err)) {
        std::fprintf(stderr, "virtual camera: %s\n", err.c_str());
        std::exit(1);
    }
    NetLoginParams p;
    p.ip = "127.0.0.1";
    p.port = cam->port();
    p.user = p.password = "admin";
    if (!link->Login(p)) {
        std::fprintf(stderr, "login failed\n");
        std::exit(1);
    }
    return cam;
}

} // namespace irbench_bench
