// The calibration algorithms on 640 x 512 frames, each beside its direct form in the
// same run; the outputs are compared before anything is timed.
//
// DetectV10: sliding column and row sums against the full 25 x 25 window sum per pixel
// (speedup counter = direct time / fast time). DetectV20: counting against the two
// bounds against an exchange sort of the window. Gain computation for 128 + 128 frames:
// frames summed as they arrive against all frames held in memory; each iteration
// "loads" every frame by copying it from a small pool, as reading a file would, and the
// counters give the accumulator's bytes and the process's peak resident memory.
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"
#include "NaiveCalib.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kW = 640;
constexpr int kH = 512;
constexpr size_t kPixels = size_t(kW) * kH;
constexpr int kFrames = 128;
constexpr int kPool = 8;

using Frame = std::vector<uint16_t>;

// A scene with a gradient, noise and one defect in about 2000 pixels.
Frame scene(unsigned seed, double level)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 12);
    std::uniform_int_distribution<int> defect(0, 1999);
    Frame f(kPixels);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double v = level + 0.8 * x + 0.5 * y + noise(rng);
            const int d = defect(rng);
            if (d == 0)
                v = 16383;
            else if (d == 1)
                v = 0;
            else if (d == 2)
                v += 120;
            f[size_t(y) * kW + x] = uint16_t(std::max(0.0, std::min(16383.0, v)));
        }
    return f;
}

const Frame& image()
{
    static const Frame f = scene(11, 6000);
    return f;
}

std::vector<uint8_t> baseMap()
{
    std::vector<uint8_t> m(kPixels, 0);
    for (size_t i = 0; i < kPixels; i += 1009)
        m[i] = 1;
    return m;
}

// Frames of the low and high blackbody: per-pixel gain and offset, noise per frame.
struct Pools {
    std::vector<Frame> low, high;
    Pools()
    {
        std::mt19937 rng(5);
        std::normal_distribution<double> gain(1.0, 0.05), offset(0, 40), noise(0, 6);
        std::vector<double> g(kPixels), o(kPixels);
        for (size_t i = 0; i < kPixels; ++i) {
            g[i] = gain(rng);
            o[i] = offset(rng);
        }
        for (int k = 0; k < kPool; ++k) {
            Frame l(kPixels), h(kPixels);
            for (size_t i = 0; i < kPixels; ++i) {
                l[i] = uint16_t(std::max(0.0, std::min(16383.0, 3000 * g[i] + o[i] + noise(rng))));
                h[i] = uint16_t(std::max(0.0, std::min(16383.0, 8000 * g[i] + o[i] + noise(rng))));
            }
            low.push_back(std::move(l));
            high.push_back(std::move(h));
        }
    }
};

const Pools& pools()
{
    static const Pools p;
    return p;
}

double statusKiB(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0)
            return std::stod(line.substr(n + 1));
    return 0;
}

// Starts a peak-memory window: the peak is reset to the present resident size.
double resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKiB("VmRSS");
}

void reportPeak(benchmark::State& state, double startKiB)
{
    const double peak = statusKiB("VmHWM");
    state.counters["peak_rss_MiB"] = peak / 1024.0;
    state.counters["peak_rss_growth_MiB"] = (peak - startKiB) / 1024.0;
}

double g_directV10Ms = 0;
double g_directV20Ms = 0;
double g_inMemoryMs = 0;

double msPerIteration(std::chrono::steady_clock::duration d, benchmark::State& state)
{
    return std::chrono::duration<double, std::milli>(d).count() / double(state.iterations());
}

void speedup(benchmark::State& state, double directMs, double ms)
{
    state.counters["ms_per_op"] = ms;
    if (directMs > 0)
        state.counters["speedup_vs_direct"] = directMs / ms;
}

Frame streamingGains(size_t* accumulatorPeak)
{
    const Pools& p = pools();
    CTwoPointNuc nuc;
    nuc.SetSize(kW, kH);
    Frame buffer(kPixels); // the one frame read at a time
    size_t peak = 0;
    for (auto set : {CTwoPointNuc::HighSet, CTwoPointNuc::LowSet}) {
        const std::vector<Frame>& src = set == CTwoPointNuc::HighSet ? p.high : p.low;
        nuc.BeginSet(set);
        for (int i = 0; i < kFrames; ++i) {
            std::memcpy(buffer.data(), src[size_t(i % kPool)].data(), kPixels * 2);
            nuc.AddFrame(buffer.data());
        }
        peak = std::max(peak, nuc.MemoryBytes());
        nuc.EndSet();
        peak = std::max(peak, nuc.MemoryBytes());
    }
    nuc.Compute();
    peak = std::max(peak, nuc.MemoryBytes());
    const std::vector<uint8_t> file = nuc.GainFileBytes();
    benchmark::DoNotOptimize(file.data());
    if (accumulatorPeak)
        *accumulatorPeak = peak;
    return nuc.Gains() ? Frame(nuc.Gains(), nuc.Gains() + kPixels) : Frame();
}

