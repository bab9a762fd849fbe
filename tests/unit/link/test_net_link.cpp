// The network link against our own devnet server (the virtual camera's network
// front) over real TCP: the one-chunk mailbox, login, the closing command, the stream.
#include "CDevice.h"
#include "CNetConnect.h"
#include "DataExchange.h"
#include "LinkClosing.h"
#include "NetFront.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

using irtest::waitFor;

// A camera whose serial side records what arrives and answers every register write
// with an acknowledgement; mailbox tests push chunks through the peer by hand.
class NetLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::NetFront::Options o;
        o.port = 0;
        o.user = "op";
        o.password = "pw";
        front = std::make_unique<irsim::NetFront>(o);
        front->setSerialHandler([this](const irsim::PeerPtr& p, const uint8_t* d, size_t n) {
            std::lock_guard<std::mutex> l(lock);
            peer = p;
            received.insert(received.end(), d, d + n);
            if (n >= 15 && d[0] == 0xF0 && d[4] == 0x00) {
                const Bytes ack{0xF0, 0x07, 0x36, d[3], 0x00, 0, 0, 0, 1, uint8_t(0x36 + d[3] + 1), 0xFF};
                p->sendChunk(ack.data(), ack.size());
            }
        });
        front->setStreamHandler([this](int channel, bool started) {
            std::lock_guard<std::mutex> l(lock);
            streamEvents.emplace_back(channel, started);
        });
        std::string err;
        ASSERT_TRUE(front->start(&err)) << err;
    }
    void TearDown() override
    {
        CDevice::SetConnect(nullptr);
        front->stop();
    }
    NetLoginParams params(const char* password = "pw") const
    {
        NetLoginParams p;
        p.ip = "127.0.0.1";
        p.port = front->port();
        p.user = "op";
        p.password = password;
        p.channel = 3;
        return p;
    }
    irsim::PeerPtr currentPeer()
    {
        std::lock_guard<std::mutex> l(lock);
        return peer;
    }
    Bytes receivedBytes()
    {
        std::lock_guard<std::mutex> l(lock);
        return received;
    }
    // Sends one byte so the serial channel exists and the server knows the peer.
    irsim::PeerPtr openChannel(CNetConnect& link)
    {
        const unsigned char hello = 0x00;
        EXPECT_TRUE(link.Write(&hello, 1));
        EXPECT_TRUE(waitFor([&] { return currentPeer() != nullptr; }));
        return currentPeer();
    }
    // The chunk travels over TCP to the SDK's reader, which hands serial and stream
    // data over in wire order: it is in the mailbox once a stream chunk sent after it
    // has arrived.
    void push(CNetConnect& link, const irsim::PeerPtr& p, const Bytes& chunk)
    {
        const int before = link.StreamChunkCount();
        p->sendChunk(chunk.data(), chunk.size());
        const uint8_t mark = 0;
        front->sendStream(&mark, 1);
        ASSERT_TRUE(waitFor([&] { return link.StreamChunkCount() > before; }));
    }

    std::unique_ptr<irsim::NetFront> front;
    std::mutex lock;
    irsim::PeerPtr peer;
    Bytes received;
    std::vector<std::pair<int, bool>> streamEvents;
};

Bytes seq(int n, int start)
{
    Bytes v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = static_cast<unsigned char>(start + i);
    return v;
}

} // namespace

TEST_F(NetLinkTest, MailboxJoinsChunksUntilReadAndWriteClearsIt)
{
    CNetConnect link;
    ASSERT_TRUE(link.Login(params()));
    ASSERT_GE(link.LoginHandle(), 0);

    unsigned char buf[300];
    std::memset(buf, 0xAA, sizeof buf);
    int count = -1;
    EXPECT_FALSE(link.Read(buf, 11, &count)) << "nothing has ever arrived";
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(count, 0);

    auto p = openChannel(link);
    ASSERT_TRUE(p);
    ASSERT_TRUE(link.StartStream());
    ASSERT_TRUE(waitFor([&] { return front->anyStreaming(); }));
    push(link, p, seq(11, 0xF0));
    ASSERT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 11);
    EXPECT_EQ(Bytes(buf, buf + 11), seq(11, 0xF0));
    EXPECT_FALSE(link.Read(buf, 11, &count)) << "read empties the mailbox";
    EXPECT_EQ(count, 0);

    // What the caller had no room for waits for the next read.
    push(link, p, seq(15, 1));
    ASSERT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 11);
    EXPECT_EQ(Bytes(buf, buf + 11), seq(11, 1));
    ASSERT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(Bytes(buf, buf + count), seq(4, 12));

    // A reply delivered in two pieces is read whole.
    push(link, p, seq(5, 0x10));
    push(link, p, seq(6, 0x40));
    ASSERT_TRUE(link.Read(buf, 11, &count));
    EXPECT_EQ(count, 11);
    Bytes joined = seq(5, 0x10);
    const Bytes second = seq(6, 0x40);
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(Bytes(buf, buf + 11), joined);

    // A late reply still in the mailbox is dropped when the next request goes out.
    push(link, p, seq(11, 0xF0));
    const unsigned char req = 0x00;
    ASSERT_TRUE(link.Write(&req, 1));
    EXPECT_FALSE(link.Read(buf, 11, &count));

    // More than the mailbox holds: its first 280 bytes, never an overrun.
    std::memset(buf, 0xAA, sizeof buf);
    push(link, p, seq(300, 1));
    ASSERT_TRUE(link.Read(buf, 300, &count));
    EXPECT_EQ(count, 280);
    EXPECT_EQ(buf[279], uint8_t(280));
    EXPECT_EQ(buf[280], 0xAA);
}

