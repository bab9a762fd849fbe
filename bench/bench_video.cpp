// Frame ingest (reassembly with CRC check, copy into the frame buffer, add-info decode)
// and the three AGC mappings on 640 x 512 frames of the virtual camera, each beside a
// memcpy of the same bytes in the same run. Goals on one core: ingest >= 1500 frames/s,
// each AGC mode >= 1000 frames/s.
#include "AgcProcessor.h"
#include "CFindFrame.h"
#include "FrameSource.h"
#include "Presets.h"
#include "StreamPacket.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kW = 640;
constexpr int kH = 512;
constexpr size_t kChunk = 65536; // a typical stream chunk

const std::vector<uint16_t>& cameraFrame()
{
    static const std::vector<uint16_t> frame = [] {
        irsim::SceneOptions scene;
        irsim::FrameSource src(*irsim::findPreset("res640"), scene);
        std::vector<uint16_t> f;
        src.render(0.0, f);
        return f;
    }();
    return frame;
}

const std::vector<uint8_t>& cameraPackets()
{
    // Eight packets back to back, so chunk borders fall everywhere in a packet.
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        for (int i = 0; i < 8; ++i)
            streampacket::appendPacket(b, cameraFrame().data(), kW, kH);
        return b;
    }();
    return bytes;
}

void BM_MemcpyPackets(benchmark::State& state)
{
    const std::vector<uint8_t>& in = cameraPackets();
    std::vector<uint8_t> out(in.size());
    for (auto _ : state) {
        for (size_t off = 0; off < in.size(); off += kChunk)
            std::memcpy(out.data() + off, in.data() + off, std::min(kChunk, in.size() - off));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 8);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_MemcpyPackets);

void BM_FrameIngestCrc(benchmark::State& state)
{
    const std::vector<uint8_t>& in = cameraPackets();
    CFindFrame ff; // neutral layout, no add-info sink
    uint64_t frames = 0;
    for (auto _ : state) {
        for (size_t off = 0; off < in.size(); off += kChunk)
            frames += ff.InputData(in.data() + off, int(std::min(kChunk, in.size() - off))) ? 1 : 0;
    }
    if (ff.FrameCount() < uint64_t(state.iterations()) * 8 || ff.counters().crcDrops != 0)
        state.SkipWithError("frames lost");
    state.SetItemsProcessed(state.iterations() * 8);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_FrameIngestCrc);

void BM_MemcpyImage(benchmark::State& state)
{
    const std::vector<uint16_t>& in = cameraFrame();
    std::vector<uint16_t> out(size_t(kW) * (kH - 2));
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), out.size() * 2);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size() * 2));
}
BENCHMARK(BM_MemcpyImage);

void BM_Agc(benchmark::State& state)
{
    const std::vector<uint16_t>& in = cameraFrame();
    AgcProcessor agc;
    agc.Create(kW, kH - 2);
    agc.SetMode(int(state.range(0)));
    std::vector<uint8_t> out(size_t(kW) * (kH - 2));
    for (auto _ : state) {
        agc.Process(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(state.range(0) == 1 ? "Line" : state.range(0) == 2 ? "Histeq" : "Special");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size() * 2));
}
BENCHMARK(BM_Agc)->Arg(1)->Arg(2)->Arg(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
