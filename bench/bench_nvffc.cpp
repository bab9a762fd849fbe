// The NVFFC model of 64 frames of 640 x 512 (accumulation, mean-free model, 3 x 3
// smoothing, block scale) beside a memcpy of the same 64 frames in the same run: the
// counter "x_memcpy" is the model's time over the copy's. The frames come from a pool
// that stays in memory, as the captured run does.
#include "NoShutterMath.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kW = 640;
constexpr int kH = 512;
constexpr size_t kPixels = size_t(kW) * kH;
constexpr int kFrames = 64;

using Frame = std::vector<uint16_t>;

const std::vector<Frame>& frames()
{
    static const std::vector<Frame> pool = [] {
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0, 6);
        std::vector<Frame> out(kFrames, Frame(kPixels));
        for (Frame& f : out)
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    const double r2 = ((x - 320.0) * (x - 320.0) + (y - 256.0) * (y - 256.0)) / (320.0 * 320 + 256.0 * 256);
                    f[size_t(y) * kW + size_t(x)] = uint16_t(6000 + 400 * r2 + noise(rng));
                }
        return out;
    }();
    return pool;
}

double g_memcpyMs = 0;

double msPer(std::chrono::steady_clock::duration d, const benchmark::State& state)
{
    return std::chrono::duration<double, std::milli>(d).count() / double(state.iterations());
}

} // namespace

static void BM_Memcpy64Frames(benchmark::State& state)
{
    const auto& src = frames();
    std::vector<Frame> dst(kFrames, Frame(kPixels));
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i)
            std::memcpy(dst[size_t(i)].data(), src[size_t(i)].data(), kPixels * 2);
        benchmark::ClobberMemory();
        spent += std::chrono::steady_clock::now() - t0;
    }
    g_memcpyMs = msPer(spent, state);
    state.counters["ms_per_op"] = g_memcpyMs;
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * int64_t(kPixels) * 2);
}
BENCHMARK(BM_Memcpy64Frames)->Unit(benchmark::kMillisecond);

static void BM_Nvffc64Frames(benchmark::State& state)
{
    const auto& src = frames();
    std::vector<uint32_t> acc(kPixels);
    std::vector<int16_t> model(kPixels), smooth(kPixels);
    std::chrono::steady_clock::duration spent{};
    noshutter::BlockScale scale;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::fill(acc.begin(), acc.end(), 0u);
        for (const Frame& f : src)
            noshutter::accumulate(acc.data(), f.data(), kPixels);
        noshutter::meanFreeModel(acc.data(), kPixels, kFrames, model.data());
        noshutter::smooth3x3(model.data(), kW, kH, smooth.data());
        scale = noshutter::blockScale(smooth.data(), kW, kH);
        const std::vector<uint8_t> file = noshutter::modelFileBytes(smooth.data(), kPixels, scale.scale);
        benchmark::DoNotOptimize(file.data());
        spent += std::chrono::steady_clock::now() - t0;
    }
    const double ms = msPer(spent, state);
    state.counters["ms_per_op"] = ms;
    if (g_memcpyMs > 0)
        state.counters["x_memcpy"] = ms / g_memcpyMs;
    state.counters["scale"] = double(scale.scale);
}
BENCHMARK(BM_Nvffc64Frames)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
