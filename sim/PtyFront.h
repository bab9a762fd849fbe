#pragma once

#include "Peer.h"
#include "SerialLine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace irsim {

// The serial front: a pseudo-terminal whose slave side stands in for the camera's
// serial port (/dev/pts/N). The master is read on a thread of its own; replies are
// written to it. Clients may open and close the slave as often as they like.
class PtyFront {
public:
    using DataHandler = std::function<void(const PeerPtr& peer, const uint8_t* data, size_t len)>;

    PtyFront();
    ~PtyFront();
    PtyFront(const PtyFront&) = delete;
    PtyFront& operator=(const PtyFront&) = delete;

    void setDataHandler(DataHandler handler);
    bool start(std::string* error);
    void stop();
    bool running() const;
    std::string slavePath() const;
    // The one peer of this front (the client at the slave side, whoever it is).
    PeerPtr peer() const;
    // The line between the slave and the core (line speed, byte counts).
    SerialLine& line() { return m_line; }

private:
    class PtyPeer;
    void run();
    void writeOut(const uint8_t* data, size_t len);

    DataHandler m_handler;
    int m_master = -1;
    int m_slaveHold = -1;
    int m_wake[2] = {-1, -1};
    std::string m_slavePath;
    std::shared_ptr<PtyPeer> m_peer;
    std::mutex m_writeMutex;
    SerialLine m_line;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

} // namespace irsim
