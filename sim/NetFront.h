#pragma once

#include "Peer.h"
#include "SerialLine.h"

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
        int loginWaitMs = 5000; // a connection that has not logged in by then is closed
    };

    // Logged-in clients at most; a client beyond them is refused as busy.
    static constexpr int kMaxClients = 16;
    // Connections still to log in at most; a new one beyond them closes the oldest.
    static constexpr int kMaxPending = 48;

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
    // Connections accepted that have not logged in (yet).
    int pendingCount() const;
    // The camera's own serial line to its core, which the tunnelled serial channel
    // crosses (line speed, byte counts); the video stream does not.
    SerialLine& serialLine();
    // Fault injection: closes every client connection at once.
    void dropAll();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace irsim
