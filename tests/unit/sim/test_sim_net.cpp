// The virtual camera over its TCP front, driven through our device SDK.
#include "SimTestUtil.h"

#include "TestSupport.h"
#include "VirtualCamera.h"
#include "devnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

using namespace simtest;

namespace {

struct Inbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Bytes> chunks;

    static void callback(int32_t, const char* data, uint32_t len, void* user)
    {
        auto* self = static_cast<Inbox*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->chunks.emplace_back(reinterpret_cast<const uint8_t*>(data), reinterpret_cast<const uint8_t*>(data) + len);
        self->changed.notify_all();
    }
    bool wait(size_t n, int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return chunks.size() >= n; });
    }
    std::vector<Bytes> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Bytes> out;
        out.swap(chunks);
        return out;
    }
};

irsim::CameraOptions netOptions()
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.timeScale = 0.01;
    return o;
}

} // namespace

TEST(SimNet, RepliesComeBackAsOneChunkEachAndSplitAsTwo)
{
    irsim::VirtualCamera camera(netOptions());
    std::string error;
    ASSERT_TRUE(camera.start(&error)) << error;
    ASSERT_NE(camera.port(), 0);
    NET_DEV_Init();

    NET_DEV_DEVICEINFO info{};
    EXPECT_LT(NET_DEV_Login("127.0.0.1", camera.port(), "admin", "wrong", &info), 0);
    const int32_t user = NET_DEV_Login("127.0.0.1", camera.port(), "admin", "admin", &info);
    ASSERT_GE(user, 0) << NET_DEV_GetLastError();
    Inbox inbox;
    const int32_t serial = NET_DEV_SerialStart(user, 1, &Inbox::callback, &inbox);
    ASSERT_GE(serial, 0) << NET_DEV_GetLastError();

    const Bytes read = padded(shortRead(1), 11);
    ASSERT_EQ(NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(read.data()), uint32_t(read.size())), 1);
    ASSERT_TRUE(inbox.wait(1, 3000));
    auto chunks = inbox.take();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], (Bytes{0xF0, 0x05, 0x36, 0x01, 0x01, 0x10, 0x22, 0x6A, 0xFF}));

    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("split=500", &rule, nullptr));
    camera.faults().add(rule);
    ASSERT_EQ(NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(read.data()), uint32_t(read.size())), 1);
    ASSERT_TRUE(inbox.wait(2, 3000));
    chunks = inbox.take();
    ASSERT_EQ(chunks.size(), 2u);
    Bytes joined = chunks[0];
    joined.insert(joined.end(), chunks[1].begin(), chunks[1].end());
    EXPECT_EQ(joined, (Bytes{0xF0, 0x05, 0x36, 0x01, 0x01, 0x10, 0x22, 0x6A, 0xFF}));

    // The closing command a host sends last.
    camera.faults().clear();
    const Bytes close = padded(longWrite(0xF018, 5), 15);
    ASSERT_EQ(NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(close.data()), uint32_t(close.size())), 1);
    ASSERT_TRUE(inbox.wait(1, 3000));
    EXPECT_EQ(camera.core().closeCommandCount(), 1);

    NET_DEV_SerialStop(serial);
    NET_DEV_Logout(user);
    camera.stop();
}

