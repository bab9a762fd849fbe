// Arbitrary client bytes into the camera side's connection handling
// (DevnetServerSession). Everything the camera writes back must itself be well-formed
// protocol, and feeding the input whole or in small pieces must give the same events
// and the same replies.
#include "DevnetServerSession.h"

#include <cstdlib>
#include <string>
#include <vector>

using devnet::DevnetServerSession;

namespace {

struct Run : DevnetServerSession::Events {
    std::string trace;
    std::vector<uint8_t> out;
    uint32_t serialTag = 0;
    DevnetServerSession* session = nullptr;

    void loggedIn() override { trace += "login;"; }
    void serialStarted(uint32_t tag, uint32_t port) override
    {
        serialTag = tag;
        trace += "s+" + std::to_string(port) + ";";
    }
    void serialStopped(uint32_t tag) override { trace += "s-" + std::to_string(tag) + ";"; }
    void serialData(uint32_t tag, uint32_t channel, const uint8_t* d, size_t n) override
    {
        if (n == 0)
            std::abort();
        trace += "d" + std::to_string(channel) + ":" + std::string(reinterpret_cast<const char*>(d), n) + ";";
        // the camera answers at once, as the core model does
        session->sendSerial(tag, d, n);
    }
    void streamStarted(int32_t ch) override { trace += "v+" + std::to_string(ch) + ";"; }
    void streamStopped(int32_t ch) override { trace += "v-" + std::to_string(ch) + ";"; }
};

DevnetServerSession::Config config()
{
    DevnetServerSession::Config c;
    c.user = "admin";
    c.password = "admin";
    c.serialNumber = "IRSIM-0001";
    c.model = "irbench-sim";
    return c;
}

void check(const std::vector<uint8_t>& out)
{
    devnet::WireDecoder dec;
    dec.feed(out.data(), out.size());
    devnet::Message m;
    while (dec.next(&m)) {
    }
    if (dec.failed() || dec.buffered() != 0)
        std::abort();
}

bool play(Run& r, const uint8_t* data, size_t size, size_t piece)
{
    DevnetServerSession s(config(), &r, [&r](const std::vector<uint8_t>& m) {
        r.out.insert(r.out.end(), m.begin(), m.end());
        return true;
    });
    r.session = &s;
    bool ok = true;
    for (size_t at = 0; at < size && ok; at += piece)
        ok = s.feed(data + at, std::min(piece, size - at));
    const uint8_t frame[] = {'M', 'R', 'F', '_', 1, 2};
    s.sendStream(frame, sizeof(frame));
    s.sendSerial(r.serialTag, frame, sizeof(frame));
    r.trace += s.loggedIn() ? "in;" : "out;";
    s.closed();
    if (s.sendStream(frame, sizeof(frame)) || s.sendSerial(r.serialTag, frame, 1))
        std::abort(); // nothing goes out after the close
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t piece = size_t(data[0] % 32) + 1;
    ++data;
    --size;

    Run whole, split;
    const bool okWhole = play(whole, data, size, size ? size : 1);
    const bool okSplit = play(split, data, size, piece);
    check(whole.out);
    if (okWhole != okSplit || whole.trace != split.trace || whole.out != split.out)
        std::abort();
    return 0;
}
