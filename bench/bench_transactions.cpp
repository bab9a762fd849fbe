// Register and block round trips against the virtual camera (see BenchRig.h).
#include "BenchRig.h"
#include "DataExchange.h"

#include <vector>

using irbench_bench::reportAgainstFloor;
using irbench_bench::rig;

namespace {

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
    reportAgainstFloor(state, spent, 1);
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
    reportAgainstFloor(state, spent, 1);
}
BENCHMARK(BM_BlockRoundTrip)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
