#include "FrameSource.h"

#include "NoShutterScene.h"

#include <algorithm>
#include <cmath>

namespace irsim {

namespace {

uint16_t clampCount(double v)
{
    if (v < 0)
        return 0;
    if (v > FrameSource::kMaxCount)
        return FrameSource::kMaxCount;
    return uint16_t(v + 0.5);
}

uint16_t signMagnitude(long v)
{
    if (v < 0)
        return uint16_t(std::min(8192L - v, 0x7FFFL));
    return uint16_t(std::min(v, 8191L));
}

} // namespace

uint16_t encodeBlockTemperature(double celsius, int sensorType)
{
    double scaled;
    switch (sensorType) {
    case 1: scaled = celsius * 50.0; break;
    case 2:
    case 4:
    case 5: scaled = celsius; break;
    default: scaled = celsius * 100.0; break;
    }
    return signMagnitude(std::lround(scaled));
}

FrameSource::FrameSource(const Identity& identity, const SceneOptions& options)
    : m_identity(identity)
    , m_opt(options)
    , m_w(std::max(identity.width, 8))
    , m_h(std::max(identity.height, 8))
    , m_rng(options.seed ? options.seed : 1)
{
    const size_t n = size_t(m_w) * size_t(imageRows());
    m_gain.resize(n);
    m_offset.resize(n);
    for (size_t i = 0; i < n; ++i) {
        m_gain[i] = float(1.0 + m_opt.gainSpread * gaussian());
        m_offset[i] = float(m_opt.offsetSpread * gaussian());
    }
    // Defects away from the border and from each other's 3 x 3 neighbourhood.
    auto pick = [this](std::vector<std::pair<int, int>>& out, int count) {
        for (int made = 0, tries = 0; made < count && tries < 10000; ++tries) {
            const int x = 2 + int(nextRandom() % uint32_t(m_w - 4));
            const int y = 2 + int(nextRandom() % uint32_t(imageRows() - 4));
            bool near = false;
            for (const auto* list : {&m_dead, &m_hot, &m_noisy, &m_table})
                for (const auto& p : *list)
                    near = near || (std::abs(p.first - x) <= 2 && std::abs(p.second - y) <= 2);
            if (near)
                continue;
            out.emplace_back(x, y);
            ++made;
        }
    };
    pick(m_dead, m_opt.deadPixels);
    pick(m_hot, m_opt.hotPixels);
    pick(m_noisy, m_opt.noisyPixels);
    // A dead pixel reads the same few counts whatever it looks at.
    for (size_t k = 0; k < m_dead.size(); ++k)
        m_deadValue.push_back(uint16_t(40 + nextRandom() % 20));
    // The factory table's pixels come from a stream of their own, so the picture
    // and its defects stay what they were for a seed.
    const uint32_t keep = m_rng;
    m_rng = (options.seed ? options.seed : 1) ^ 0x7AB1E5EDu;
    pick(m_table, kTablePixels);
    for (size_t k = 0; k < m_table.size(); ++k)
        m_tableValue.push_back(k % 2 ? uint16_t(kMaxCount) : uint16_t(30 + nextRandom() % 20));
    m_rng = keep;
    if (m_identity.driftModel)
        m_drift.make(size_t(m_w) * size_t(imageRows()), m_opt.seed);
}

void FrameSource::prepareRaw()
{
    if (!m_rawOffset.empty())
        return;
    const uint32_t keep = m_rng;
    m_rng = (m_opt.seed ? m_opt.seed : 1) ^ 0x0C0FFEE5u;
    const size_t n = m_gain.size();
    m_rawOffset.resize(n);
    m_rawGain.resize(n);
    for (size_t i = 0; i < n; ++i) {
        m_rawOffset[i] = float(kRawOffsetSpread * gaussian());
        m_rawGain[i] = float(kRawGainSpread * gaussian());
    }
    m_stripe.resize(size_t(m_w));
    for (float& v : m_stripe)
        v = float(kStripeCounts * gaussian());
    m_rng = keep;
}

void FrameSource::applyCorrectionsOff(std::vector<uint16_t>& frame) const
{
    const int rows = imageRows();
    if (!m_corr.nuc || !m_corr.stripes) {
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < m_w; ++x) {
                const size_t i = size_t(y) * size_t(m_w) + size_t(x);
                double v = frame[i];
                if (!m_corr.nuc)
                    v = kPedestal + (v - kPedestal) * (1.0 + m_rawGain[i]) + m_rawOffset[i];
                if (!m_corr.stripes)
                    v += m_stripe[size_t(x)];
                frame[i] = clampCount(v);
            }
        }
    }
    // The cover's own radiation: nothing in the middle, most in the corners.
    if (!m_corr.lid)
        addLid(frame.data(), m_w, rows, m_opt.lidCounts);
}

