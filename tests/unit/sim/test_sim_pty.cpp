// The serial front over a real pseudo-terminal, opened the way a serial port is.
#include "SimTestUtil.h"

#include "PtyFront.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace simtest;

namespace {

struct SerialCore {
    irsim::CoreModel core;
    irsim::PtyFront pty;
    SerialCore()
    {
        pty.setDataHandler([this](const irsim::PeerPtr& p, const uint8_t* d, size_t n) { core.receive(p, d, n); });
        std::string error;
        EXPECT_TRUE(pty.start(&error)) << error;
    }
};

// No allocation and only plain system calls: also used in a forked child.
int openPort(const char* path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    ::ioctl(fd, TIOCEXCL);
    termios tio;
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

// Reads until `want` bytes arrived or the time is up; returns the count.
size_t readFor(int fd, uint8_t* buf, size_t want, int timeoutMs)
{
    size_t got = 0;
    for (int waited = 0; got < want && waited < timeoutMs; waited += 10) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            const ssize_t n = ::read(fd, buf + got, want - got);
            if (n > 0)
                got += size_t(n);
        }
    }
    return got;
}

// One whole reply (its length byte says how long), or what arrived in time.
Bytes readReply(int fd)
{
    uint8_t buf[300];
    size_t got = readFor(fd, buf, 2, 2000);
    if (got == 2)
        got += readFor(fd, buf + 2, size_t(buf[1]) + 2, 2000);
    return Bytes(buf, buf + got);
}

// One request, one reply; true when the reply is the expected acknowledgement.
bool writeAcknowledged(int fd, const uint8_t* req, size_t len, const uint8_t* expect, size_t expectLen)
{
    if (::write(fd, req, len) != ssize_t(len))
        return false;
    uint8_t buf[64];
    if (readFor(fd, buf, expectLen, 2000) != expectLen)
        return false;
    for (size_t i = 0; i < expectLen; ++i)
        if (buf[i] != expect[i])
            return false;
    return true;
}

} // namespace

TEST(SimPty, RoundTripThroughTheSlave)
{
    SerialCore s;
    const int fd = openPort(s.pty.slavePath().c_str());
    ASSERT_GE(fd, 0) << s.pty.slavePath();
    // A short read sent padded to 11 bytes, in two writes.
    const Bytes req = padded(shortRead(1), 11);
    ASSERT_EQ(::write(fd, req.data(), 5), 5);
    ASSERT_EQ(::write(fd, req.data() + 5, req.size() - 5), ssize_t(req.size() - 5));
    uint8_t buf[64];
    const Bytes expect{0xF0, 0x05, 0x36, 0x01, 0x01, 0x10, 0x22, 0x6A, 0xFF};
    ASSERT_EQ(readFor(fd, buf, expect.size(), 2000), expect.size());
    EXPECT_EQ(Bytes(buf, buf + expect.size()), expect);
    // A 1000-byte block arrives whole (no CR/LF or 0xFF translation on the way).
    const Bytes enter[] = {longWrite(0xF0E0, 1), longWrite(0xF0E1, 1), blockFrame(0xE3, be32(0x1400000)),
                           blockFrame(0xE4, be32(1000))};
    for (const Bytes& r : enter) {
        ASSERT_EQ(::write(fd, r.data(), r.size()), ssize_t(r.size()));
        EXPECT_EQ(valueOf(readReply(fd)), 1u);
    }
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i % 3 == 0 ? 0x0D : i % 3 == 1 ? 0x0A : 0xFF);
    const Bytes blk = blockFrame(0xEE, data);
    ASSERT_EQ(::write(fd, blk.data(), blk.size()), ssize_t(blk.size()));
    EXPECT_EQ(readReply(fd), (Bytes{0xF1, 0x02, 0xEE, 0x01, 0xEF, 0xFF}));
    const Bytes end = blockFrame(0xE5);
    ASSERT_EQ(::write(fd, end.data(), end.size()), ssize_t(end.size()));
    EXPECT_EQ(valueOf(readReply(fd)), 1u);
    EXPECT_EQ(readFor(fd, buf, 1, 50), 0u); // nothing left over
    EXPECT_EQ(s.core.readFlash(0x1400000, 1000), data);
    EXPECT_EQ(s.core.unframedBytes(), 4u);
    ::close(fd);
}

TEST(SimPty, ServesClientAfterClientEvenInExclusiveMode)
{
    SerialCore s;
    const Bytes req = padded(longWrite(0x2001, 0), 15);
    const Bytes ack = irsim::writeReply(0xFE, 1);
    const std::string path = s.pty.slavePath();
    // Run the cycles without privileges when we have them: exclusive mode does not
    // stop root, so it would hide a port left locked by the previous client.
    const bool root = ::geteuid() == 0;
    if (root)
        ::chmod(path.c_str(), 0666);
    const pid_t pid = root ? ::fork() : 0;
    ASSERT_GE(pid, 0);
    if (pid == 0 || !root) {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(90);
        int failures = 0;
        for (int cycle = 0; cycle < 4; ++cycle) {
            const int fd = openPort(path.c_str());
            if (fd < 0 || !writeAcknowledged(fd, req.data(), req.size(), ack.data(), ack.size()))
                failures |= 1 << cycle;
            if (fd >= 0)
                ::close(fd);
        }
        if (root)
            ::_exit(failures);
        EXPECT_EQ(failures, 0);
    }
    if (root) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "failed cycles bit mask";
    }
    EXPECT_EQ(s.core.requestCount(), 4u);
}

TEST(SimPty, DroppedLineStaysSilentUntilTheNextRequest)
{
    SerialCore s;
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("drop@0xF031#1", &rule, nullptr));
    s.core.faults().add(rule);
    const int fd = openPort(s.pty.slavePath().c_str());
    ASSERT_GE(fd, 0);
    // Two requests in one write: the first drops the line, the second is lost with it.
    Bytes both = longRead(0xF031);
    const Bytes second = longRead(0xF032);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_EQ(::write(fd, both.data(), both.size()), ssize_t(both.size()));
    uint8_t buf[64];
    EXPECT_EQ(readFor(fd, buf, 1, 200), 0u);
    // The next request is answered normally.
    const Bytes again = longRead(0xF032);
    ASSERT_EQ(::write(fd, again.data(), again.size()), ssize_t(again.size()));
    ASSERT_EQ(readFor(fd, buf, 11, 2000), 11u);
    EXPECT_EQ(valueOf(Bytes(buf, buf + 11)), 0x20241105u);
    ::close(fd);
}

TEST(SimPty, StopAndStartAgain)
{
    irsim::PtyFront pty;
    std::string error;
    ASSERT_TRUE(pty.start(&error)) << error;
    const std::string first = pty.slavePath();
    EXPECT_EQ(first.rfind("/dev/pts/", 0), 0u);
    pty.stop();
    EXPECT_FALSE(pty.running());
    ASSERT_TRUE(pty.start(&error)) << error;
    EXPECT_TRUE(pty.running());
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        ::close(fd);
}
