// Writing 100 KiB into the virtual camera's flash over real TCP with a 1 ms poll
// interval. Every acknowledged step costs at least one poll pause, so a write of n
// blocks can never beat (n + 5) pauses; the pause itself is measured in the same run
// (BM_PollFloor) and each figure is reported against that floor:
// overhead_pct = (time per write - (n + 5) x floor) / ((n + 5) x floor).
#include "CComonFun.h"
#include "CDevice.h"
#include "CNetConnect.h"
#include "DataExchange.h"
#include "FileTransfer.h"
#include "ModuleInteract.h"
#include "Pace.h"
#include "VirtualCamera.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr double kPollMs = 1.0;
constexpr int kBytes = 100 * 1024;
constexpr int kBlocks = (kBytes + 999) / 1000;
constexpr uint32_t kAddress = 0x1000000; // OCC 1: 1 MiB of room

struct Rig {
    QTemporaryDir root;
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect link;
    QByteArray data;
    QString file;
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
        data.resize(kBytes);
        for (int i = 0; i < kBytes; ++i)
            data[i] = char(i * 31 + (i >> 10));
        file = root.filePath("occ.bin");
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            std::exit(1);
        }
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

void report(benchmark::State& state, std::chrono::steady_clock::duration spent)
{
    const double perOp = std::chrono::duration<double, std::milli>(spent).count() / double(state.iterations());
    const double floor = (kBlocks + 5) * rig().floorMs;
    state.counters["ms_per_write"] = perOp;
    state.counters["floor_ms"] = floor;
    state.counters["nominal_floor_ms"] = (kBlocks + 5) * kPollMs;
    state.counters["overhead_pct"] = 100.0 * (perOp - floor) / floor;
    state.counters["KiB_per_s"] = (kBytes / 1024.0) / (perOp / 1000.0);
}

class Quiet : public TransferContext {
public:
    void message(const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

} // namespace

static void BM_PollFloor(benchmark::State& state)
{
    rig();
    for (auto _ : state)
        Pace::sleepMs(kPollMs);
}
BENCHMARK(BM_PollFloor)->Unit(benchmark::kMillisecond);

// The reusable routine with the whole content in memory.
static void BM_WriteBlocks100K(benchmark::State& state)
{
    Rig& r = rig();
    ModuleInteract* mi = ModuleInteract::instance();
    const auto* bytes = reinterpret_cast<const unsigned char*>(r.data.constData());
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = mi->writeBlocksAt(kAddress, 0, bytes, r.data.size());
        spent += std::chrono::steady_clock::now() - t0;
        if (!ok) {
            state.SkipWithError(qPrintable(mi->lastErrorText()));
            return;
        }
    }
    report(state, spent);
}
BENCHMARK(BM_WriteBlocks100K)->Unit(benchmark::kMillisecond)->Iterations(10);

// The page's write, reading the file block by block (one more, empty block at most).
static void BM_PageFileWrite100K(benchmark::State& state)
{
    Rig& r = rig();
    Quiet ctx;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = writeFileToCore(ctx, kAddress, r.file);
        spent += std::chrono::steady_clock::now() - t0;
        if (!ok) {
            state.SkipWithError("page write failed");
            return;
        }
    }
    report(state, spent);
}
BENCHMARK(BM_PageFileWrite100K)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
