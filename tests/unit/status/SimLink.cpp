#include "SimLink.h"

#include "CDevice.h"
#include "LinkClosing.h"
#include "DataExchange.h"

namespace irtest {

SimLink::SimLink(const std::string& preset, int deviceForm)
{
    DataExchange::setPollIntervalMs(kTestPollIntervalMs);
    irsim::CameraOptions options;
    options.net.port = 0;
    options.preset = preset;
    m_camera = std::make_unique<irsim::VirtualCamera>(options);
    if (!m_camera->start(&m_error))
        return;
    NetLoginParams params{"127.0.0.1", int(m_camera->port()), "admin", "admin", 1, deviceForm};
    if (!m_link.Login(params) || m_link.LoginHandle() < 0) {
        m_error = "login to the virtual camera failed";
        return;
    }
    CDevice::SetConnect(&m_link);
    m_ok = true;
}

SimLink::~SimLink()
{
    if (CDevice::Current() == &m_link)
        closeCurrentLink();
    else
        m_link.Close();
    m_camera->stop();
}

} // namespace irtest
