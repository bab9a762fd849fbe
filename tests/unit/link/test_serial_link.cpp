// The serial link against a real pseudo-terminal: the test holds the master side
// and plays the core.
#include "CComConnect.h"
#include "CDevice.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

class Pty {
public:
    Pty()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(m_master);
        unlockpt(m_master);
        m_path = ptsname(m_master);
        // Keep one slave descriptor open so the master never sees a hang-up between
        // the link's opens.
        m_slave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
        struct termios t {};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    ~Pty()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    const std::string& path() const { return m_path; }

    void send(const std::vector<unsigned char>& bytes) { ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Reads what the link sent, waiting up to one second for `want` bytes.
    std::vector<unsigned char> receive(size_t want)
    {
        std::vector<unsigned char> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            struct pollfd p { m_master, POLLIN, 0 };
            if (::poll(&p, 1, 50) > 0) {
                unsigned char buf[4096];
                ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }

    // The bytes written by the master reach the line's input queue asynchronously. The
    // queue and the line's settings belong to the terminal: this descriptor sees them
    // as the link does.
    void settle(int n)
    {
        ASSERT_TRUE(irtest::waitFor([&] { int q = 0; return !::ioctl(m_slave, FIONREAD, &q) && q >= n; }));
    }
    termios line() const { termios t{}; tcgetattr(m_slave, &t); return t; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

std::vector<unsigned char> seq(int n, int start = 1)
{
    std::vector<unsigned char> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = static_cast<unsigned char>(start + i);
    return v;
}

} // namespace

TEST(SerialLink, ReadsNeverWaitAndDropWhatIsBeyondTheRequest)
{
    Pty pty;
    CComConnect link;
    ASSERT_TRUE(link.Open(pty.path(), 115200));

    unsigned char buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    int count = -1;
    // A read takes what is there: no minimum count, no inter-byte timer.
    EXPECT_EQ(pty.line().c_cc[VMIN], 0);
    EXPECT_EQ(pty.line().c_cc[VTIME], 0);
    EXPECT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buf[0], 0xAA) << "an empty read leaves the buffer as it was";

    pty.send(seq(15));
    pty.settle(15);
    ASSERT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 11);
    EXPECT_EQ(std::vector<unsigned char>(buf, buf + 11), seq(11));
    EXPECT_EQ(buf[11], 0xAA);
    // The four bytes beyond the 11 asked for were purged.
    EXPECT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 0);

    // A short read keeps nothing back and a null count is allowed.
    pty.send(seq(5, 0x40));
    pty.settle(5);
    EXPECT_TRUE(link.Read(buf, 11, nullptr));
    EXPECT_EQ(buf[0], 0x40);
}

TEST(SerialLink, WritesReachThePeerWhole)
{
    // write() only queues; the bytes must not be thrown away by a purge afterwards.
    Pty pty;
    CComConnect link;
    ASSERT_TRUE(link.Open(pty.path(), 9600));
    const auto frame = seq(15, 0xF0 - 14);
    ASSERT_TRUE(link.Write(frame.data(), int(frame.size())));
    EXPECT_EQ(pty.receive(frame.size()), frame);

    const auto block = seq(1006, 3);
    ASSERT_TRUE(link.Write(block.data(), int(block.size())));
    EXPECT_EQ(pty.receive(block.size()), block);
}

TEST(SerialLink, StaleInputIsDroppedBeforeARequest)
{
    Pty pty;
    CComConnect link;
    ASSERT_TRUE(link.Open(pty.path(), 115200));
    pty.send(seq(11, 0x60)); // a late answer to some earlier request
    pty.settle(11);
    const auto req = seq(11);
    ASSERT_TRUE(link.Write(req.data(), int(req.size())));
    EXPECT_EQ(pty.receive(req.size()), req);
    pty.send(seq(11, 0x20)); // the answer to this request
    pty.settle(11);
    unsigned char buf[11] = {};
    int count = 0;
    ASSERT_TRUE(link.Read(buf, 11, &count));
    ASSERT_EQ(count, 11);
    EXPECT_EQ(buf[0], 0x20);
}

TEST(SerialLink, OpenCloseAndExclusiveAccess)
{
    Pty pty;
    CComConnect link;
    EXPECT_FALSE(link.Open("/dev/does-not-exist-irbench", 115200));
    EXPECT_FALSE(link.IsOpen());
    unsigned char b[4];
    EXPECT_FALSE(link.Write(b, 4)) << "closed port";
    EXPECT_FALSE(link.Read(b, 4, nullptr));

    ASSERT_TRUE(link.Open(pty.path(), 115200));
    CComConnect second;
    EXPECT_FALSE(second.Open(pty.path(), 115200)) << "a port is used by one link at a time";

    // Reopening closes the old descriptor first, so the port is free for this link.
    ASSERT_TRUE(link.Open(pty.path(), 57600));
    link.Close();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(second.Open(pty.path(), 115200)) << "closed ports are free again";
}

TEST(SerialLink, BaudRatesOfTheDialogAllOpen)
{
    Pty pty;
    for (int baud : {2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200}) {
        CComConnect link;
        EXPECT_TRUE(link.Open(pty.path(), baud)) << baud;
    }
    CComConnect link;
    EXPECT_FALSE(link.Open(pty.path(), 0));
}

TEST(CurrentLink, EmptySlotFailsAndCloseEmptiesIt)
{
    CDevice::SetConnect(nullptr);
    unsigned char b[4] = {1, 2, 3, 4};
    EXPECT_FALSE(CDevice::Write(b, 4));
    EXPECT_FALSE(CDevice::Read(b, 4, nullptr));
    CDevice::Close(); // nothing to close

    Pty pty;
    CComConnect link;
    ASSERT_TRUE(link.Open(pty.path(), 115200));
    EXPECT_EQ(CDevice::SetConnect(&link), &link);
    EXPECT_TRUE(CDevice::Write(b, 4));
    EXPECT_EQ(pty.receive(4), std::vector<unsigned char>(b, b + 4));
    CDevice::Close();
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_FALSE(link.IsOpen());
}
