#pragma once

#include "DriftSim.h"
#include "FrameSource.h"
#include "Presets.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace irsim {

struct StreamOptions {
    double frameRate = 25.0;
    bool withCrc = true;
    // Faults, each on every Nth packet (0: off).
    int corruptCrcEvery = 0;   // CRC tag off by one: the host must drop the frame
    int garbageEvery = 0;      // noise bytes between two packets
    int garbageBytes = 301;
    int truncateEvery = 0;     // the packet's last quarter never sent
    // Each packet goes out in chunks of varying size within these bounds.
    size_t minChunk = 3000;
    size_t maxChunk = 70000;
    SceneOptions scene;
    // The camera's time scale: the rate of a ramp to a target is nominal time.
    double timeScale = 1.0;
};

// The core's live stream: renders frames of the current identity at the frame rate,
// packs them with header, geometry and CRC tags and sends them in chunks through
// `send` while `wanted` says a client streams. Also follows the core's cursor
// registers (mode, position, confirm / revoke, crosshair on / off).
class FrameStreamer {
public:
    using SendFn = std::function<void(const uint8_t* data, size_t len)>;
    using WantedFn = std::function<bool()>;
    using IdentityFn = std::function<Identity()>;

    // Cursor registers.
    static constexpr uint32_t kCursorMode = 0xF03D;   // 15: cursor mode on
    static constexpr uint32_t kCursorShow = 0x7012;   // 2: crosshair shown, 1: hidden
    // Picture corrections, 0 off and 1 on. 0x7012 doubles as the crosshair register:
    // 1 turns bad-pixel replacement back on and hides the crosshair, 2 only shows it.
    static constexpr uint32_t kBadPixelReplace = 0x7012;
    static constexpr uint32_t kStripeRemoval = 0x7080;
    static constexpr uint32_t kLidCorrection = 0x70C6;
    static constexpr uint32_t kNucCorrection = 0x7015;
    static constexpr uint8_t kCursorMove = 0x33;      // (x << 16) + y, 1-based
    static constexpr uint8_t kCursorConfirm = 0x30;   // 13: bad pixel, 14: take back

    FrameStreamer(const StreamOptions& options, SendFn send, WantedFn wanted, IdentityFn identity);
    ~FrameStreamer();
    FrameStreamer(const FrameStreamer&) = delete;
    FrameStreamer& operator=(const FrameStreamer&) = delete;

    void start();
    void stop();

    // Control (any thread).
    // Scene changes take effect from the next frame rendered.
    void setSceneTemp(double celsius);
    void setFlatField(bool on);
    void holdFpa(double celsius);              // FPA fixed from now on
    void rampFpa(double celsiusPerMinute);     // FPA drifts from its present value
    // From its present value to `target` at `celsiusPerMinute` (nominal: divided by the
    // time scale), then held exactly at the target; a later call may turn it back.
    void rampFpaTo(double target, double celsiusPerMinute);
    // Registers 0x13, 0x201048 and 0xF050 as they arrived, with the frame count then.
    std::vector<DriftRegisterEvent> driftRegisters() const { return m_driftLog.events(); }
    // The noise-free image (W x imageRows) the present source shows at `fpaC`, before
    // any shutter correction or gain table.
    std::vector<double> expectedImage(double fpaC);
    void setFrameRate(double fps);
    void setFaults(int corruptCrcEvery, int garbageEvery, int truncateEvery);
    double currentFpa() const;
    double sceneTemp() const;
    bool flatField() const;
    double fpaRamp() const; // degrees per minute, 0: held
    // The no-shutter bench (NoShutterScene.h): a uniform picture, and the lid's bowl
    // height (counts at the corners) that shows while 0x70C6 = 0.
    void setUniform(bool on);
    void setLidCounts(double counts);
    // Frames of another size than the core's identity says (0 x 0: the identity's
    // again), as a core whose mode changes under the host.
    void setGeometry(int width, int height);

    // A gain table the core took into its flash (big-endian K per image pixel): the
    // video is corrected with it from the next frame. Empty: none.
    void setGainTable(const std::vector<uint8_t>& bigEndian);
    bool gainCorrected() const;

    // A register write the core accepted (called by the core model). Like the gain
    // table it comes under the core's lock, before the reply: neither waits for the
    // frame being rendered, and both reach the picture, and every query, before the
    // next frame.
    void onRegisterWrite(bool isShort, uint32_t address, uint32_t value);

    struct CursorState {
        bool mode = false;
        bool visible = false;
        int x = 0;
        int y = 0;
        std::vector<std::pair<int, int>> confirmed; // 0-based pixels
    };
    CursorState cursor() const;
    FrameSource::Corrections corrections() const;

    uint64_t packetsSent() const { return m_packets.load(); }
    uint64_t bytesSent() const { return m_bytes.load(); }
    // Shutter correction register: 0 takes a new offset reference.
    static constexpr uint32_t kShutterCorrect = 0x7003;

    // Truth of the current source, made for the core's present identity if no frame
    // was rendered yet. Gains and offsets are W x imageRows in image order.
    std::vector<std::pair<int, int>> deadPixels();
    std::vector<std::pair<int, int>> hotPixels();
    std::vector<std::pair<int, int>> noisyPixels();
    std::vector<float> pixelGains();
    std::vector<float> pixelOffsets();
    int shutterCorrections() const;

    // The core's own look at the scene: the average of `frames` image frames (info
    // rows left out) of the present scene and FPA, W x imageRows. The identity is
    // passed in because the core model calls this under its own lock.
    bool averagePicture(const Identity& identity, int frames, std::vector<uint16_t>* average, int* width, int* rows);

    // One packet of the current scene as the stream would carry it (tests, tools).
    std::vector<uint8_t> makePacket(double seconds);

private:
    void run();
    void ensureSourceLocked(const Identity& id);
    FrameSource& sourceLocked(std::unique_lock<std::mutex>& lock);
    double fpaAtLocked(double seconds) const;
    // m_lock, with the core's queued writes applied.
    std::unique_lock<std::mutex> lockState() const;
    void applyEditsLocked() const;
    void post(std::function<void()> edit);
    void applyRegisterWriteLocked(bool isShort, uint32_t address, uint32_t value, double seconds);
    double nowSeconds() const;
    std::vector<size_t> chunkSizes(size_t total);

    StreamOptions m_opt;
    SendFn m_send;
    WantedFn m_wanted;
    IdentityFn m_identity;

    mutable std::mutex m_lock; // held through a render
    std::condition_variable m_wake;
    mutable std::mutex m_editLock; // never held for long
    mutable std::vector<std::function<void()>> m_edits;
    std::unique_ptr<FrameSource> m_source;
    std::vector<uint16_t> m_gainK; // kept for a source made later
    double m_fpaBase;        // FPA at m_fpaSince
    double m_fpaSince = 0;   // seconds
    double m_rampPerMin;
    int m_geometryW = 0; // 0: the identity's
    int m_geometryH = 0;
    bool m_toTarget = false;
    double m_fpaTarget = 0;
    DriftRegisterLog m_driftLog;
    CursorState m_cursor;
    FrameSource::Corrections m_corr;
    int m_shutterCorrections = 0;
    std::vector<uint16_t> m_frame;
    uint64_t m_packetIndex = 0;
    uint32_t m_chunkRng = 0x9E3779B9u;

    std::thread m_thread;
    bool m_running = false;
    std::atomic<uint64_t> m_packets{0};
    std::atomic<uint64_t> m_bytes{0};
    int64_t m_startNs = 0;
};

} // namespace irsim
