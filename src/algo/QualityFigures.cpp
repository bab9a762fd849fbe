#include "QualityFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// Largest 8-connected set of flagged pixels, by an explicit stack (no recursion on a
// table that flags whole columns).
int largestClusterOf(const uint8_t* map, int width, int rows)
{
    if (!map)
        return 0;
    const size_t n = size_t(width) * size_t(rows);
    std::vector<uint8_t> seen(n, 0);
    std::vector<size_t> stack;
    int best = 0;
    for (size_t start = 0; start < n; ++start) {
        if (!map[start] || seen[start])
            continue;
        int size = 0;
        seen[start] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            ++size;
            const int x = int(i % size_t(width)), y = int(i / size_t(width));
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if ((dx || dy) && nx >= 0 && ny >= 0 && nx < width && ny < rows) {
                        const size_t j = size_t(ny) * size_t(width) + size_t(nx);
                        if (map[j] && !seen[j]) {
                            seen[j] = 1;
                            stack.push_back(j);
                        }
                    }
                }
            }
        }
        best = std::max(best, size);
    }
    return best;
}

} // namespace

bool computeQualityFigures(const uint16_t* const* frames, int count, int width, int rows, const uint8_t* badMap,
                           QualityFigures* out, std::vector<float>* meanImage)
{
    if (!frames || !out || count < 2 || width <= 0 || rows <= 0)
        return false;
    for (int k = 0; k < count; ++k)
        if (!frames[k])
            return false;
    const size_t n = size_t(width) * size_t(rows);
    // Per-pixel sums in integers: exact for 16-bit data up to 2^31 frames' worth.
    std::vector<uint64_t> sum(n, 0), sumSq(n, 0);
    for (int k = 0; k < count; ++k) {
        const uint16_t* f = frames[k];
        for (size_t i = 0; i < n; ++i) {
            const uint64_t v = f[i];
            sum[i] += v;
            sumSq[i] += v * v;
        }
    }
    const double N = count;
    std::vector<double> avg(n);
    long good = 0;
    double sumA = 0, sumVar = 0;
    for (size_t i = 0; i < n; ++i) {
        avg[i] = double(sum[i]) / N;
        if (badMap && badMap[i])
            continue;
        ++good;
        sumA += avg[i];
        // Population variance from the integer sums: N*sumSq - sum^2 is exact.
        const double var = (double(sumSq[i]) * N - double(sum[i]) * double(sum[i])) / (N * N);
        sumVar += std::max(0.0, var);
    }
    if (good == 0)
        return false;
    QualityFigures f;
    f.goodPixels = good;
    f.mean = sumA / double(good);
    f.temporalNoise = std::sqrt(sumVar / double(good));
    double v = 0;
    for (size_t i = 0; i < n; ++i)
        if (!(badMap && badMap[i]))
            v += (avg[i] - f.mean) * (avg[i] - f.mean);
    v /= double(good);
    const double sigmaA = std::sqrt(v);
    f.meanSpread = sigmaA;
    f.spatialNoise = std::sqrt(std::max(0.0, v - f.temporalNoise * f.temporalNoise / N));
    f.nonuniformityPercent = f.mean != 0 ? 100.0 * f.spatialNoise / f.mean : 0.0;
    f.correctability = f.temporalNoise > 0 ? f.spatialNoise / f.temporalNoise : (f.spatialNoise > 0 ? INFINITY : 0.0);
    f.operabilityPercent = 100.0 * double(good) / double(n);
    f.largestCluster = largestClusterOf(badMap, width, rows);
    for (size_t i = 0; i < n; ++i)
        if (!(badMap && badMap[i]) && std::fabs(avg[i] - f.mean) > 5.0 * sigmaA)
            ++f.unflaggedOutliers;
    if (meanImage)
        meanImage->assign(avg.begin(), avg.end());
    *out = f;
    return true;
}

