// The two reply pacings against the line they run on. The virtual camera's core line
// runs at 115200 baud (8N1) and programs each data block for 2 ms; the host runs as in
// production (Pace at scale 1, 200 ms poll interval). A transaction can never be
// faster than its bytes take on the line plus the flash time of its blocks, so every
// figure stands beside that limit, computed from the camera's own counters around the
// measured operations:
//   line_limit_ms = (bytes to core + bytes to host) x 10 / baud + blocks x block time
//   ratio_to_line = ms_per_op / line_limit_ms
// Same figures over the pty (serial link) and over TCP (network link's tunnelled serial
// channel). The fixed pacing sleeps 200 ms before each read, so its upgrade writes run
// once each (->Iterations(1)); the whole program takes about two minutes.
// BM_RegisterProbe splits a register write's time into what line, camera and link cost
// (the link read without pause) and what the look interval adds.
#include "CComConnect.h"
#include "BenchCamera.h"
#include "CDevice.h"
#include "CFramePacker.h"
#include "CNetConnect.h"
#include "DataExchange.h"
#include "Pace.h"
#include "UpgradeWriter.h"
#include "VirtualCamera.h"

#include <QByteArray>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Pacing = DataExchange::Pacing;

constexpr int kBaud = 115200;
constexpr int kBlockMs = 2;
constexpr double kPollMs = 200.0;      // the production poll interval
constexpr int kUpgradeBytes = 102400;  // 103 data blocks, the last of 400 bytes
constexpr int kUpgradeBlocks = (kUpgradeBytes + 999) / 1000;
constexpr uint32_t kUpgradeAddress = 0x1000000; // OCC 1: 1 MiB of room
constexpr int kRegister = 0x1234;

// A gain table of 640 x 512 words, extrapolated from the measured block rate.
constexpr int kGainBytes = 655360;
constexpr int kGainBlocks = (kGainBytes + 999) / 1000;

enum class LinkKind { Serial, Network };

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct PacingRig {
    PacingRig()
    {
        irsim::CameraOptions o;
        o.serial = true;
        o.baud = kBaud;
        o.blockProgramMs = kBlockMs;
        cam = irbench_bench::startCameraAndLogin(o, &net, kPollMs);
        if (!com.Open(cam->ptyPath(), kBaud)) {
            std::fprintf(stderr, "cannot open %s\n", cam->ptyPath().c_str());
            std::exit(1);
        }
        payload.resize(kUpgradeBytes);
        for (int i = 0; i < kUpgradeBytes; ++i)
            payload[i] = char(i * 31 + (i >> 10));
    }
    ~PacingRig()
    {
        CDevice::SetConnect(nullptr);
        com.Close();
        net.Close();
        cam->stop();
    }
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    CComConnect com;
    QByteArray payload;
};

PacingRig& rig()
{
    static PacingRig r;
    return r;
}

void use(LinkKind link, Pacing pacing)
{
    PacingRig& r = rig();
    CDevice::SetConnect(link == LinkKind::Serial ? static_cast<CInterfaceConnect*>(&r.com) : &r.net);
    DataExchange::setPacing(pacing);
    DataExchange::setPollIntervalMs(kPollMs);
}

// What crossed the core's line: bytes both ways and data blocks programmed.
struct Line {
    uint64_t bytes = 0;
    uint64_t blocks = 0;
    static Line now()
    {
        const irsim::VirtualCamera& c = *rig().cam;
        return {c.serialBytesFromHost() + c.serialBytesToHost(), c.dataBlocksProgrammed()};
    }
    Line operator-(const Line& o) const { return {bytes - o.bytes, blocks - o.blocks}; }
    Line& operator+=(const Line& o)
    {
        bytes += o.bytes;
        blocks += o.blocks;
        return *this;
    }
    double limitMs() const { return double(bytes) * 10.0 * 1000.0 / kBaud + double(blocks) * kBlockMs; }
};

