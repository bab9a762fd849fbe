#include "FrameStreamer.h"

#include "NoShutterScene.h"

#include "StreamPacket.h"

#include <algorithm>
#include <cmath>
#include <chrono>

namespace irsim {

namespace {

int64_t monotonicNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

FrameStreamer::FrameStreamer(const StreamOptions& options, SendFn send, WantedFn wanted, IdentityFn identity)
    : m_opt(options)
    , m_send(std::move(send))
    , m_wanted(std::move(wanted))
    , m_identity(std::move(identity))
    , m_fpaBase(options.scene.fpaTempC)
    , m_rampPerMin(options.scene.fpaRampCPerMin)
{
    m_startNs = monotonicNs();
    if (m_opt.frameRate <= 0)
        m_opt.frameRate = 25.0;
    m_opt.minChunk = std::max<size_t>(m_opt.minChunk, 1);
    m_opt.maxChunk = std::max(m_opt.maxChunk, m_opt.minChunk);
}

FrameStreamer::~FrameStreamer()
{
    stop();
}

double FrameStreamer::nowSeconds() const
{
    return double(monotonicNs() - m_startNs) / 1e9;
}

void FrameStreamer::start()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_running)
        return;
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

void FrameStreamer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_running)
            return;
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void FrameStreamer::setSceneTemp(double celsius)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_opt.scene.sceneTempC = celsius;
    if (m_source)
        m_source->options().sceneTempC = celsius;
}

void FrameStreamer::setFlatField(bool on)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_opt.scene.flatField = on;
    if (m_source)
        m_source->options().flatField = on;
}

void FrameStreamer::holdFpa(double celsius)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fpaBase = celsius;
    m_fpaSince = nowSeconds();
    m_rampPerMin = 0;
    m_toTarget = false;
}

void FrameStreamer::rampFpaTo(double target, double celsiusPerMinute)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const double t = nowSeconds();
    m_fpaBase = fpaAtLocked(t);
    m_fpaSince = t;
    const double scale = m_opt.timeScale > 0 ? m_opt.timeScale : 1.0;
    const double rate = std::abs(celsiusPerMinute) / scale;
    m_rampPerMin = target >= m_fpaBase ? rate : -rate;
    m_fpaTarget = target;
    m_toTarget = true;
}

std::vector<double> FrameStreamer::expectedImage(double fpaC)
{
    const Identity id = m_identity ? m_identity() : Identity();
    const auto lock = lockState();
    ensureSourceLocked(id);
    const FrameSource& src = *m_source;
    std::vector<double> out;
    out.reserve(size_t(src.width()) * size_t(src.imageRows()));
    for (int y = 0; y < src.imageRows(); ++y)
        for (int x = 0; x < src.width(); ++x)
            out.push_back(src.expectedCount(x, y, fpaC));
    return out;
}

void FrameStreamer::rampFpa(double celsiusPerMinute)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const double t = nowSeconds();
    m_fpaBase = fpaAtLocked(t);
    m_fpaSince = t;
    m_rampPerMin = celsiusPerMinute;
    m_toTarget = false;
}

double FrameStreamer::fpaAtLocked(double seconds) const
{
    FpaCourse course;
    course.base = m_fpaBase;
    course.since = m_fpaSince;
    course.ratePerMin = m_rampPerMin;
    course.toTarget = m_toTarget;
    course.target = m_fpaTarget;
    return course.at(seconds);
}

double FrameStreamer::currentFpa() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return fpaAtLocked(nowSeconds());
}

double FrameStreamer::sceneTemp() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_opt.scene.sceneTempC;
}

bool FrameStreamer::flatField() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_opt.scene.flatField;
}

double FrameStreamer::fpaRamp() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rampPerMin;
}

void FrameStreamer::setFrameRate(double fps)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (fps > 0)
        m_opt.frameRate = fps;
}

void FrameStreamer::setFaults(int corruptCrcEvery, int garbageEvery, int truncateEvery)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_opt.corruptCrcEvery = std::max(corruptCrcEvery, 0);
    m_opt.garbageEvery = std::max(garbageEvery, 0);
    m_opt.truncateEvery = std::max(truncateEvery, 0);
}

void FrameStreamer::post(std::function<void()> edit)
{
    std::lock_guard<std::mutex> lock(m_editLock);
    m_edits.push_back(std::move(edit));
}

void FrameStreamer::applyEditsLocked() const
{
    std::vector<std::function<void()>> edits;
    {
        std::lock_guard<std::mutex> lock(m_editLock);
        edits.swap(m_edits);
    }
    for (const auto& edit : edits)
        edit();
}

std::unique_lock<std::mutex> FrameStreamer::lockState() const
{
    std::unique_lock<std::mutex> lock(m_lock);
    applyEditsLocked();
    return lock;
}

