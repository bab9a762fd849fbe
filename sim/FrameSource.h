#pragma once

#include "DriftSim.h"
#include "Presets.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace irsim {

// What the virtual core looks at and how its detector behaves.
struct SceneOptions {
    double sceneTempC = 45.0;     // the blackbody disc in the middle of the picture
    double ambientC = 25.0;       // background
    double fpaTempC = 30.0;       // focal-plane temperature at time 0
    double fpaRampCPerMin = 0.0;  // 0: held
    double noiseCounts = 3.0;     // temporal noise, standard deviation
    double gainSpread = 0.03;     // per-pixel gain non-uniformity (relative)
    double offsetSpread = 30.0;   // per-pixel offset non-uniformity (counts)
    int deadPixels = 6;           // stuck near 0
    int hotPixels = 6;            // stuck at the top of the range
    int noisyPixels = 4;          // working pixels with a much larger temporal noise
    double noisyCounts = 40.0;    // their noise, standard deviation
    // A uniform blackbody filling the whole view at sceneTempC (the two-point
    // correction bench): no background, plate, disc or gradient.
    bool flatField = false;
    // The no-shutter bench: every image pixel at the blackbody's count, no noise, no
    // non-uniformity, no defects; only what the corrections that are off add.
    bool uniform = false;
    double lidCounts = 400.0; // the lid's bowl at the corners (0x70C6 = 0)
    uint32_t seed = 20240815;
};

// Generates the core's 14-bit frames: W x H words of which the last two rows are the
// info rows with the add-info layout of the core class. Deterministic for a seed.
// Not thread-safe.
class FrameSource {
public:
    static constexpr int kMaxCount = 16383;
    static constexpr double kCountsPerDegree = 40.0;  // scene response
    static constexpr double kFpaCountsPerDegree = 25.0;
    static constexpr double kPedestal = 6000.0;         // counts at 25 degrees, FPA 30

    FrameSource(const Identity& identity, const SceneOptions& options);

    int width() const { return m_w; }
    int height() const { return m_h; } // with the two info rows
    int imageRows() const { return m_h - 2; }
    const Identity& identity() const { return m_identity; }
    SceneOptions& options() { return m_opt; }

    // FPA temperature at t seconds after time 0.
    double fpaAt(double seconds) const;
    // The frame at t seconds: W x H words.
    void render(double seconds, std::vector<uint16_t>& frame);
    void renderWithFpa(double fpaC, std::vector<uint16_t>& frame);

    // The truth the tests compare with.
    const std::vector<std::pair<int, int>>& deadPixels() const { return m_dead; }
    const std::vector<std::pair<int, int>>& hotPixels() const { return m_hot; }
    const std::vector<std::pair<int, int>>& noisyPixels() const { return m_noisy; }
    // Per-pixel response (relative) and fixed offset in counts, W x imageRows in image
    // order. The offsets are those the picture shows: after a shutter correction, what
    // is left of them.
    const std::vector<float>& pixelGains() const { return m_gain; }
    std::vector<float> pixelOffsets() const;
    // The drift polynomial of each pixel (empty unless the preset has one).
    const DriftTruth& driftTruth() const { return m_drift; }
    // Expected count of a pixel without noise (image coordinates).
    double expectedCount(int x, int y, double fpaC) const;

    // Shutter correction: the core looks at its closed shutter (a uniform surface at
    // ambient temperature) and takes each pixel's deviation as its new offset
    // reference, which flattens the fixed offsets of the picture.
    void takeOffsetReference(double fpaC);
    // The gain table the core applies to its video (K per image pixel, 32768 = 1);
    // empty or another size: none.
    void setGainTable(const std::vector<uint16_t>& k);
    bool gainCorrected() const { return !m_gainK.empty(); }
    bool offsetReferenced() const { return !m_offsetRef.empty(); }

