#include "BenchRig.h"

#include "BenchCamera.h"

#include "CDevice.h"
#include "DataExchange.h"
#include "Pace.h"

#include <cstdio>
#include <cstdlib>

namespace irbench_bench {

CameraRig::CameraRig()
{
    cam = startCameraAndLogin(irsim::CameraOptions(), &link, kPollMs);
    CDevice::SetConnect(&link);
    const int n = 400;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i)
        Pace::sleepMs(kPollMs);
    floorMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / n;
}

CameraRig& rig()
{
    static CameraRig r;
    return r;
}

void reportAgainstFloor(benchmark::State& state, std::chrono::steady_clock::duration spent, int polls)
{
    const double perOp = std::chrono::duration<double, std::milli>(spent).count() / double(state.iterations());
    const double floor = polls * rig().floorMs;
    state.counters["ms_per_op"] = perOp;
    state.counters["floor_ms"] = floor;
    state.counters["nominal_floor_ms"] = polls * kPollMs;
    state.counters["overhead_pct"] = 100.0 * (perOp - floor) / floor;
}

} // namespace irbench_bench

// The baseline of every round-trip figure.
static void BM_PollFloor(benchmark::State& state)
{
    irbench_bench::rig();
    for (auto _ : state)
        Pace::sleepMs(irbench_bench::kPollMs);
}
BENCHMARK(BM_PollFloor)->Unit(benchmark::kMillisecond);