void FrameStreamer::onRegisterWrite(bool isShort, uint32_t address, uint32_t value)
{
    const bool followed = isShort ? (address == kCursorMove || address == kCursorConfirm)
                                  : (address == kCursorMode || address == kCursorShow || address == kShutterCorrect
                                     || address == kStripeRemoval || address == kLidCorrection
                                     || address == kNucCorrection);
    if (isDriftRegister(isShort, address))
        m_driftLog.add(DriftRegisterEvent{isShort, address, value, m_packets.load()});
    if (!followed)
        return;
    const double seconds = nowSeconds();
    post([=] { applyRegisterWriteLocked(isShort, address, value, seconds); });
}

void FrameStreamer::applyRegisterWriteLocked(bool isShort, uint32_t address, uint32_t value, double seconds)
{
    if (!isShort && address == kCursorMode) {
        m_cursor.mode = value == 15;
    } else if (!isShort && address == kCursorShow) {
        if (value == 2 || value == 1)
            m_cursor.visible = value == 2;
        if (value == 0 || value == 1)
            m_corr.badPixels = value == 1;
    } else if (!isShort && (address == kStripeRemoval || address == kLidCorrection || address == kNucCorrection)) {
        if (value > 1)
            return; // not a switch value: the core keeps what it does
        bool& on = address == kStripeRemoval ? m_corr.stripes : address == kLidCorrection ? m_corr.lid : m_corr.nuc;
        on = value == 1;
    } else if (isShort && address == kCursorMove) {
        m_cursor.x = int(value >> 16);
        m_cursor.y = int(value & 0xFFFF);
    } else if (isShort && address == kCursorConfirm) {
        const int x = m_cursor.x > 0 ? m_cursor.x - 1 : 0;
        const int y = m_cursor.y > 0 ? m_cursor.y - 1 : 0;
        if (value == 13) {
            m_cursor.confirmed.emplace_back(x, y);
            if (m_source)
                m_source->addCorrected(x, y);
        } else if (value == 14 && !m_cursor.confirmed.empty()) {
            m_cursor.confirmed.pop_back();
            if (m_source)
                m_source->removeLastCorrected();
        }
    } else if (!isShort && address == kShutterCorrect && value == 0) {
        ++m_shutterCorrections;
        // Without a picture yet the source takes its reference when it is made.
        if (m_source)
            m_source->takeOffsetReference(fpaAtLocked(seconds));
    }
}

FrameSource::Corrections FrameStreamer::corrections() const
{
    const auto lock = lockState();
    return m_corr;
}

void FrameStreamer::setGainTable(const std::vector<uint8_t>& bigEndian)
{
    std::vector<uint16_t> k(bigEndian.size() / 2);
    for (size_t i = 0; i < k.size(); ++i)
        k[i] = uint16_t((bigEndian[2 * i] << 8) | bigEndian[2 * i + 1]);
    post([this, k = std::move(k)] {
        m_gainK = k;
        if (m_source)
            m_source->setGainTable(m_gainK);
    });
}

bool FrameStreamer::gainCorrected() const
{
    const auto lock = lockState();
    return m_source && m_source->gainCorrected();
}

FrameStreamer::CursorState FrameStreamer::cursor() const
{
    const auto lock = lockState();
    return m_cursor;
}

FrameSource& FrameStreamer::sourceLocked(std::unique_lock<std::mutex>& lock)
{
    if (!m_source) {
        // The identity comes from the core model, whose write observer calls into
        // this object under the model's lock: never ask it while holding ours.
        lock.unlock();
        const Identity id = m_identity ? m_identity() : Identity();
        lock.lock();
        if (!m_source)
            ensureSourceLocked(id);
    }
    return *m_source;
}

std::vector<std::pair<int, int>> FrameStreamer::deadPixels()
{
    auto lock = lockState();
    return sourceLocked(lock).deadPixels();
}

std::vector<std::pair<int, int>> FrameStreamer::hotPixels()
{
    auto lock = lockState();
    return sourceLocked(lock).hotPixels();
}

std::vector<std::pair<int, int>> FrameStreamer::noisyPixels()
{
    auto lock = lockState();
    return sourceLocked(lock).noisyPixels();
}

std::vector<float> FrameStreamer::pixelGains()
{
    auto lock = lockState();
    return sourceLocked(lock).pixelGains();
}

std::vector<float> FrameStreamer::pixelOffsets()
{
    auto lock = lockState();
    return sourceLocked(lock).pixelOffsets();
}

int FrameStreamer::shutterCorrections() const
{
    const auto lock = lockState();
    return m_shutterCorrections;
}

