// The drift fit of a 640 x 512 core: 60 samples, 5 terms (type 3), one decomposition
// shared by every pixel against a decomposition per pixel, in the same run. Both
// results are compared before the shared fit is timed: the counters give how many
// truncated coefficients differ and by how much at most.
#include "DriftFit.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr size_t kPixels = 640 * 512;
constexpr int kSamples = 60;
constexpr int kTerms = 5;

struct Sweep {
    std::vector<float> temps;
    std::vector<std::vector<uint16_t>> images;
    std::vector<const uint16_t*> ptrs;
};

// A heating sweep 22.00 .. 25.50 degrees in hundredths; each pixel drifts along its own
// quadratic with 1 count of noise.
const Sweep& sweep()
{
    static const Sweep s = [] {
        Sweep w;
        std::mt19937 rng(7);
        std::normal_distribution<float> noise(0.f, 1.f);
        std::vector<float> a1(kPixels), a2(kPixels);
        std::uniform_real_distribution<float> u(-1.f, 1.f);
        for (size_t p = 0; p < kPixels; ++p) {
            a1[p] = 25.f + 6.f * u(rng);
            a2[p] = 0.6f + 0.4f * u(rng);
        }
        for (int i = 0; i < kSamples; ++i) {
            const float t = 2200.f + 6.f * float(i);
            w.temps.push_back(t);
            std::vector<uint16_t> img(kPixels);
            const float d = (t - 2400.f) / 100.f;
            for (size_t p = 0; p < kPixels; ++p)
                img[p] = uint16_t(std::lround(6000.f + a1[p] * d + a2[p] * d * d + noise(rng)));
            w.images.push_back(std::move(img));
        }
        for (auto& img : w.images)
            w.ptrs.push_back(img.data());
        return w;
    }();
    return s;
}

double g_perPixelMs = 0;
double g_perPixelCpuMs = 0;

// Thread CPU time: the machine is shared, so the ratio is given on both clocks.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
driftfit::SegmentFit g_reference;

double msPerIteration(double seconds, const benchmark::State& state)
{
    return seconds * 1000.0 / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

void BM_DriftFit_PerPixelSvd(benchmark::State& state)
{
    const Sweep& s = sweep();
    double spent = 0, cpu = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = cpuSeconds();
        g_reference = driftfit::fitSegmentPerPixel(s.temps.data(), kSamples, s.ptrs.data(), kPixels, kTerms, 3);
        cpu += cpuSeconds() - c0;
        spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(g_reference.arrays[0].data());
    }
    g_perPixelMs = msPerIteration(spent, state);
    g_perPixelCpuMs = msPerIteration(cpu, state);
    state.counters["ms_per_op"] = g_perPixelMs;
}
BENCHMARK(BM_DriftFit_PerPixelSvd)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DriftFit_SharedPseudoInverse(benchmark::State& state)
{
    const Sweep& s = sweep();
    const driftfit::SegmentFit once = driftfit::fitSegment(s.temps.data(), kSamples, s.ptrs.data(), kPixels, kTerms, 3);
    long differing = 0;
    int worst = 0;
    for (int j = 0; j < driftfit::kArraysPerSegment; ++j)
        for (size_t p = 0; p < kPixels; ++p) {
            const int d = std::abs(once.arrays[size_t(j)][p] - g_reference.arrays[size_t(j)][p]);
            differing += d != 0;
            worst = std::max(worst, d);
        }
    double spent = 0, cpu = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = cpuSeconds();
        driftfit::SegmentFit f = driftfit::fitSegment(s.temps.data(), kSamples, s.ptrs.data(), kPixels, kTerms, 3);
        cpu += cpuSeconds() - c0;
        spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(f.arrays[0].data());
    }
    const double ms = msPerIteration(spent, state);
    const double cpuMs = msPerIteration(cpu, state);
    if (g_perPixelCpuMs > 0 && cpuMs > 0)
        state.counters["cpu_speedup_vs_per_pixel"] = g_perPixelCpuMs / cpuMs;
    state.counters["ms_per_op"] = ms;
    if (g_perPixelMs > 0 && ms > 0)
        state.counters["speedup_vs_per_pixel"] = g_perPixelMs / ms;
    state.counters["coefficients_differing"] = double(differing);
    state.counters["max_difference"] = worst;
}
BENCHMARK(BM_DriftFit_SharedPseudoInverse)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
