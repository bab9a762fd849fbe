#pragma once

#include "CoreFrames.h"
#include "CoreModel.h"
#include "Peer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

// A client of the core that records what the core sends it.
class RecordingPeer : public irsim::Peer {
public:
    void sendChunk(const uint8_t* data, size_t len) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.emplace_back(data, data + len);
        m_changed.notify_all();
    }
    void dropConnection() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_drops;
        m_changed.notify_all();
    }
    bool alive() const override { return true; }

    // Waits until at least n chunks arrived (false on timeout).
    bool waitChunks(size_t n, int timeoutMs = 2000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_chunks.size() >= n; });
    }
    std::vector<Bytes> chunks() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_chunks;
    }
    Bytes takeAll()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Bytes all;
        for (const Bytes& c : m_chunks)
            all.insert(all.end(), c.begin(), c.end());
        m_chunks.clear();
        return all;
    }
    int drops() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_drops;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Bytes> m_chunks;
    int m_drops = 0;
};

// Request builders, written out independently of the core's own code.
inline Bytes registerFrame(Bytes body)
{
    Bytes f{0xF0, uint8_t(body.size())};
    uint8_t sum = 0;
    for (uint8_t b : body)
        sum = uint8_t(sum + b);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(sum);
    f.push_back(0xFF);
    return f;
}
inline Bytes longWrite(uint32_t a, uint32_t v)
{
    return registerFrame({0x36, 0xFE, 0x00, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a),
                          uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
inline Bytes longRead(uint32_t a)
{
    return registerFrame({0x36, 0xFE, 0x01, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
}
inline Bytes shortRead(uint8_t a) { return registerFrame({0x36, a, 0x01}); }
inline Bytes blockFrame(uint8_t cmd, const Bytes& data = {})
{
    const size_t len = data.size() + 1;
    Bytes f{0xF1, uint8_t(len >> 8), uint8_t(len), cmd};
    uint8_t sum = cmd;
    for (uint8_t b : data)
        sum = uint8_t(sum + b);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(sum);
    f.push_back(0xFF);
    return f;
}
inline Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes padded(Bytes frame, size_t total)
{
    frame.resize(std::max(total, frame.size()), 0);
    return frame;
}

// Payload of a reply as the host reads it: kind byte, length byte, then LEN-3 bytes
// from offset 5 (0xF0) or LEN-1 bytes from offset 3 (0xF1).
inline Bytes payloadOf(const Bytes& reply)
{
    if (reply.size() < 2)
        return {};
    const size_t len = reply[1];
    if (reply[0] == 0xF0 && len >= 3 && reply.size() >= 5 + len - 3)
        return Bytes(reply.begin() + 5, reply.begin() + 5 + (len - 3));
    if (reply[0] == 0xF1 && len >= 1 && reply.size() >= 3 + len - 1)
        return Bytes(reply.begin() + 3, reply.begin() + 3 + (len - 1));
    return {};
}
inline uint32_t valueOf(const Bytes& reply)
{
    uint32_t v = 0;
    for (uint8_t b : payloadOf(reply))
        v = (v << 8) | b;
    return v;
}

// Sends one request and returns the one reply chunk it got (empty on none).
inline Bytes transact(irsim::CoreModel& core, const std::shared_ptr<RecordingPeer>& peer, const Bytes& req,
                      int timeoutMs = 2000)
{
    peer->takeAll();
    core.receive(peer, req.data(), req.size());
    if (!peer->waitChunks(1, timeoutMs))
        return {};
    return peer->takeAll();
}

} // namespace simtest
