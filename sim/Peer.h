#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace irsim {

// One connected client of the virtual camera's serial channel (a TCP client whose
// serial channel is started, or the pty front). The core model answers through it.
class Peer {
public:
    virtual ~Peer() = default;
    // Sends one chunk to the client: over TCP one serial-data message (the client's
    // callback sees it as one chunk), on the pty a plain write.
    virtual void sendChunk(const uint8_t* data, size_t len) = 0;
    // Drops the client's connection (fault injection). The pty front hangs up by
    // discarding everything until the next request instead.
    virtual void dropConnection() = 0;
    virtual bool alive() const = 0;
};

using PeerPtr = std::shared_ptr<Peer>;

} // namespace irsim