bool FrameStreamer::averagePicture(const Identity& identity, int frames, std::vector<uint16_t>* average, int* width,
                                   int* rows)
{
    if (frames < 1 || !average)
        return false;
    const auto lock = lockState();
    ensureSourceLocked(identity);
    FrameSource& src = *m_source;
    const size_t n = size_t(src.width()) * size_t(src.imageRows());
    std::vector<uint32_t> sum(n, 0);
    std::vector<uint16_t> frame;
    const double fpa = fpaAtLocked(nowSeconds());
    src.setCursor(false, 0, 0); // the core calibrates on the bare picture
    src.setGainTable({});       // and on its detector's own response
    src.setCorrections(m_corr); // through the corrections it runs
    for (int k = 0; k < frames; ++k) {
        src.renderWithFpa(fpa, frame);
        for (size_t i = 0; i < n; ++i)
            sum[i] += frame[i];
    }
    src.setGainTable(m_gainK);
    average->resize(n);
    for (size_t i = 0; i < n; ++i)
        (*average)[i] = uint16_t(sum[i] / uint32_t(frames));
    if (width)
        *width = src.width();
    if (rows)
        *rows = src.imageRows();
    return true;
}

void FrameStreamer::ensureSourceLocked(const Identity& id)
{
    if (m_source && m_source->identity().width == id.width && m_source->identity().height == id.height
        && m_source->identity().coreClass == id.coreClass && m_source->identity().sensorType == id.sensorType)
        return;
    SceneOptions scene = m_opt.scene;
    m_source = std::make_unique<FrameSource>(id, scene);
    if (m_shutterCorrections > 0)
        m_source->takeOffsetReference(fpaAtLocked(nowSeconds()));
    m_source->setGainTable(m_gainK);
    for (const auto& p : m_cursor.confirmed)
        m_source->addCorrected(p.first, p.second);
}

void FrameStreamer::setUniform(bool on)
{
    post([this, on] {
        m_opt.scene.uniform = on;
        if (m_source)
            m_source->options().uniform = on;
    });
}

void FrameStreamer::setLidCounts(double counts)
{
    post([this, counts] {
        m_opt.scene.lidCounts = counts;
        if (m_source)
            m_source->options().lidCounts = counts;
    });
}

void FrameStreamer::setGeometry(int width, int height)
{
    post([this, width, height] {
        m_geometryW = width;
        m_geometryH = height;
    });
}

std::vector<uint8_t> FrameStreamer::makePacket(double seconds)
{
    Identity id = m_identity ? m_identity() : Identity();
    const auto lock = lockState();
    if (m_geometryW > 0 && m_geometryH > 0) {
        id.width = m_geometryW;
        id.height = m_geometryH;
    }
    ensureSourceLocked(id);
    m_source->setCursor(m_cursor.mode && m_cursor.visible, m_cursor.x, m_cursor.y);
    m_source->setCorrections(m_corr);
    const double fpa = fpaAtLocked(seconds);
    m_source->renderWithFpa(fpa, m_frame);
    ++m_packetIndex;
    writeFrameCounter(m_frame.data(), m_source->width(), m_source->imageRows(), uint32_t(m_packetIndex));
    auto every = [this](int n) { return n > 0 && m_packetIndex % uint64_t(n) == 0; };
    streampacket::BuildOptions build;
    build.withCrc = m_opt.withCrc;
    build.corruptCrc = every(m_opt.corruptCrcEvery);
    std::vector<uint8_t> bytes;
    bytes.reserve(m_frame.size() * 2 + 64 + size_t(m_opt.garbageBytes));
    streampacket::appendPacket(bytes, m_frame.data(), uint32_t(m_source->width()), uint32_t(m_source->height()), build);
    if (every(m_opt.truncateEvery))
        bytes.resize(bytes.size() - bytes.size() / 4);
    if (every(m_opt.garbageEvery)) {
        // Line noise: never the first magic byte, so it cannot fake a header.
        for (int i = 0; i < m_opt.garbageBytes; ++i) {
            m_chunkRng = m_chunkRng * 1664525u + 1013904223u;
            uint8_t b = uint8_t(m_chunkRng >> 24);
            bytes.push_back(b == 0x78 ? 0x79 : b);
        }
    }
    return bytes;
}

std::vector<size_t> FrameStreamer::chunkSizes(size_t total)
{
    std::vector<size_t> sizes;
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t span = m_opt.maxChunk - m_opt.minChunk + 1;
    while (total > 0) {
        m_chunkRng = m_chunkRng * 1664525u + 1013904223u;
        const size_t n = std::min(total, m_opt.minChunk + size_t(m_chunkRng >> 8) % span);
        sizes.push_back(n);
        total -= n;
    }
    return sizes;
}

void FrameStreamer::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_running) {
        m_wake.wait_until(lock, next, [this] { return !m_running; });
        if (!m_running)
            break;
        applyEditsLocked(); // streaming or not, the queue stays short
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / m_opt.frameRate));
        next += period;
        const Clock::time_point now = Clock::now();
        if (next < now - std::chrono::seconds(1))
            next = now; // fell far behind (suspended): do not burst to catch up
        lock.unlock();
        if (m_wanted && m_wanted()) {
            const std::vector<uint8_t> packet = makePacket(nowSeconds());
            size_t offset = 0;
            for (size_t n : chunkSizes(packet.size())) {
                m_send(packet.data() + offset, n);
                offset += n;
            }
            ++m_packets;
            m_bytes += packet.size();
        }
        lock.lock();
    }
}

} // namespace irsim
