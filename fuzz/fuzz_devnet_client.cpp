// Arbitrary camera bytes into the SDK's message handling (DevnetClientSession), with
// a login, a serial start and a stream start waiting and both callbacks set. The
// same input is fed whole and in small pieces: both must hand out the same answers
// and callbacks and end in the same state.
#include "DevnetClientSession.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using devnet::DevnetClientSession;

namespace {

struct Run {
    DevnetClientSession session;
    std::string trace; // everything observable, in order
    bool ok = true;
    uint32_t reqs[3] = {};
};

// A first data byte of 0xAA makes the serial callback stop its own channel.
void onSerial(int32_t handle, const char* data, uint32_t size, void* user)
{
    auto* r = static_cast<Run*>(user);
    r->trace += "S" + std::to_string(handle) + ":" + std::string(data, size) + ";";
    if (size > 0 && uint8_t(data[0]) == 0xAA)
        r->session.clearSerial(handle, nullptr);
}

void onStream(int32_t handle, uint32_t type, const uint8_t* data, uint32_t size, void* user)
{
    auto* r = static_cast<Run*>(user);
    if (type != NET_DEV_STREAMDATA || size == 0)
        std::abort();
    r->trace += "V" + std::to_string(handle) + ":" + std::string(reinterpret_cast<const char*>(data), size) + ";";
}

void setUp(Run& r)
{
    r.session.connectionUp();
    r.reqs[0] = r.session.newRequest(devnet::MsgLogin);
    r.reqs[1] = r.session.newRequest(devnet::MsgSerialStart);
    r.reqs[2] = r.session.newRequest(devnet::MsgStreamStart);
    uint8_t preview[devnet::kPreviewSize] = {};
    r.session.setSerial(11, 1, onSerial, &r);
    r.session.setStream(12, preview, onStream, &r);
}

void finish(Run& r)
{
    for (uint32_t id : r.reqs) {
        DevnetClientSession::Answer a;
        if (r.session.takeAnswer(id, &a)) {
            r.trace += "A" + std::to_string(id) + "=" + std::to_string(int(a.state)) + "/"
                       + std::to_string(a.wireError) + "/" + a.text + "/" + a.login.serialNumber + "/"
                       + a.login.model + ";";
        }
    }
    r.trace += r.session.hasSerial() ? "serial on;" : "serial off;";
    r.session.connectionDown();
    r.session.clearAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t piece = size_t(data[0] % 32) + 1;
    ++data;
    --size;

    Run whole;
    setUp(whole);
    whole.ok = whole.session.feed(data, size);
    finish(whole);

    Run split;
    setUp(split);
    for (size_t at = 0; at < size && split.ok; at += piece)
        split.ok = split.session.feed(data + at, std::min(piece, size - at));
    finish(split);

    if (whole.ok != split.ok || whole.trace != split.trace)
        std::abort();
    return 0;
}
