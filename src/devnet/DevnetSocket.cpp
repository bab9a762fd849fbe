#include "DevnetSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace devnet {

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

WakePipe::WakePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_rd = fds[0];
        m_wr = fds[1];
    }
}

WakePipe::~WakePipe()
{
    closeFd(m_rd);
    closeFd(m_wr);
}

void WakePipe::signal()
{
    if (m_wr < 0)
        return;
    const char b = 1;
    ssize_t r;
    do {
        r = ::write(m_wr, &b, 1);
    } while (r < 0 && errno == EINTR);
}

bool WakePipe::signalled() const
{
    if (m_rd < 0)
        return true;
    pollfd p{m_rd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool resolveIPv4(const std::string& host, uint16_t port, sockaddr_in* out, bool lookup)
{
    std::memset(out, 0, sizeof(*out));
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &out->sin_addr) == 1)
        return true;
    if (!lookup || host.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return false;
    out->sin_addr = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return true;
}

void setCommonOptions(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one));
    // A camera that vanishes without a reset is noticed within about 20 s even when
    // the application keep-alive is not running (camera side).
    int idle = 10, intvl = 3, cnt = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof(intvl));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof(cnt));
}

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd); // never retried on EINTR: the descriptor is gone either way on Linux
}

namespace {

// poll() that survives EINTR with the remaining time.
int pollFor(pollfd* fds, nfds_t n, int timeoutMs)
{
    const int64_t end = monotonicMs() + (timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int left = int(end - monotonicMs());
        if (left < 0)
            left = 0;
        const int r = ::poll(fds, n, left);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

} // namespace

ConnectResult connectTcp(const sockaddr_in& addr, int timeoutMs, int wakeFd, int* fdOut)
{
    *fdOut = -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return ConnectResult::Failed;
    // An interrupted connect goes on in the background, like EINPROGRESS.
    const int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    if (r < 0 && errno != EINPROGRESS && errno != EINTR) {
        const int e = errno;
        closeFd(fd);
        return e == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
    }
    if (r < 0) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int n = pollFor(p, wakeFd >= 0 ? 2 : 1, timeoutMs);
        if (n > 0 && wakeFd >= 0 && (p[1].revents & POLLIN)) {
            closeFd(fd);
            return ConnectResult::Woken;
        }
        if (n <= 0) {
            closeFd(fd);
            return n == 0 ? ConnectResult::TimedOut : ConnectResult::Failed;
        }
        int err = 0;
        socklen_t len = sizeof(err);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
            err = errno;
        if (err != 0) {
            closeFd(fd);
            return err == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
        }
    }
    setCommonOptions(fd);
    *fdOut = fd;
    return ConnectResult::Ok;
}

bool sendAll(int fd, const uint8_t* data, size_t len, int timeoutMs, int wakeFd)
{
    const int64_t end = monotonicMs() + timeoutMs;
    while (len > 0) {
        const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            len -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        const int left = int(end - monotonicMs());
        if (left <= 0)
            return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int r = pollFor(p, wakeFd >= 0 ? 2 : 1, left);
        if (r <= 0)
            return false;
        if (wakeFd >= 0 && (p[1].revents & POLLIN))
            return false;
        if (p[0].revents & (POLLERR | POLLNVAL))
            return false;
    }
    return true;
}

ReadResult readSome(int fd, int wakeFd, int timeoutMs, uint8_t* buf, size_t cap, size_t* got)
{
    *got = 0;
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int r = pollFor(p, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (r < 0)
        return ReadResult::Closed;
    if (wakeFd >= 0 && (p[1].revents & POLLIN))
        return ReadResult::Woken;
    if (r == 0)
        return ReadResult::Idle;
    if (p[0].revents & POLLNVAL)
        return ReadResult::Closed;
    for (;;) {
        const ssize_t n = ::recv(fd, buf, cap, 0);
        if (n > 0) {
            *got = size_t(n);
            return ReadResult::Data;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ReadResult::Idle;
        return ReadResult::Closed;
    }
}

bool waitWake(int wakeFd, int timeoutMs)
{
    pollfd p{wakeFd, POLLIN, 0};
    return pollFor(&p, 1, timeoutMs) > 0;
}

} // namespace devnet
