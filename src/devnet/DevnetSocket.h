#pragma once

// Small POSIX socket helpers shared by the SDK and the camera side. Every wait is a
// poll with a bound, and every wait can be cut short by a wake pipe, so that closing
// a connection never has to wait for the network.

#include <cstddef>
#include <cstdint>
#include <string>

struct sockaddr_in;

namespace devnet {

int64_t monotonicMs();

// A pipe whose read end becomes readable once signal() is called and stays readable
// (it is never drained): every poll that includes it returns from then on.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    bool valid() const { return m_rd >= 0; }
    int fd() const { return m_rd; }
    void signal();
    bool signalled() const;

private:
    int m_rd = -1;
    int m_wr = -1;
};

// Dotted IPv4 text and a port. With `lookup`, a host name is resolved too (this may
// wait for the resolver: the SDK never looks names up, the camera side may).
bool resolveIPv4(const std::string& host, uint16_t port, sockaddr_in* out, bool lookup = false);

enum class ConnectResult { Ok, Refused, TimedOut, Woken, Failed };
// Non-blocking connect bounded by timeoutMs. On Ok *fd is a connected, non-blocking
// socket with TCP_NODELAY and keep-alive set.
ConnectResult connectTcp(const sockaddr_in& addr, int timeoutMs, int wakeFd, int* fd);

// Writes all bytes (partial writes, EINTR, EAGAIN handled; never raises SIGPIPE).
// False when the connection failed, the wake pipe fired or timeoutMs ran out.
bool sendAll(int fd, const uint8_t* data, size_t len, int timeoutMs, int wakeFd);

enum class ReadResult { Data, Idle, Closed, Woken };
// Waits up to timeoutMs for bytes (or the wake pipe) and reads what is there.
// Closed covers end of stream and errors.
ReadResult readSome(int fd, int wakeFd, int timeoutMs, uint8_t* buf, size_t cap, size_t* got);

// Waits up to timeoutMs for the wake pipe; true when it fired.
bool waitWake(int wakeFd, int timeoutMs);

void setCommonOptions(int fd);
void closeFd(int fd);

} // namespace devnet
