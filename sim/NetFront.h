#pragma once

#include "Peer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace irsim {

// The virtual camera's network side: a TCP server speaking the devnet wire protocol
// (docs/devnet-protocol.md). It checks the credentials, carries the serial channel to
// and from the core model, and sends stream data to clients that started a stream.
class NetFront {
public:
    struct Options {
        std::string host = "127.0.0.1";
        uint16_t port = 8000; // 0: pick a free port (see port())
        std::string user = "admin";
        std::string password = "admin";
        std::string serialNumber = "IRSIM-0001";
        std::string model = "irbench-sim";
    };

    // Bytes a client sent on its serial channel, as they arrived (one call per message).
    using SerialHandler = std::function<void(const PeerPtr& peer, const uint8_t* data, size_t len)>;
    // A client went away (its serial channel state is dropped).
    using PeerClosedHandler = std::function<void(const PeerPtr& peer)>;
    // A client started (true) or stopped (false) a stream on a channel.
    using StreamHandler = std::function<void(int channel, bool started)>;

    explicit NetFront(const Options& options);
    ~NetFront();
    NetFront(const NetFront&) = delete;
    NetFront& operator=(const NetFront&) = delete;

    void setSerialHandler(SerialHandler handler);
    void setPeerClosedHandler(PeerClosedHandler handler);
    void setStreamHandler(StreamHandler handler);

    // Binds and starts accepting on a thread of its own. False with a reason on failure.
    bool start(std::string* error);
    void stop();
    uint16_t port() const;

    // Stream bytes to every client with a running stream (one stream-data message each).
    void sendStream(const uint8_t* data, size_t len);
    bool anyStreaming() const;
    int clientCount() const;
    // Fault injection: closes every client connection at once.
    void dropAll();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace irsim
