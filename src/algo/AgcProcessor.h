#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Automatic gain control: maps 14-bit thermal pixels to 8-bit grey through a lookup
// table rebuilt for every frame from the frame's histogram. Three mappings: 1 "Line"
// (linear around the scene mean), 2 "Histeq" (clipped histogram equalisation scaled
// down for flat scenes), 3 "Special" (linear up to a knee, equalised above it).
//
// State lives in one memory block: 128 bytes of parameters, the 16,384-entry table
// and the 16,384-bin histogram of 16-bit counts.
class AgcProcessor {
public:
    enum Result { Ok = 0, ErrNull = -21, ErrMemory = -5, ErrMode = -12 };
    enum Mode { ModeLine = 1, ModeHisteq = 2, ModeSpecial = 3 };

    static constexpr int kLevels = 16384;        // 14-bit input
    static constexpr int kMaxValue = kLevels - 1;
    static constexpr int kParamBytes = 128;
    static constexpr int kMemoryBytes = kParamBytes + kLevels + kLevels * 2; // 49,280

    struct Params {
        uint8_t mode;
        uint8_t lowClip;    // per mille cut at the dark end
        uint8_t highClip;   // per mille cut at the bright end
        uint8_t brightness; // grey given to the scene mean
        uint8_t contrast;   // grey levels spread over the useful range
        uint8_t reserved0;
        uint16_t minRange;  // lower bound of the range used for the gain
        uint16_t gain;      // last slope, 8.8 fixed point
        uint16_t reserved1;
        int32_t width;
        int32_t height;
    };
    static_assert(sizeof(Params) <= kParamBytes, "parameters fit their block");

    // Memory a processor needs (always kMemoryBytes). ErrNull for a null `bytes`.
    static int QueryMemory(int* bytes);

    AgcProcessor();
    ~AgcProcessor();
    AgcProcessor(const AgcProcessor&) = delete;
    AgcProcessor& operator=(const AgcProcessor&) = delete;

    // Sets up for width x height frames: mode 1 with its preset, gain 256.
    // ErrMemory when the block cannot be had, ErrNull for a zero or negative size.
    int Create(int width, int height);
    bool IsCreated() const { return m_mem != nullptr; }
    // Chooses a mapping and loads its preset; ErrMode (old mode kept) for anything
    // but 1, 2, 3.
    int SetMode(int mode);
    // Maps width x height pixels from `in` to `out`; values above 16383 count as
    // 16383. `lutCopy` (optional, 16,384 bytes) receives the table used.
    int Process(const uint16_t* in, uint8_t* out, uint8_t* lutCopy = nullptr);

    const Params& params() const;
    Params& params();                  // tests and tuning
    const uint8_t* lut() const;        // the last table
    const uint16_t* histogram() const; // the last histogram

    // Range statistics of the last Process (for display and tests).
    struct Stats {
        int low = 0, high = 0, top = 0;
        int mean = 0, lowerMean = 0, upperMean = 0;
    };
    Stats lastStats() const { return m_stats; }

private:
    void buildHistogram(const uint16_t* in, size_t n);
    void findRange(size_t n);
    void buildLine();
    void buildHisteq();
    void buildSpecial();

    std::unique_ptr<uint64_t[]> m_mem; // 8-byte aligned block of kMemoryBytes
    std::vector<uint32_t> m_counts;    // unsaturated counts while the histogram is made
    Stats m_stats;
};
