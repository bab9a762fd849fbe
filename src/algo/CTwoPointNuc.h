#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Two-point non-uniformity correction: from frames of a low and a high blackbody, a
// per-pixel gain K = trunc(32768 x (meanHigh - meanLow) / (H - L + 0.01)), clamped to
// 25000..45000, where H and L are the pixel's averages and the means are those of the
// average images cut to one decimal.
//
// Frames are added one at a time and summed at once, so the whole run needs a 32-bit
// sum, the two average images and the gains, never the frames themselves. The
// averages are those of all frames held at once: the 32-bit sum is exact for up to
// 65,537 frames of 16 bits, and a set is capped at kMaxFrames.
//
// State: 0 empty, 1 low set loaded, 2 high set loaded, 3 both, 4 gain computed.
// Ending the low set moves 2 -> 3 and 0 or 4 -> 1; the high set 1 -> 3 and 0 or 4 -> 2;
// Compute needs 3 and moves to 4. The gains are readable only in state 4.
class CTwoPointNuc {
public:
    enum State { StateEmpty = 0, StateLow = 1, StateHigh = 2, StateBoth = 3, StateGain = 4 };
    enum Set { LowSet = 0, HighSet = 1 };

    static constexpr uint32_t kMaxPixels = 1382400; // one 2,764,800-byte frame slot
    static constexpr int kMaxFrames = 128;          // frames per set
    static constexpr uint16_t kGainMin = 25000;
    static constexpr uint16_t kGainMax = 45000;

    CTwoPointNuc() = default;

    // A new frame size drops everything (state 0). False for 0 or more than kMaxPixels.
    bool SetSize(uint32_t width, uint32_t height);
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    size_t pixelCount() const { return size_t(m_width) * m_height; }

    // Starts summing a set; a set begun before and not ended is dropped. False without
    // a size or when the sum cannot be allocated.
    bool BeginSet(Set set);
    // Adds one frame of width x height pixels to the set begun. False without an open
    // set, for a null frame or past kMaxFrames (the frame is then not counted).
    bool AddFrame(const uint16_t* pixels);
    // The same from the bytes of a ".frame" file: 16-bit little-endian pixels.
    bool AddFrameBytes(const uint8_t* littleEndian);
    int framesInSet() const { return m_frames; }
    // Average image and mean of the open set, state transition. False (state kept,
    // set dropped) when no frame was added.
    bool EndSet();

    // A whole set at once: Begin, Add each frame, End.
    bool LoadSet(Set set, const uint16_t* const* frames, int count);

    // Gain table from both averages; needs state 3, moves to 4.
    bool Compute();

    State state() const { return m_state; }
    // Average image and mean of a set once it has been ended (null / 0 before).
    const uint16_t* Average(Set set) const;
    double Mean(Set set) const { return set == LowSet ? m_meanLow : m_meanHigh; }
    // True when the high set's mean lies above the low set's; otherwise every gain
    // sits at a clamp limit (sets swapped or the blackbody did not change).
    bool MeansOrdered() const { return m_meanHigh > m_meanLow; }

    // The gains in native order; null unless state 4.
    const uint16_t* Gains() const;
    // The gain file: width x height entries, row-major, high byte first; empty unless
    // state 4.
    std::vector<uint8_t> GainFileBytes() const;

    // The per-pixel gain formula with its clamp.
    static uint16_t GainFor(int high, int low, double meanHigh, double meanLow);
    // Mean of an image cut toward zero to one decimal.
    static double MeanOf(const uint16_t* image, size_t count);

    // Bytes held by the buffers right now (sum, averages, gains).
    size_t MemoryBytes() const;

private:
    void release();

    uint32_t m_width = 0;
    uint32_t m_height = 0;
    State m_state = StateEmpty;
    int m_open = -1; // set being summed, -1 none
    int m_frames = 0;
    std::vector<uint32_t> m_sum;
    std::vector<uint16_t> m_avgLow;
    std::vector<uint16_t> m_avgHigh;
    std::vector<uint16_t> m_gain;
    double m_meanLow = 0;
    double m_meanHigh = 0;
};
