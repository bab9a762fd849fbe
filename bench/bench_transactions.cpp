// Round trips against the virtual camera over real TCP with a 1 ms poll interval.
// A transaction can never be faster than its polls (the pause comes before each
// read), so each figure is reported against that floor, measured in the same run by
// BM_PollFloor: overhead_pct = (time per transaction - polls x floor) / (polls x floor).
#include "CComonFun.h"
#include "CDevice.h"
#include "CNetConnect.h"
#include "DataExchange.h"
#include "Pace.h"
#include "VirtualCamera.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr double kPollMs = 1.0;

struct Rig {
    QTemporaryDir root;
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect link;
    double floorMs = 0; // measured cost of one poll pause

    Rig()
    {
        CComonFun::setDataRoot(root.path());
        Pace::setScale(1.0);
        DataExchange::setPollIntervalMs(kPollMs);
        irsim::CameraOptions o;
        o.net.port = 0;
        cam = std::make_unique<irsim::VirtualCamera>(o);
        std::string err;
        if (!cam->start(&err)) {
            std::fprintf(stderr, "virtual camera: %s\n", err.c_str());
            std::exit(1);
        }
        NetLoginParams p;
        p.ip = "127.0.0.1";
        p.port = cam->port();
        p.user = "admin";
        p.password = "admin";
        if (!link.Login(p)) {
            std::fprintf(stderr, "login failed\n");
            std::exit(1);
        }
        CDevice::SetConnect(&link);
        // The floor: what one nominal 1 ms pause really costs on this machine.
        const int n = 400;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            Pace::sleepMs(kPollMs);
        floorMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / n;
    }
};

Rig& rig()
{
    static Rig r;
    return r;
}

void report(benchmark::State& state, std::chrono::steady_clock::duration spent, int polls)
{
    const double perOp = std::chrono::duration<double, std::milli>(spent).count() / double(state.iterations());
    const double floor = polls * rig().floorMs;
    state.counters["ms_per_op"] = perOp;
    state.counters["floor_ms"] = floor;
    state.counters["nominal_floor_ms"] = polls * kPollMs;
    state.counters["overhead_pct"] = 100.0 * (perOp - floor) / floor;
}

bool enterAndAnnounce(uint32_t size)
{
    DataExchange* dx = DataExchange::instance();
    unsigned char be[4];
    const uint32_t addr = 0x1430000;
    be[0] = uint8_t(addr >> 24); be[1] = uint8_t(addr >> 16); be[2] = uint8_t(addr >> 8); be[3] = uint8_t(addr);
    if (!dx->writeRegister(0xF0E0, 1) || !dx->writeRegister(0xF0E1, 1) || !dx->writeBlock(0xE3, be, 4))
        return false;
    be[0] = uint8_t(size >> 24); be[1] = uint8_t(size >> 16); be[2] = uint8_t(size >> 8); be[3] = uint8_t(size);
    return dx->writeBlock(0xE4, be, 4);
}

} // namespace

static void BM_PollFloor(benchmark::State& state)
{
    rig();
    for (auto _ : state)
        Pace::sleepMs(kPollMs);
}
BENCHMARK(BM_PollFloor)->Unit(benchmark::kMillisecond);

// One register write acknowledged with 1: one poll.
static void BM_RegisterWrite(benchmark::State& state)
{
    rig();
    DataExchange* dx = DataExchange::instance();
    int value = 0;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = dx->writeRegister(0x1234, value++);
        spent += std::chrono::steady_clock::now() - t0;
        if (!ok) {
            state.SkipWithError("write not acknowledged");
            return;
        }
    }
    report(state, spent, 1);
}
BENCHMARK(BM_RegisterWrite)->Unit(benchmark::kMillisecond);

// A 1000-byte block frame (1006 bytes) in upgrade mode and its acknowledgement.
static void BM_BlockRoundTrip(benchmark::State& state)
{
    rig();
    DataExchange* dx = DataExchange::instance();
    std::vector<unsigned char> block(1000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    const int perTransfer = 1000;
    int sent = 0;
    if (!enterAndAnnounce(uint32_t(perTransfer * 1000))) {
        state.SkipWithError("upgrade mode refused");
        return;
    }
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        if (sent == perTransfer) {
            dx->writeBlock(0xE5, nullptr, 0);
            dx->writeBlock(0xE6, nullptr, 0);
            if (!enterAndAnnounce(uint32_t(perTransfer * 1000))) {
                state.SkipWithError("upgrade mode refused");
                return;
            }
            sent = 0;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = dx->writeBlock(0xEE, block.data(), int(block.size()));
        spent += std::chrono::steady_clock::now() - t0;
        if (!ok) {
            state.SkipWithError("block not acknowledged");
            return;
        }
        ++sent;
    }
    dx->writeBlock(0xE6, nullptr, 0);
    report(state, spent, 1);
}
BENCHMARK(BM_BlockRoundTrip)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
