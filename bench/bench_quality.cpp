// The acceptance figures of 16 frames of 640 x 512 (510 image rows) beside a memcpy
// of the same frames in the same run: the ratio of the two is the figure that counts.
#include "QualityFigures.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kW = 640;
constexpr int kRows = 510;
constexpr int kFrames = 16;

struct Run {
    std::vector<std::vector<uint16_t>> frames;
    std::vector<const uint16_t*> ptr;
    std::vector<uint8_t> map;
    Run()
        : frames(kFrames, std::vector<uint16_t>(size_t(kW) * kRows))
        , map(size_t(kW) * kRows, 0)
    {
        uint32_t r = 12345;
        for (auto& f : frames) {
            for (auto& v : f) {
                r = r * 1664525u + 1013904223u;
                v = uint16_t(8000 + (r >> 28));
            }
            ptr.push_back(f.data());
        }
        for (int i = 0; i < 40; ++i)
            map[size_t(i) * 8011 % map.size()] = 1;
    }
};

Run& run()
{
    static Run r;
    return r;
}

void BM_MemcpyFrames(benchmark::State& state)
{
    Run& r = run();
    std::vector<uint16_t> dst(size_t(kW) * kRows * kFrames);
    for (auto _ : state) {
        for (int k = 0; k < kFrames; ++k)
            std::memcpy(dst.data() + size_t(k) * kW * kRows, r.ptr[size_t(k)], size_t(kW) * kRows * 2);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyFrames)->Unit(benchmark::kMillisecond);

void BM_QualityFigures(benchmark::State& state)
{
    Run& r = run();
    QualityFigures f;
    for (auto _ : state) {
        computeQualityFigures(r.ptr.data(), kFrames, kW, kRows, r.map.data(), &f);
        benchmark::DoNotOptimize(f);
    }
}
BENCHMARK(BM_QualityFigures)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