TEST_F(NetLinkTest, LoginFailureLeavesTheLinkReusable)
{
    CNetConnect link;
    EXPECT_FALSE(link.Login(params("wrong")));
    EXPECT_LT(link.LoginHandle(), 0);
    unsigned char b[4] = {1, 2, 3, 4};
    EXPECT_FALSE(link.Write(b, 4)) << "no serial channel without a login";
    ASSERT_TRUE(link.Login(params()));
    EXPECT_TRUE(link.Write(b, 4));
    EXPECT_TRUE(waitFor([&] { return receivedBytes().size() >= 4; }));
}

TEST_F(NetLinkTest, CloseSendsTheClosingCommandLastAndLoginWhileLoggedInClosesFirst)
{
    const Bytes closing{0xF0, 0x0B, 0x36, 0xFE, 0x00, 0x00, 0x00, 0xF0, 0x18, 0x00, 0x00, 0x00, 0x05, 0x41, 0xFF};
    CNetConnect link;
    ASSERT_TRUE(link.Login(params()));
    CDevice::SetConnect(&link);
    ASSERT_TRUE(DataExchange::instance()->writeRegister(0x2001, 0));
    closeLink(&link);
    ASSERT_TRUE(waitFor([&] { return receivedBytes().size() >= 30; }));
    Bytes got = receivedBytes();
    EXPECT_EQ(Bytes(got.end() - 15, got.end()), closing);
    EXPECT_LT(link.LoginHandle(), 0);

    // Connecting again on a logged-in link says goodbye on the old connection first,
    // as the main window does.
    ASSERT_TRUE(link.Login(params()));
    ASSERT_TRUE(DataExchange::instance()->writeRegister(0x2001, 0));
    const size_t before = receivedBytes().size();
    closeLink(&link);
    ASSERT_TRUE(link.Login(params()));
    ASSERT_TRUE(waitFor([&] { return receivedBytes().size() >= before + 15; }));
    got = receivedBytes();
    EXPECT_EQ(Bytes(got.begin() + long(before), got.begin() + long(before) + 15), closing);
    CDevice::SetConnect(nullptr);
}

TEST_F(NetLinkTest, CloseOfALinkThatIsNotCurrentOrNeverLoggedIn)
{
    CNetConnect never;
    CDevice::SetConnect(&never);
    const auto t0 = std::chrono::steady_clock::now();
    closeLink(&never); // never logged in: no closing command, no hang
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));

    // Closing a link that is not the current one says nothing over the current one.
    // A write through the current link afterwards arrives after anything sent before it.
    CNetConnect current, other;
    ASSERT_TRUE(current.Login(params()));
    ASSERT_TRUE(other.Login(params()));
    CDevice::SetConnect(&current);
    closeLink(&other);
    EXPECT_LT(other.LoginHandle(), 0);
    ASSERT_TRUE(DataExchange::instance()->writeRegister(0x2001, 0));
    EXPECT_EQ(receivedBytes().size(), 15u) << "only the write after it";
    CDevice::SetConnect(nullptr);
}

TEST_F(NetLinkTest, StreamStartCarriesTheChannelAndDeliversChunks)
{
    CNetConnect link;
    ASSERT_TRUE(link.Login(params()));
    std::mutex sl;
    Bytes streamed;
    link.SetStreamSink([&](const uint8_t* d, int n) {
        std::lock_guard<std::mutex> l(sl);
        streamed.insert(streamed.end(), d, d + n);
    });
    ASSERT_TRUE(link.StartStream());
    EXPECT_TRUE(link.IsPlaying());
    EXPECT_TRUE(link.StartStream()) << "already playing";
    ASSERT_TRUE(waitFor([&] { std::lock_guard<std::mutex> l(lock); return !streamEvents.empty(); }));
    {
        std::lock_guard<std::mutex> l(lock);
        EXPECT_EQ(streamEvents.front(), std::make_pair(3, true));
    }
    ASSERT_TRUE(waitFor([&] { return front->anyStreaming(); }));
    const Bytes a = seq(100, 0), b = seq(7, 9);
    front->sendStream(a.data(), a.size());
    front->sendStream(b.data(), b.size());
    ASSERT_TRUE(waitFor([&] { return link.StreamChunkCount() == 2; }));
    EXPECT_EQ(link.LastStreamChunkLength(), 7);
    {
        std::lock_guard<std::mutex> l(sl);
        Bytes want = a;
        want.insert(want.end(), b.begin(), b.end());
        EXPECT_EQ(streamed, want);
    }
    EXPECT_TRUE(link.StopStream());
    EXPECT_FALSE(link.IsPlaying());
    EXPECT_TRUE(waitFor([&] { return !front->anyStreaming(); }));
}
