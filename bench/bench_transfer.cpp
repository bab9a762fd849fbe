// Writing 100 KiB into the virtual camera's flash over real TCP with a 1 ms poll
// interval. Every acknowledged step costs at least one poll pause, so a write of n
// blocks can never beat (n + 5) pauses; the pause itself is measured in the same run
// (BM_PollFloor, BenchRig.cpp) and each figure is reported against that floor:
// overhead_pct = (time per write - (n + 5) x floor) / ((n + 5) x floor).
#include "BenchRig.h"
#include "CComonFun.h"
#include "FileTransfer.h"
#include "ModuleInteract.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kBytes = 100 * 1024;
constexpr int kBlocks = (kBytes + 999) / 1000;
constexpr uint32_t kAddress = 0x1000000; // OCC 1: 1 MiB of room

// The 100 KiB written: one file for the page's write, the same bytes in memory.
struct Data {
    QByteArray bytes;
    QString file;
    Data()
    {
        bytes.resize(kBytes);
        for (int i = 0; i < kBytes; ++i)
            bytes[i] = char(i * 31 + (i >> 10));
        irbench_bench::rig();
        file = CComonFun::dataRoot() + "/occ.bin"; // the rig's temporary data root
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            std::exit(1);
        }
    }
};

Data& data()
{
    static Data d;
    return d;
}

void report(benchmark::State& state, std::chrono::steady_clock::duration spent)
{
    irbench_bench::reportAgainstFloor(state, spent, kBlocks + 5);
    const double perOp = state.counters["ms_per_op"];
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

// The reusable routine with the whole content in memory.
static void BM_WriteBlocks100K(benchmark::State& state)
{
    const Data& r = data();
    ModuleInteract* mi = ModuleInteract::instance();
    const auto* bytes = reinterpret_cast<const unsigned char*>(r.bytes.constData());
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = mi->writeBlocksAt(kAddress, 0, bytes, r.bytes.size());
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
    const Data& r = data();
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
