#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Temperature-drift fit: per pixel, a polynomial of the sample value against the FPA
// temperature, in one or two temperature segments. The coefficients c1..c4 go into
// the core (c0 is the core's own offset correction); each is truncated into a signed
// 16-bit word, c4 x 10 so that its small size keeps a digit.
namespace driftfit {

constexpr int kMaxSamples = 60;
constexpr int kMaxTerms = 5;
constexpr int16_t kNoSplit = 255;
constexpr int kArraysPerSegment = 4;
// Sampling skips the band around the split, where the core switches its segment.
constexpr int kBandLow = 2550;
constexpr int kBandHigh = 2650;
// Singular values of this magnitude or less contribute nothing.
constexpr double kSingularFloor = 1e-16;

// The fit configuration record the core is told about (20 bytes packed).
struct FitConfig {
    uint8_t type = 0;
    uint8_t samples = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t terms[3] = {0, 0, 0};
    uint8_t spare = 0;
    int16_t split1 = kNoSplit;
    int16_t split2 = kNoSplit;
};
constexpr size_t kConfigBytes = 20;

// Fit type of a sensor type code: 0 -> 0, 1 -> 1, 2 -> 2, 4 -> 3, 5 -> 4; -1 otherwise.
int fitTypeOfSensor(int sensorTypeCode);
// Terms and split temperatures of types 1 and 3; false for any other type.
bool configForType(int type, FitConfig* config);
// Little-endian record in the field order above.
std::array<uint8_t, kConfigBytes> packConfig(const FitConfig& config);

struct Segment {
    int begin = 0;
    int end = 0; // one past the last sample
    int size() const { return end - begin; }
};
// Segments of ascending temperatures: one over all samples without a split, else the
// samples up to the split and those above it. When none lies above the split, every
// sample belongs to segment 0 and segment 1 is empty.
std::vector<Segment> splitSegments(const std::vector<float>& ascending, int16_t split1);

// Temperatures of one segment as the fit sees them: type 3 normalises them to zero
// mean and unit (population) deviation.
struct SegmentAxis {
    std::vector<float> x;
    double mean = 0;
    double deviation = 0;
};
SegmentAxis segmentAxis(const float* temps, int n, int type);

// Least-squares operator of one segment: the pseudo-inverse (terms x rows) of the
// design matrix (1, x, x^2, ...), powers formed in single precision. When the first and
// last x sum to exactly 0, the last sample is left out. Empty (rows() == 0) when fewer
// usable rows than terms remain.
struct FitOperator {
    int terms = 0;
    int rows = 0;                 // samples used (leading ones)
    std::vector<double> pinv;     // terms x rows, row-major
    std::vector<double> singular; // of the design matrix, descending
};
FitOperator makeOperator(const std::vector<float>& x, int terms);

struct SegmentFit {
    bool fitted = false;
    std::string reason;           // why not, when not
    std::array<std::vector<int16_t>, kArraysPerSegment> arrays; // pixels each
    int saturated = 0;            // coefficients clipped into the 16-bit range
    double tMean = 0;             // of the segment's temperatures
    double tDeviation = 0;
};

// Sample images: `samples[i]` holds `pixels` values of sample i (ascending order).
// All pixels share one operator; they are solved as one product in column blocks.
SegmentFit fitSegment(const float* temps, int n, const uint16_t* const* samples, size_t pixels, int terms,
                      int type);
// The same with a decomposition per pixel (reference for tests and the benchmark).
SegmentFit fitSegmentPerPixel(const float* temps, int n, const uint16_t* const* samples, size_t pixels,
                              int terms, int type);

// Type-3 trailer of one array: temperature mean and deviation (truncated), array mean
// (truncated) and array deviation (rounded), each clipped into 16 bits.
std::array<int16_t, 4> trailer(const SegmentFit& fit, int array);

// Average of `count` frames of `pixels` words each (32-bit sums, integer division)
// into `average`; `mean` gets the average image's integer mean, summed in 64 bits.
// False when there is nothing to average.
bool averageFrames(const uint16_t* const* frames, int count, size_t pixels, std::vector<uint16_t>* average,
                   uint16_t* mean);

// Coefficient into a signed 16-bit word, truncated toward zero; false when it had to
// be clipped (NaN gives 0).
bool truncate16(double value, int16_t* out);

} // namespace driftfit
