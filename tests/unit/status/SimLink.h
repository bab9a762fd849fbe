#pragma once

#include "CNetConnect.h"
#include "VirtualCamera.h"

#include <memory>
#include <string>

namespace irtest {

// A virtual camera with the given identity preset, in-process on a free port, and a
// network link logged in to it and made the current link.
class SimLink {
public:
    SimLink(const std::string& preset, int deviceForm);
    ~SimLink();

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    irsim::VirtualCamera& camera() { return *m_camera; }
    CNetConnect& link() { return m_link; }

private:
    std::unique_ptr<irsim::VirtualCamera> m_camera;
    CNetConnect m_link;
    bool m_ok = false;
    std::string m_error;
};

// Poll interval for device tests: short, but with room for the loopback round trip.
constexpr double kTestPollIntervalMs = 500.0;

} // namespace irtest