void report(benchmark::State& state, Clock::duration spent, const Line& line)
{
    const double n = double(state.iterations());
    const double perOp = ms(spent) / n;
    const double limit = line.limitMs() / n;
    state.counters["ms_per_op"] = perOp;
    state.counters["line_limit_ms"] = limit;
    state.counters["ratio_to_line"] = limit > 0 ? perOp / limit : 0;
    state.counters["line_bytes"] = double(line.bytes) / n;
}

class Quiet : public TransferContext {
public:
    void message(const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

// One register write acknowledged with 1: 15 bytes out, 11 back.
void registerWrite(benchmark::State& state, LinkKind link, Pacing pacing)
{
    use(link, pacing);
    DataExchange* dx = DataExchange::instance();
    int value = 0;
    Clock::duration spent{};
    Line line;
    for (auto _ : state) {
        const Line before = Line::now();
        const auto t0 = Clock::now();
        const bool ok = dx->writeRegister(kRegister, value++);
        const auto took = Clock::now() - t0;
        line += Line::now() - before;
        spent += took;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        if (!ok) {
            state.SkipWithError("write not acknowledged");
            return;
        }
    }
    report(state, spent, line);
}

// The whole upgrade-mode write of 100 KiB: enter, confirm, address, size, 103 data
// blocks, end, exit. The time of each step is split into data blocks and the rest, so
// that a larger write can be extrapolated from the block rate.
void upgradeWrite(benchmark::State& state, LinkKind link, Pacing pacing)
{
    use(link, pacing);
    Quiet ctx;
    Clock::duration spent{}, inBlocks{}, inSteps{};
    int blocks = 0, steps = 0;
    Line line;
    for (auto _ : state) {
        MemorySource source(rig().payload);
        UpgradeOptions options;
        options.progress = [](int) {};
        auto last = Clock::now();
        options.stepDone = [&](UpgradeStep step) {
            const auto t = Clock::now();
            if (step == UpgradeStep::Block) {
                inBlocks += t - last;
                ++blocks;
            } else {
                inSteps += t - last;
                ++steps;
            }
            last = t;
        };
        const Line before = Line::now();
        const auto t0 = Clock::now();
        last = t0;
        const UpgradeResult r = writeUpgrade(ctx, kUpgradeAddress, source, options);
        const auto took = Clock::now() - t0;
        line += Line::now() - before;
        spent += took;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        if (!r.ok) {
            state.SkipWithError("upgrade write failed");
            return;
        }
        if (rig().cam->core().readFlash(kUpgradeAddress, kUpgradeBytes) != std::vector<uint8_t>(rig().payload.begin(), rig().payload.end())) {
            state.SkipWithError("flash differs from what was written");
            return;
        }
    }
    report(state, spent, line);
    const double n = double(state.iterations());
    const double perBlock = ms(inBlocks) / blocks;
    const double perStep = ms(inSteps) / steps;
    const int stepsPerWrite = int(steps / n);
    state.counters["blocks"] = blocks / n;
    state.counters["steps"] = steps / n;
    state.counters["ms_per_block"] = perBlock;
    state.counters["ms_per_step"] = perStep;
    state.counters["KiB_per_s"] = (kUpgradeBytes / 1024.0) / (ms(spent) / n / 1000.0);
    // The same writer with a gain table: every block but the last 1006 bytes out and
    // 6 back, the steps as measured.
    const double gainMs = kGainBlocks * perBlock + stepsPerWrite * perStep;
    const double stepBytes = double(line.bytes) / n - (kUpgradeBytes + kUpgradeBlocks * 12.0);
    const double gainLimit = ((kGainBytes + kGainBlocks * 12.0 + stepBytes) * 10.0 * 1000.0 / kBaud + kGainBlocks * kBlockMs);
    state.counters["gain_table_s_est"] = gainMs / 1000.0;
    state.counters["gain_table_limit_s"] = gainLimit / 1000.0;
}

// Where a reply-paced register write loses against the line: the same 15-byte request
// and 11-byte reply by hand, the link looked at every `lookUs` microseconds (through
// Pace, as the reply pacing does with 1000; 0: the link read without pause). The
// spinning figure is what line, camera and link cost together; the rest of the reply
// pacing's time is its look interval.
void registerProbe(benchmark::State& state, LinkKind link, int lookUs)
{
    use(link, Pacing::Reply);
    constexpr int kRequest = 15, kReply = 11;
    uint32_t value = 0;
    Clock::duration spent{}, writing{}, toFirst{};
    int reads = 0;
    Line line;
    for (auto _ : state) {
        const unsigned char* frame = CFramePacker::instance()->packWriteRegister(kRegister, value++);
        unsigned char reply[1024];
        int got = 0;
        const Line before = Line::now();
        const auto t0 = Clock::now();
        const bool sent = CDevice::Write(frame, kRequest);
        const auto written = Clock::now();
        const auto giveUp = t0 + std::chrono::seconds(1);
        while (sent && got < kReply && Clock::now() < giveUp) {
            unsigned char chunk[1024];
            int n = 0;
            ++reads;
            if (CDevice::Read(chunk, int(sizeof chunk), &n) && n > 0) {
                if (got == 0)
                    toFirst += Clock::now() - t0;
                std::copy(chunk, chunk + std::min(n, int(sizeof reply) - got), reply + got);
                got += std::min(n, int(sizeof reply) - got);
                continue;
            }
            if (lookUs > 0)
                Pace::sleepMs(lookUs / 1000.0);
        }
        const auto took = Clock::now() - t0;
        line += Line::now() - before;
        spent += took;
        writing += written - t0;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        if (got != kReply || reply[0] != 0xF0 || reply[kReply - 1] != 0xFF) {
            state.SkipWithError("no whole reply");
            return;
        }
    }
    report(state, spent, line);
    const double n = double(state.iterations());
    state.counters["write_ms"] = ms(writing) / n;
    state.counters["first_byte_ms"] = ms(toFirst) / n;
    state.counters["reads_per_op"] = reads / n;
}

const char* linkName(LinkKind k)
{
    return k == LinkKind::Serial ? "serial" : "network";
}

const char* pacingLabel(Pacing p)
{
    return p == Pacing::Reply ? "reply" : "fixed";
}

} // namespace

int main(int argc, char** argv)
{
    for (LinkKind link : {LinkKind::Serial, LinkKind::Network}) {
        for (Pacing pacing : {Pacing::Reply, Pacing::Fixed}) {
            const std::string tail = std::string("/") + linkName(link) + "/" + pacingLabel(pacing);
            auto* reg = benchmark::RegisterBenchmark(("BM_RegisterWrite" + tail).c_str(), registerWrite, link, pacing);
            reg->Unit(benchmark::kMillisecond)->UseManualTime();
            // 200 ms a write in the fixed pacing.
            reg->Iterations(pacing == Pacing::Reply ? 300 : 10);
            auto* up = benchmark::RegisterBenchmark(("BM_Upgrade100K" + tail).c_str(), upgradeWrite, link, pacing);
            up->Unit(benchmark::kMillisecond)->UseManualTime();
            // About 9 s a write in the reply pacing, 22 s in the fixed one.
            up->Iterations(pacing == Pacing::Reply ? 2 : 1);
        }
    }
    for (LinkKind link : {LinkKind::Serial, LinkKind::Network}) {
        for (int lookUs : {1000, 250, 100, 0}) {
            const std::string name = std::string("BM_RegisterProbe/") + linkName(link) + "/look_us:" + std::to_string(lookUs);
            benchmark::RegisterBenchmark(name.c_str(), registerProbe, link, lookUs)
                ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(300);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    rig();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
