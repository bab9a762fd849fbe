// A register round trip beside the live stream. The link's reader only queues the
// stream's chunks; decoding runs on its own thread, so a reply must come back as fast
// with a 640 x 512 stream at 50 frames/s as without one, and as fast again when the
// decoder is slowed to 50 ms a frame and falls behind. Each figure is reported as a
// ratio to the round trip without a stream, measured first in the same process.
#include "BenchCamera.h"
#include "CDevice.h"
#include "CNetConnect.h"
#include "CStreamDecoder.h"
#include "DataExchange.h"
#include "Pace.h"
#include "VirtualCamera.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr double kPollMs = 1.0;
constexpr int kRegister = 0xF0E3;

struct StreamRig {
    StreamRig()
    {
        irsim::CameraOptions o;
        o.stream.frameRate = 50.0;
        cam = irbench_bench::startCameraAndLogin(o, &link, kPollMs);
        CDevice::SetConnect(&link);
    }
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect link;
};

StreamRig& rig()
{
    static StreamRig r;
    return r;
}

// Milliseconds per round trip over `state`'s iterations; 0 after a failed one.
double roundTrips(benchmark::State& state)
{
    DataExchange* dx = DataExchange::instance();
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        unsigned value = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = dx->readRegister(kRegister, &value) && dx->lastReplyReceived();
        spent += std::chrono::steady_clock::now() - t0;
        if (!ok) {
            state.SkipWithError("no reply");
            return 0;
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(spent).count() / double(state.iterations());
    state.counters["ms_per_op"] = ms;
    return ms;
}

double g_baselineMs = 0;

void streaming(bool on, double frameDelayMs)
{
    StreamRig& r = rig();
    if (!on) {
        r.link.StopStream();
        return;
    }
    r.link.StartStream();
    if (CStreamDecoder* decoder = r.link.StreamDecoder())
        decoder->SetFrameDelayMs(frameDelayMs);
}

void report(benchmark::State& state, double ms)
{
    const StreamQueueCounts c = rig().link.StreamDropCounts();
    state.counters["frames"] = double(rig().link.FrameBuffer() ? rig().link.FrameBuffer()->FrameCount() : 0);
    state.counters["dropped_chunks"] = double(c.droppedChunks);
    if (g_baselineMs > 0 && ms > 0)
        state.counters["ratio_vs_no_stream"] = ms / g_baselineMs;
}

} // namespace

static void BM_RoundTripNoStream(benchmark::State& state)
{
    streaming(false, 0);
    g_baselineMs = roundTrips(state);
}
BENCHMARK(BM_RoundTripNoStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);

static void BM_RoundTripStream640x512At50(benchmark::State& state)
{
    streaming(true, 0);
    const double ms = roundTrips(state);
    report(state, ms);
    streaming(false, 0);
}
BENCHMARK(BM_RoundTripStream640x512At50)->Unit(benchmark::kMillisecond)->MinTime(2.0);

static void BM_RoundTripStreamDecoderSlowed50ms(benchmark::State& state)
{
    streaming(true, 50.0);
    const double ms = roundTrips(state);
    report(state, ms);
    streaming(true, 0);
    streaming(false, 0);
}
BENCHMARK(BM_RoundTripStreamDecoderSlowed50ms)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
