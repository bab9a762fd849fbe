#include "VirtualCamera.h"

#include "Presets.h"

namespace irsim {

VirtualCamera::VirtualCamera(const CameraOptions& options) : m_options(options)
{
    m_core.setTimeScale(options.timeScale);
    m_core.setLongCommandDelayMs(options.longCommandDelayMs);
    m_core.setCompletionDelayMs(options.completionDelayMs);
    m_core.setBlockProgramMs(options.blockProgramMs);
    m_core.faults().setSeed(options.seed);
    m_baud.store(options.baud > 0 ? options.baud : 0);
}

VirtualCamera::~VirtualCamera()
{
    stop();
}

bool VirtualCamera::start(std::string* error)
{
    if (m_running)
        return true;
    const Identity* preset = findPreset(m_options.preset);
    if (!preset) {
        if (error)
            *error = "unknown preset \"" + m_options.preset + "\" (see --list-presets)";
        return false;
    }
    m_core.setIdentity(*preset);
    if (!m_options.network && !m_options.serial) {
        if (error)
            *error = "neither the network nor the serial front is enabled";
        return false;
    }

    auto feed = [this](const PeerPtr& peer, const uint8_t* data, size_t len) {
        m_core.receive(peer, data, len);
    };
    if (m_options.serial) {
        m_pty = std::make_unique<PtyFront>();
        m_pty->setDataHandler(feed);
        if (!m_pty->start(error)) {
            m_pty.reset();
            return false;
        }
    }
    if (m_options.network) {
        m_net = std::make_unique<NetFront>(m_options.net);
        m_net->setSerialHandler(feed);
        m_net->setPeerClosedHandler([this](const PeerPtr& peer) { m_core.forgetPeer(peer.get()); });
        if (!m_net->start(error)) {
            m_net.reset();
            if (m_pty) {
                m_pty->stop();
                m_pty.reset();
            }
            return false;
        }
    }
    setBaud(m_baud.load());
    // The picture exists with or without a network front: the core's own calibration
    // commands look at it too. Only the network front streams it.
    NetFront* front = m_net.get();
    FrameStreamer::SendFn send = [front](const uint8_t* data, size_t len) {
        if (front)
            front->sendStream(data, len);
    };
    StreamOptions streamOptions = m_options.stream;
    streamOptions.timeScale = m_options.timeScale;
    m_stream = std::make_unique<FrameStreamer>(
        streamOptions, send, [front] { return front && front->anyStreaming(); },
        [this] { return m_core.identity(); });
    FrameStreamer* stream = m_stream.get();
    m_core.setWriteObserver([stream](bool isShort, uint32_t address, uint32_t value) {
        stream->onRegisterWrite(isShort, address, value);
    });
    m_core.setGainObserver([stream](const std::vector<uint8_t>& table) { stream->setGainTable(table); });
    m_core.setPictureSource([stream](const Identity& id, int frames, std::vector<uint16_t>* average, int* width,
                                     int* rows) { return stream->averagePicture(id, frames, average, width, rows); });
    m_stream->start();
    m_running = true;
    return true;
}

void VirtualCamera::stop()
{
    if (m_stream) {
        m_stream->stop();
        m_core.setWriteObserver({});
        m_core.setPictureSource({});
        m_core.setGainObserver({});
        m_stream.reset();
    }
    if (m_net)
        m_net->stop();
    if (m_pty)
        m_pty->stop();
    // Late replies still hold their client; they must be gone before the fronts
    // (and the lines they would cross) are.
    m_core.cancelPending();
    m_net.reset();
    m_pty.reset();
    m_running = false;
}

void VirtualCamera::setBaud(int baud)
{
    baud = baud > 0 ? baud : 0;
    m_baud.store(baud);
    if (m_pty) {
        m_pty->line().setTimeScale(m_options.timeScale);
        m_pty->line().setBaud(baud);
    }
    if (m_net) {
        m_net->serialLine().setTimeScale(m_options.timeScale);
        m_net->serialLine().setBaud(baud);
    }
}

void VirtualCamera::setBlockProgramMs(int ms)
{
    m_core.setBlockProgramMs(ms);
}

uint64_t VirtualCamera::serialBytesFromHost() const
{
    return (m_pty ? m_pty->line().bytesFromHost() : 0) + (m_net ? m_net->serialLine().bytesFromHost() : 0);
}

uint64_t VirtualCamera::serialBytesToHost() const
{
    return (m_pty ? m_pty->line().bytesToHost() : 0) + (m_net ? m_net->serialLine().bytesToHost() : 0);
}

uint16_t VirtualCamera::port() const
{
    return m_net ? m_net->port() : 0;
}

std::string VirtualCamera::ptyPath() const
{
    return m_pty ? m_pty->slavePath() : std::string();
}

} // namespace irsim
