#include "QualityFigures.h"

#include <algorithm>
#include <cmath>

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
                           QualityFigures* out)
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
    f.spatialNoise = std::sqrt(std::max(0.0, v - f.temporalNoise * f.temporalNoise / N));
    f.nonuniformityPercent = f.mean != 0 ? 100.0 * f.spatialNoise / f.mean : 0.0;
    f.correctability = f.temporalNoise > 0 ? f.spatialNoise / f.temporalNoise : (f.spatialNoise > 0 ? INFINITY : 0.0);
    f.operabilityPercent = 100.0 * double(good) / double(n);
    f.largestCluster = largestClusterOf(badMap, width, rows);
    for (size_t i = 0; i < n; ++i)
        if (!(badMap && badMap[i]) && std::fabs(avg[i] - f.mean) > 5.0 * sigmaA)
            ++f.unflaggedOutliers;
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