QualityVerdict judgeQuality(const QualityFigures& f, const QualityLimits& l)
{
    QualityVerdict v;
    auto check = [&v](bool holds, const char* key) {
        if (!holds)
            v.failed.emplace_back(key);
    };
    check(f.nonuniformityPercent <= l.maxNonuniformityPercent, "nonuniformity_percent");
    check(f.correctability <= l.maxCorrectability, "correctability");
    check(f.operabilityPercent >= l.minOperabilityPercent, "operability_percent");
    check(f.largestCluster <= l.maxLargestCluster, "largest_cluster");
    check(f.unflaggedOutliers <= l.maxUnflaggedOutliers, "unflagged_outliers");
    check(f.temporalNoise <= l.maxTemporalNoise, "temporal_noise");
    v.pass = v.failed.empty();
    return v;
}

const char* const kQualityKeys[8] = {"mean",
                                     "temporal_noise",
                                     "spatial_noise",
                                     "nonuniformity_percent",
                                     "correctability",
                                     "operability_percent",
                                     "largest_cluster",
                                     "unflagged_outliers"};

namespace {

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

} // namespace

std::string qualityFiguresText(const QualityFigures& f)
{
    return std::string("mean: ") + fixed(f.mean, 3) + "\n" + "temporal_noise: " + fixed(f.temporalNoise, 4) + "\n"
        + "spatial_noise: " + fixed(f.spatialNoise, 4) + "\n" + "nonuniformity_percent: "
        + fixed(f.nonuniformityPercent, 4) + "\n" + "correctability: " + fixed(f.correctability, 4) + "\n"
        + "operability_percent: " + fixed(f.operabilityPercent, 4) + "\n"
        + "largest_cluster: " + std::to_string(f.largestCluster) + "\n"
        + "unflagged_outliers: " + std::to_string(f.unflaggedOutliers) + "\n";
}

std::string qualityVerdictText(const QualityVerdict& v)
{
    if (v.pass)
        return "pass";
    std::string why;
    for (const auto& k : v.failed)
        why += (why.empty() ? "" : ", ") + k;
    return "fail (" + why + ")";
}

std::string qualityLimitsText(const QualityLimits& l)
{
    return "nonuniformity_percent: " + fixed(l.maxNonuniformityPercent, 4) + "\n"
        + "correctability: " + fixed(l.maxCorrectability, 4) + "\n"
        + "operability_percent: " + fixed(l.minOperabilityPercent, 4) + "\n"
        + "largest_cluster: " + std::to_string(l.maxLargestCluster) + "\n"
        + "unflagged_outliers: " + std::to_string(l.maxUnflaggedOutliers) + "\n"
        + "temporal_noise: " + fixed(l.maxTemporalNoise, 4) + "\n";
}

bool parseQualityLimits(const std::string& text, QualityLimits* l, int* badLine, std::string* why)
{
    QualityLimits out = *l;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    auto bad = [&](const std::string& reason) {
        if (badLine)
            *badLine = lineNo;
        if (why)
            *why = reason;
        return false;
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        const std::string line = trim(raw.substr(0, raw.find('#')));
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            return bad("无效 \"" + line + "\"");
        const std::string key = trim(line.substr(0, colon));
        const std::string value = trim(line.substr(colon + 1));
        char* end = nullptr;
        const double v = value.empty() ? NAN : std::strtod(value.c_str(), &end);
        if (!std::isfinite(v) || (end && *end))
            return bad("无效 \"" + line + "\"");
        const bool count = key == "largest_cluster" || key == "unflagged_outliers";
        if (count && (v < 0 || v > 1e9 || v != std::floor(v)))
            return bad("\"" + key + "\" 应为非负整数: " + value);
        if (key == "nonuniformity_percent")
            out.maxNonuniformityPercent = v;
        else if (key == "correctability")
            out.maxCorrectability = v;
        else if (key == "operability_percent")
            out.minOperabilityPercent = v;
        else if (key == "largest_cluster")
            out.maxLargestCluster = int(v);
        else if (key == "unflagged_outliers")
            out.maxUnflaggedOutliers = int(v);
        else if (key == "temporal_noise")
            out.maxTemporalNoise = v;
        else
            return bad("未知的项目 \"" + key + "\"");
    }
    *l = out;
    return true;
}
