// Arbitrary bytes from a client, cut into arbitrary chunks, into the core model; the
// same bytes as a fault text. Every reply the core sends must be one whole frame.
#include "CoreModel.h"
#include "Faults.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class CheckingPeer : public irsim::Peer {
public:
    void sendChunk(const uint8_t* data, size_t len) override
    {
        // Reply: kind, LEN, ..., CHK, 0xFF; LEN + 4 bytes in all.
        if (len < 5 || (data[0] != 0xF0 && data[0] != 0xF1) || size_t(data[1]) + 4 != len || data[len - 1] != 0xFF)
            std::abort();
        uint8_t sum = 0;
        for (size_t i = 2; i < len - 2; ++i)
            sum = uint8_t(sum + data[i]);
        if (sum != data[len - 2])
            std::abort();
    }
    void dropConnection() override {}
    bool alive() const override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    irsim::FaultRule rule;
    irsim::FaultRule::parse(std::string(reinterpret_cast<const char*>(data), size), &rule, nullptr);

    static irsim::CoreModel* core = [] {
        auto* c = new irsim::CoreModel;
        c->setLongCommandDelayMs(0);
        c->setCompletionDelayMs(-1);
        return c;
    }();
    auto peer = std::make_shared<CheckingPeer>();
    // The first byte picks the chunk size, so frames arrive split at every place.
    const size_t step = size_t(data[0] % 37) + 1;
    for (size_t at = 1; at < size; at += step) {
        const size_t n = step < size - at ? step : size - at;
        core->receive(peer, data + at, n);
    }
    core->forgetPeer(peer.get());
    return 0;
}