Frame inMemoryGains()
{
    const Pools& p = pools();
    std::vector<Frame> low(kFrames, Frame(kPixels)), high(kFrames, Frame(kPixels));
    for (int i = 0; i < kFrames; ++i) {
        std::memcpy(high[size_t(i)].data(), p.high[size_t(i % kPool)].data(), kPixels * 2);
        std::memcpy(low[size_t(i)].data(), p.low[size_t(i % kPool)].data(), kPixels * 2);
    }
    return naive::gains(low, high, kPixels);
}

} // namespace

static void BM_DetectV10_Direct(benchmark::State& state)
{
    const Frame& img = image();
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto bad = naive::detectV10(img.data(), kW, kH, 50, 50);
        spent += std::chrono::steady_clock::now() - t0;
        benchmark::DoNotOptimize(bad.data());
    }
    g_directV10Ms = msPerIteration(spent, state);
    state.counters["ms_per_op"] = g_directV10Ms;
}
BENCHMARK(BM_DetectV10_Direct)->Unit(benchmark::kMillisecond);

static void BM_DetectV10(benchmark::State& state)
{
    const Frame& img = image();
    CPixelDetector det;
    det.SetThresholds(50, 50);
    std::vector<CPixelDetector::Point> bad;
    det.DetectV10(img.data(), kW, kH, &bad);
    const auto direct = naive::detectV10(img.data(), kW, kH, 50, 50);
    bool same = bad.size() == direct.size();
    for (size_t i = 0; same && i < bad.size(); ++i)
        same = bad[i].x == direct[i].x && bad[i].y == direct[i].y;
    if (!same || bad.empty()) {
        state.SkipWithError("output differs from the direct window sum");
        return;
    }
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        det.DetectV10(img.data(), kW, kH, &bad);
        spent += std::chrono::steady_clock::now() - t0;
        benchmark::DoNotOptimize(bad.data());
    }
    speedup(state, g_directV10Ms, msPerIteration(spent, state));
    state.counters["bad_pixels"] = double(bad.size());
}
BENCHMARK(BM_DetectV10)->Unit(benchmark::kMillisecond);

static void BM_DetectV20_Direct(benchmark::State& state)
{
    const Frame& img = image();
    const std::vector<uint8_t> base = baseMap();
    std::vector<uint8_t> map;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        map = base;
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(naive::detectV20(img.data(), kW, kH, 50, map.data()));
        spent += std::chrono::steady_clock::now() - t0;
    }
    g_directV20Ms = msPerIteration(spent, state);
    state.counters["ms_per_op"] = g_directV20Ms;
}
BENCHMARK(BM_DetectV20_Direct)->Unit(benchmark::kMillisecond);

static void BM_DetectV20(benchmark::State& state)
{
    const Frame& img = image();
    const std::vector<uint8_t> base = baseMap();
    CPixelDetector det;
    det.SetThresholds(50, 50);
    std::vector<uint8_t> map = base, direct = base;
    int found = 0;
    det.DetectV20(img.data(), kW, kH, map.data(), &found);
    const int directFound = naive::detectV20(img.data(), kW, kH, 50, direct.data());
    if (map != direct || found != directFound || found == 0) {
        state.SkipWithError("output differs from the sorted-window median");
        return;
    }
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        map = base;
        const auto t0 = std::chrono::steady_clock::now();
        det.DetectV20(img.data(), kW, kH, map.data(), &found);
        spent += std::chrono::steady_clock::now() - t0;
        benchmark::DoNotOptimize(map.data());
    }
    speedup(state, g_directV20Ms, msPerIteration(spent, state));
    state.counters["bad_pixels"] = double(found);
}
BENCHMARK(BM_DetectV20)->Unit(benchmark::kMillisecond);

static void BM_Gain128x2_InMemory(benchmark::State& state)
{
    pools();
    const double start = resetPeak();
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Frame k = inMemoryGains();
        spent += std::chrono::steady_clock::now() - t0;
        benchmark::DoNotOptimize(k.data());
    }
    g_inMemoryMs = msPerIteration(spent, state);
    state.counters["ms_per_op"] = g_inMemoryMs;
    state.counters["frames_MiB"] = 2.0 * kFrames * kPixels * 2 / (1024.0 * 1024.0);
    reportPeak(state, start);
}
BENCHMARK(BM_Gain128x2_InMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_Gain128x2_Streaming(benchmark::State& state)
{
    if (streamingGains(nullptr) != inMemoryGains()) {
        state.SkipWithError("gains differ from the in-memory computation");
        return;
    }
    const double start = resetPeak();
    size_t accumulator = 0;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Frame k = streamingGains(&accumulator);
        spent += std::chrono::steady_clock::now() - t0;
        benchmark::DoNotOptimize(k.data());
    }
    speedup(state, g_inMemoryMs, msPerIteration(spent, state));
    state.counters["accumulator_MiB"] = double(accumulator) / (1024.0 * 1024.0);
    state.counters["accumulator_frames"] = double(accumulator) / double(kPixels * 2);
    reportPeak(state, start);
}
BENCHMARK(BM_Gain128x2_Streaming)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