uint32_t FrameSource::nextRandom()
{
    // xorshift32: fast and good enough for sensor noise.
    uint32_t x = m_rng;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    m_rng = x;
    return x;
}

double FrameSource::gaussian()
{
    // Sum of four uniforms, scaled to unit variance.
    double s = 0;
    for (int i = 0; i < 4; ++i)
        s += double(nextRandom()) / 4294967296.0;
    return (s - 2.0) * 1.7320508;
}

double FrameSource::fpaAt(double seconds) const
{
    return m_opt.fpaTempC + m_opt.fpaRampCPerMin * seconds / 60.0;
}

double FrameSource::sceneTempAt(int x, int y) const
{
    if (m_opt.flatField)
        return m_opt.sceneTempC;
    const double rows = imageRows();
    // Background: ambient with a gentle vertical gradient (warmer floor).
    double t = m_opt.ambientC + 3.0 * (double(y) / rows - 0.5);
    // A cold plate in the lower left quarter.
    if (x > m_w / 10 && x < m_w * 3 / 10 && y > rows * 0.62 && y < rows * 0.86)
        t = m_opt.ambientC - 8.0;
    // The blackbody: a disc in the middle with a soft rim.
    const double cx = m_w * 0.5, cy = rows * 0.5, r = std::min(double(m_w), rows) * 0.22;
    const double d = std::hypot(x - cx, y - cy);
    if (d < r)
        t = m_opt.sceneTempC;
    else if (d < r + 3)
        t = t + (m_opt.sceneTempC - t) * (r + 3 - d) / 3.0;
    return t;
}

double FrameSource::expectedCount(int x, int y, double fpaC) const
{
    // A pedestal, the pixel's offset, and its own response to scene and FPA.
    const size_t i = size_t(y) * size_t(m_w) + size_t(x);
    const double signal = kCountsPerDegree * (sceneTempAt(x, y) - 25.0) + kFpaCountsPerDegree * (fpaC - 30.0);
    return kPedestal + m_offset[i] + m_gain[i] * signal + (m_drift.empty() ? 0.0 : m_drift.at(i, fpaC));
}

void FrameSource::prepare()
{
    const int flat = m_opt.flatField ? 1 : 0;
    if (m_preparedScene == m_opt.sceneTempC && m_preparedAmbient == m_opt.ambientC
        && m_preparedNoise == m_opt.noiseCounts && m_preparedFlat == flat)
        return;
    const int rows = imageRows();
    m_base.resize(m_gain.size());
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < m_w; ++x)
            m_base[size_t(y) * size_t(m_w) + size_t(x)] = float(expectedCount(x, y, DriftTruth::kReferenceC));
    m_noise.resize(kNoiseTable);
    for (float& v : m_noise)
        v = float(m_opt.noiseCounts * gaussian());
    m_preparedScene = m_opt.sceneTempC;
    m_preparedAmbient = m_opt.ambientC;
    m_preparedNoise = m_opt.noiseCounts;
    m_preparedFlat = flat;
}

std::vector<float> FrameSource::pixelOffsets() const
{
    std::vector<float> out = m_offset;
    if (!m_offsetRef.empty())
        for (size_t i = 0; i < out.size(); ++i)
            out[i] -= m_offsetRef[i];
    return out;
}