TEST(SimNet, DropFaultClosesTheClientConnection)
{
    irsim::VirtualCamera camera(netOptions());
    std::string error;
    ASSERT_TRUE(camera.start(&error)) << error;
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("drop@0xF031", &rule, nullptr));
    camera.faults().add(rule);
    NET_DEV_DEVICEINFO info{};
    const int32_t user = NET_DEV_Login("127.0.0.1", camera.port(), "admin", "admin", &info);
    ASSERT_GE(user, 0);
    Inbox inbox;
    const int32_t serial = NET_DEV_SerialStart(user, 1, &Inbox::callback, &inbox);
    ASSERT_GE(serial, 0);
    const Bytes req = longRead(0xF031);
    NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(req.data()), uint32_t(req.size()));
    EXPECT_FALSE(inbox.wait(1, 300));
    for (int i = 0; i < 100 && camera.faults().totalFired() == 0; ++i)
        inbox.wait(1, 10);
    EXPECT_EQ(camera.faults().totalFired(), 1);
    // The client notices the connection is gone: sending fails sooner or later.
    bool sendFailed = false;
    for (int i = 0; i < 100 && !sendFailed; ++i) {
        sendFailed = NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(req.data()), uint32_t(req.size())) != 1;
        if (!sendFailed)
            inbox.wait(1, 10);
    }
    EXPECT_TRUE(sendFailed);
    NET_DEV_SerialStop(serial);
    NET_DEV_Logout(user);
}

TEST(SimNet, SecondCameraOnTheSamePortFailsCleanly)
{
    irsim::VirtualCamera first(netOptions());
    std::string error;
    ASSERT_TRUE(first.start(&error)) << error;
    irsim::CameraOptions o = netOptions();
    o.net.port = first.port();
    irsim::VirtualCamera second(o);
    EXPECT_FALSE(second.start(&error));
    EXPECT_FALSE(error.empty());

    irsim::CameraOptions bad = netOptions();
    bad.preset = "nope";
    irsim::VirtualCamera third(bad);
    EXPECT_FALSE(third.start(&error));
    EXPECT_NE(error.find("nope"), std::string::npos);
}

namespace {

// A TCP connection that never logs in.
int connectIdle(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool closedByPeer(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, 0) > 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

} // namespace

class IdleConnections : public ::testing::TestWithParam<int> {};

// Connections that never log in (a port scanner, a hung client) must not lock a
// working client out, however many there are.
TEST_P(IdleConnections, DoNotLockOutAClientThatLogsIn)
{
    irsim::CameraOptions o = netOptions();
    o.net.loginWaitMs = 1500;
    irsim::VirtualCamera camera(o);
    std::string error;
    ASSERT_TRUE(camera.start(&error)) << error;
    const int idle = GetParam();
    std::vector<int> fds;
    for (int i = 0; i < idle; ++i) {
        fds.push_back(connectIdle(camera.port()));
        ASSERT_GE(fds.back(), 0);
    }
    const int held = std::min(idle, irsim::NetFront::kMaxPending);
    ASSERT_TRUE(irtest::waitFor([&] { return camera.pendingLogins() == held; })) << camera.pendingLogins();

    NET_DEV_Init();
    NET_DEV_DEVICEINFO info{};
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t user = NET_DEV_Login("127.0.0.1", camera.port(), "admin", "admin", &info);
    ASSERT_GE(user, 0) << NET_DEV_GetLastError();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(o.net.loginWaitMs))
        << "served without waiting for the idle ones to time out";
    if (idle <= irsim::NetFront::kMaxPending)
        EXPECT_FALSE(closedByPeer(fds.back())) << "the idle ones sit there meanwhile";
    Inbox inbox;
    const int32_t serial = NET_DEV_SerialStart(user, 1, &Inbox::callback, &inbox);
    ASSERT_GE(serial, 0) << NET_DEV_GetLastError();

    // After the login time the idle ones are gone, the client is still served.
    EXPECT_TRUE(irtest::waitFor([&] { return camera.pendingLogins() == 0; }, o.net.loginWaitMs + 3000));
    EXPECT_TRUE(irtest::waitFor([&] { return closedByPeer(fds.back()); }));
    const Bytes read = longRead(0xF031);
    ASSERT_EQ(NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(read.data()), uint32_t(read.size())), 1);
    EXPECT_TRUE(inbox.wait(1, 3000));
    for (int fd : fds)
        ::close(fd);
    NET_DEV_SerialStop(serial);
    NET_DEV_Logout(user);
}

INSTANTIATE_TEST_SUITE_P(SimNet, IdleConnections, ::testing::Values(16, 60));
