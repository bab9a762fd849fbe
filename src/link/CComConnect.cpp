#include "CComConnect.h"

#include "Pace.h"
#include "SerialBaud.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedFor(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return B0;
    }
}

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

} // namespace

CComConnect::CComConnect()
    : m_fd(-1)
{
}

CComConnect::~CComConnect()
{
    Close();
}

bool CComConnect::IsSupportedBaud(int baudRate)
{
    return baudRate >= 50 && baudRate <= 4000000;
}

bool CComConnect::Open(const std::string& portName, int baudRate)
{
    Close();
    if (!IsSupportedBaud(baudRate) || portName.empty())
        return false;
    const speed_t speed = speedFor(baudRate);

    int fd = ::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Exclusive use: TIOCEXCL stops other opens of the tty (root is exempt from it),
    // the advisory lock stops a second IrBench, root or not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (speed != B0) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || (speed == B0 && !setCustomBaud(fd, baudRate))) {
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    return true;
}

bool CComConnect::Write(const void* data, int len)
{
    if (m_fd < 0)
        return false;
    if (len <= 0 || !data)
        return len == 0;
    // Anything still waiting in the input queue predates this request: drop it now,
    // before the core can have answered, so a fast reply is never thrown away.
    ::tcflush(m_fd, TCIFLUSH);

    const auto deadline = Clock::now() + std::chrono::milliseconds(500 + 100 * int64_t(len));
    const auto* p = static_cast<const unsigned char*>(data);
    int left = len;
    while (left > 0) {
        ssize_t n = ::write(m_fd, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const int wait = msLeft(deadline);
        if (wait == 0)
            return false;
        struct pollfd pfd { m_fd, POLLOUT, 0 };
        ::poll(&pfd, 1, wait);
    }
    // write() returns once the bytes are queued, not sent: wait until the output
    // queue has drained (within the write bound) instead of discarding it.
    int queued = 0;
    while (::ioctl(m_fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (msLeft(deadline) == 0)
            return false;
        Pace::sleepMs(1);
    }
    return true;
}

bool CComConnect::Read(unsigned char* buf, int len, int* count)
{
    if (m_fd < 0)
        return false;
    int got = 0;
    if (buf && len > 0) {
        for (;;) {
            ssize_t n = ::read(m_fd, buf, size_t(len));
            if (n >= 0) {
                got = int(n);
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return false;
        }
    }
    if (count)
        *count = got;
    // Bytes beyond what the caller asked for belong to no request any more. A short
    // read took everything there was; flushing then could only eat a reply that is
    // arriving this very moment.
    if (len > 0 && got == len)
        ::tcflush(m_fd, TCIFLUSH);
    return true;
}

bool CComConnect::WaitForData(double ms)
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    const double us = std::max(ms, 0.0) * 1000.0;
    timespec t{time_t(us / 1e6), long(std::fmod(us, 1e6) * 1000.0)};
    ::ppoll(&p, 1, &t, nullptr); // EINTR or a timeout: the caller looks and decides
    return true;
}

void CComConnect::Close()
{
    if (m_fd < 0)
        return;
    // The exclusive flag belongs to the terminal, not to this descriptor: lift it, or
    // the port stays locked for everyone while anything else holds it open.
    ::ioctl(m_fd, TIOCNXCL);
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