void FrameSource::takeOffsetReference(double fpaC)
{
    // The shutter sits at ambient temperature, so each pixel's deviation from the
    // ideal count is its offset plus its gain error on the FPA's own signal.
    const double fpaSignal = kFpaCountsPerDegree * (fpaC - 30.0);
    m_offsetRef.resize(m_offset.size());
    for (size_t i = 0; i < m_offset.size(); ++i)
        m_offsetRef[i] = float(m_offset[i] + (m_gain[i] - 1.0) * fpaSignal);
}

void FrameSource::setGainTable(const std::vector<uint16_t>& k)
{
    if (k.size() == size_t(m_w) * size_t(imageRows()))
        m_gainK = k;
    else
        m_gainK.clear();
}

void FrameSource::render(double seconds, std::vector<uint16_t>& frame)
{
    renderWithFpa(fpaAt(seconds), frame);
}

void FrameSource::renderWithFpa(double fpa, std::vector<uint16_t>& frame)
{
    const int rows = imageRows();
    frame.assign(size_t(m_w) * size_t(m_h), 0);
    const float fpaTerm = float(kFpaCountsPerDegree * (fpa - 30.0));
    if (m_opt.uniform) {
        fillUniform(frame.data(), m_w, rows, kPedestal + kCountsPerDegree * (m_opt.sceneTempC - 25.0) + fpaTerm);
        if (!m_corr.lid)
            addLid(frame.data(), m_w, rows, m_opt.lidCounts);
        Housekeeping hk;
        hk.tint = uint16_t(160 + std::lround(fpa - 30.0));
        writeAddInfo(frame, fpa, hk);
        return;
    }
    prepare();
    const size_t n = size_t(m_w) * size_t(rows);
    if (m_offsetRef.empty()) {
        for (size_t i = 0; i < n; ++i)
            frame[i] = clampCount(double(m_base[i] + m_gain[i] * fpaTerm + m_noise[nextRandom() & (kNoiseTable - 1)]));
    } else {
        for (size_t i = 0; i < n; ++i)
            frame[i] = clampCount(double(m_base[i] - m_offsetRef[i] + m_gain[i] * fpaTerm
                                         + m_noise[nextRandom() & (kNoiseTable - 1)]));
    }
    if (!m_drift.empty())
        for (size_t i = 0; i < n; ++i)
            frame[i] = clampCount(double(frame[i]) + m_drift.at(i, fpa));
    for (const auto& p : m_noisy) {
        const size_t i = size_t(p.second) * size_t(m_w) + size_t(p.first);
        const double clean = double(m_base[i] + m_gain[i] * fpaTerm) - (m_offsetRef.empty() ? 0.0 : m_offsetRef[i])
            + (m_drift.empty() ? 0.0 : m_drift.at(i, fpa));
        frame[i] = clampCount(clean + m_opt.noisyCounts * gaussian());
    }
    // The core's two-point correction scales each pixel's signal above the pedestal;
    // stuck pixels stay stuck.
    if (!m_gainK.empty()) {
        for (size_t i = 0; i < n; ++i)
            frame[i] = clampCount(kPedestal + (double(frame[i]) - kPedestal) * double(m_gainK[i]) / 32768.0);
    }
    if (!m_corr.nuc || !m_corr.stripes || !m_corr.lid) {
        prepareRaw();
        applyCorrectionsOff(frame);
    }
    for (size_t k = 0; k < m_dead.size(); ++k)
        frame[size_t(m_dead[k].second) * size_t(m_w) + size_t(m_dead[k].first)] = m_deadValue[k];
    for (const auto& p : m_hot)
        frame[size_t(p.second) * size_t(m_w) + size_t(p.first)] = kMaxCount;
    // The table's pixels read as working ones while the core replaces them, so that
    // a core with every correction on shows exactly the truth the benches compare
    // with; with the replacement off they are stuck like the others.
    if (!m_corr.badPixels)
        for (size_t k = 0; k < m_table.size(); ++k)
            frame[size_t(m_table[k].second) * size_t(m_w) + size_t(m_table[k].first)] = m_tableValue[k];
    // A pixel the core was told is bad is replaced by its neighbours' mean.
    auto replace = [&](const std::pair<int, int>& p) {
        if (p.first < 0 || p.second < 0 || p.first >= m_w || p.second >= rows)
            return;
        const size_t row = size_t(p.second) * size_t(m_w);
        const int l = std::max(p.first - 1, 0), r = std::min(p.first + 1, m_w - 1);
        frame[row + size_t(p.first)] = uint16_t((frame[row + size_t(l)] + frame[row + size_t(r)]) / 2);
    };
    if (m_corr.badPixels)
        for (const auto& p : m_corrected)
            replace(p);
    if (m_cursorVisible) {
        // The core's crosshair: a white cross whose arms start outside the 5 x 5
        // neighbourhood of the cursor, so that the neighbourhood shows the scene.
        const int cx = m_cursorX > 0 ? m_cursorX - 1 : 0, cy = m_cursorY > 0 ? m_cursorY - 1 : 0;
        for (int k = 3; k <= 8; ++k) {
            for (const auto& d : {std::make_pair(k, 0), std::make_pair(-k, 0), std::make_pair(0, k), std::make_pair(0, -k)}) {
                const int x = cx + d.first, y = cy + d.second;
                if (x >= 0 && y >= 0 && x < m_w && y < rows)
                    frame[size_t(y) * size_t(m_w) + size_t(x)] = kMaxCount;
            }
        }
    }
    Housekeeping hk;
    hk.tint = uint16_t(160 + std::lround(fpa - 30.0));
    writeAddInfo(frame, fpa, hk);
}