    // The core's own crosshair (1-based cursor position) and the pixels it was told
    // to take as bad (drawn from their left and right neighbours).
    void setCursor(bool visible, int x, int y);
    void addCorrected(int x, int y);
    void removeLastCorrected();
    const std::vector<std::pair<int, int>>& corrected() const { return m_corrected; }

    // The core's own picture corrections (all on at power-up). Off shows what each
    // hides: bad-pixel replacement the factory table's stuck pixels (and those the
    // operator confirmed), NUC the detector's raw gain and offset non-uniformity,
    // stripe removal its column offsets, lid correction the warm bowl the lens cover
    // (pot cover) adds towards the corners.
    struct Corrections {
        bool badPixels = true;
        bool nuc = true;
        bool stripes = true;
        bool lid = true;
        bool operator==(const Corrections& o) const
        {
            return badPixels == o.badPixels && nuc == o.nuc && stripes == o.stripes && lid == o.lid;
        }
    };
    static constexpr int kTablePixels = 8;          // in the factory bad-pixel table
    static constexpr double kRawOffsetSpread = 250; // counts, before NUC
    static constexpr double kRawGainSpread = 0.15;  // relative, before NUC
    static constexpr double kStripeCounts = 80;     // column offsets, standard deviation
    void setCorrections(const Corrections& c) { m_corr = c; }
    const Corrections& corrections() const { return m_corr; }
    // The factory table's pixels: stuck like the others, but the core replaces them.
    const std::vector<std::pair<int, int>>& tablePixels() const { return m_table; }

    // Housekeeping words of a frame, shared by every layout.
    struct Housekeeping {
        uint16_t viec = 2810, eocc = 1024, tec = 3, tint = 160, sens = 2, bval = 7100;
        uint16_t baseL = 5120, ival = 300, inx = 12, hbv = 9000, lbv = 5000;
    };
    // Writes the add-info of the core class into the info rows of `frame`.
    void writeAddInfo(std::vector<uint16_t>& frame, double fpaC, const Housekeeping& hk) const;

private:
    static constexpr size_t kNoiseTable = 65536;
    // Noise-free counts at FPA 30 and a table of noise samples, redone when the
    // scene changes.
    void prepare();
    double sceneTempAt(int x, int y) const;
    uint32_t nextRandom();
    double gaussian();

    Identity m_identity;
    SceneOptions m_opt;
    DriftTruth m_drift;
    int m_w;
    int m_h;
    std::vector<float> m_gain;
    std::vector<float> m_offset;
    std::vector<float> m_base;
    std::vector<float> m_noise;
    double m_preparedScene = -1e9;
    double m_preparedAmbient = -1e9;
    double m_preparedNoise = -1e9;
    int m_preparedFlat = -1;
    std::vector<float> m_offsetRef; // empty: no shutter correction taken
    std::vector<uint16_t> m_gainK;  // empty: no gain table applied
    std::vector<std::pair<int, int>> m_dead;
    std::vector<std::pair<int, int>> m_hot;
    std::vector<std::pair<int, int>> m_noisy;
    std::vector<uint16_t> m_deadValue; // one stuck value per dead pixel
    std::vector<std::pair<int, int>> m_corrected;
    Corrections m_corr;
    std::vector<std::pair<int, int>> m_table;
    std::vector<uint16_t> m_tableValue;
    std::vector<float> m_rawOffset; // NUC off: made when first needed
    std::vector<float> m_rawGain;
    std::vector<float> m_stripe;
    void prepareRaw();
    void applyCorrectionsOff(std::vector<uint16_t>& frame) const;
    bool m_cursorVisible = false;
    int m_cursorX = 0;
    int m_cursorY = 0;
    uint32_t m_rng;
};

// Raw value of a temperature in the 60-byte block for a sensor type code (hundredths,
// fiftieths or whole degrees; negative values as 8192 + magnitude).
uint16_t encodeBlockTemperature(double celsius, int sensorType);

} // namespace irsim
