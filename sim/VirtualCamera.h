#pragma once

#include "CoreModel.h"
#include "Faults.h"
#include "FrameStreamer.h"
#include "NetFront.h"
#include "PtyFront.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace irsim {

struct CameraOptions {
    NetFront::Options net;
    bool network = true;
    bool serial = false;
    std::string preset = "default";
    double timeScale = 1.0;      // multiplies every simulated delay
    int longCommandDelayMs = 3000;
    int completionDelayMs = 1500; // capture commands' completion reply; negative: none
    StreamOptions stream;         // live stream of the network front
    int baud = 0;                 // the core's serial line (8N1), both fronts; 0: no limit
    int blockProgramMs = 0;       // flash time of each 0xEE data block before its ack
    uint32_t seed = FaultInjector::kDefaultSeed; // random choices of the faults
};

// The whole virtual camera in one object: core model plus the fronts asked for.
class VirtualCamera {
public:
    explicit VirtualCamera(const CameraOptions& options);
    ~VirtualCamera();
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    bool start(std::string* error);
    void stop();
    bool running() const { return m_running; }

    uint16_t port() const;
    std::string ptyPath() const;
    CoreModel& core() { return m_core; }
    FaultInjector& faults() { return m_core.faults(); }
    // The picture and live stream (null before start; without the network front it
    // is rendered only for the core's own calibration commands).
    FrameStreamer* stream() { return m_stream.get(); }
    const CameraOptions& options() const { return m_options; }

    // Line speed and flash time, also while running (0: no line limit / no flash time).
    void setBaud(int baud);
    int baud() const { return m_baud.load(); }
    void setBlockProgramMs(int ms);
    int blockProgramMs() const { return m_core.blockProgramMs(); }
    // Bytes on the core's serial line, both fronts together: from the host (as they
    // reached the core) and to the host (as they left the line).
    uint64_t serialBytesFromHost() const;
    uint64_t serialBytesToHost() const;
    uint64_t dataBlocksProgrammed() const { return m_core.dataBlocksProgrammed(); }
    // Network connections that have not logged in (yet).
    int pendingLogins() const { return m_net ? m_net->pendingCount() : 0; }

private:
    CameraOptions m_options;
    CoreModel m_core;
    std::unique_ptr<NetFront> m_net;
    std::unique_ptr<PtyFront> m_pty;
    std::unique_ptr<FrameStreamer> m_stream;
    bool m_running = false;
    std::atomic<int> m_baud{0};
};

} // namespace irsim