void FrameSource::writeAddInfo(std::vector<uint16_t>& frame, double fpaC, const Housekeeping& hk) const
{
    const size_t words = size_t(m_w) * size_t(m_h);
    if (frame.size() < words)
        return;
    const int cls = m_identity.coreClass;
    if (cls == 3) {
        uint16_t* t = frame.data() + words - 4;
        t[0] = uint16_t(std::clamp(std::lround(fpaC * 100.0), 0L, 65535L));
        t[1] = hk.viec;
        t[2] = hk.eocc;
        t[3] = hk.bval;
        return;
    }
    if (cls == 1 || cls == 2 || cls == 4) {
        uint16_t* t = frame.data() + words - 10;
        t[0] = 0;
        t[1] = 0;
        t[2] = hk.ival;
        t[3] = hk.inx;
        t[4] = hk.lbv;
        t[5] = hk.hbv;
        t[6] = signMagnitude(std::lround(fpaC * 100.0));
        t[7] = hk.viec;
        t[8] = hk.eocc;
        t[9] = hk.bval;
        return;
    }
    // The 60-byte block at the start of the first info row.
    if (m_w < 30)
        return;
    uint16_t* w = frame.data() + size_t(m_w) * size_t(imageRows());
    const int type = m_identity.fpaHundredths ? 0 : m_identity.sensorType;
    w[0] = encodeBlockTemperature(fpaC, type);
    w[1] = encodeBlockTemperature(fpaC + 6.5, type);  // cavity runs warmer
    w[2] = encodeBlockTemperature(fpaC + 11.0, type); // and the board warmer still
    w[3] = hk.viec;
    w[4] = hk.eocc;
    w[5] = hk.tec;
    w[10] = hk.tint;
    w[11] = hk.bval;
    w[13] = hk.sens;
    w[16] = hk.baseL;
}

void FrameSource::setCursor(bool visible, int x, int y)
{
    m_cursorVisible = visible;
    m_cursorX = x;
    m_cursorY = y;
}

void FrameSource::addCorrected(int x, int y)
{
    m_corrected.emplace_back(x, y);
}

void FrameSource::removeLastCorrected()
{
    if (!m_corrected.empty())
        m_corrected.pop_back();
}

} // namespace irsim
