#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Acceptance figures of a corrected picture of a uniform blackbody: N frames of
// W x rows image pixels (the info rows left out) and the bad-pixel map in use (one
// byte per pixel, 1 = in the table; null: none). Pure, no I/O.
struct QualityFigures {
    double mean = 0;                  // mean over the good pixels of each pixel's N-frame mean
    double temporalNoise = 0;         // sqrt of the mean per-pixel population variance
    double spatialNoise = 0;          // sqrt(max(0, V - temporal^2 / N))
    double nonuniformityPercent = 0;  // 100 x spatial / mean
    double correctability = 0;        // spatial / temporal
    double operabilityPercent = 0;    // 100 x good / all
    int largestCluster = 0;           // largest 8-connected set of table pixels
    int unflaggedOutliers = 0;        // good pixels more than 5 sigma from the mean
    long goodPixels = 0;
    double meanSpread = 0;            // population standard deviation of the pixel means (the 5-sigma scale)
};

struct QualityLimits {
    double maxNonuniformityPercent = 1.0;
    double maxCorrectability = 1.0;
    double minOperabilityPercent = 99.5;
    int maxLargestCluster = 4;
    int maxUnflaggedOutliers = 0;
    double maxTemporalNoise = 6.0; // counts
};

struct QualityVerdict {
    bool pass = false;
    std::vector<std::string> failed; // figure keys whose limit did not hold
};

// False (and `out` untouched) for fewer than 2 frames, a zero size, a null frame or
// no good pixel at all. `frames` holds `count` pointers to width x rows words.
// `meanImage`, when given, receives each pixel's mean over the frames (width x rows).
bool computeQualityFigures(const uint16_t* const* frames, int count, int width, int rows, const uint8_t* badMap,
                           QualityFigures* out, std::vector<float>* meanImage = nullptr);

QualityVerdict judgeQuality(const QualityFigures& f, const QualityLimits& limits);

// The figure keys in the order they are printed, stored and reported.
extern const char* const kQualityKeys[8];

// One "key: value" line per figure, in kQualityKeys order (what `irbench-cli quality`
// prints and a run's result file holds).
std::string qualityFiguresText(const QualityFigures& f);
// "pass", or "fail (key, key)".
std::string qualityVerdictText(const QualityVerdict& v);
// The limits as "key: value" lines with the figure keys (a limits file).
std::string qualityLimitsText(const QualityLimits& l);
// Reads limits in that form over `l` (keys left out keep their value); '#' starts a
// comment. Every value must be a finite number and every key known, so that a typo
// never loosens a limit. False with the 1-based line and why.
bool parseQualityLimits(const std::string& text, QualityLimits* l, int* badLine, std::string* why);
