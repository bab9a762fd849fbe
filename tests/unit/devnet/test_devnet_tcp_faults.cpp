// The SDK when the connection or the camera misbehaves: dropped connections,
// reconnection, silent and garbage-speaking cameras, a camera that shuts down.
#include "DevnetTcpFixture.h"

using namespace dvtest;

TEST_F(DevnetTcp, SerialSendFailsOnceTheCameraDroppedTheConnection)
{
    const int32_t h = login();
    const int32_t serial = startSerial(h);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {1});
    ASSERT_TRUE(peer);
    peer->dropConnection();
    ASSERT_TRUE(waitFor([&] { return !peer->alive() && cam->locked(&CameraSide::closedPeers).size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return NET_DEV_SerialSend(serial, 1, "x", 1) == 0; }));
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_SEND));
    EXPECT_LT(startStream(h, 1), 0) << "nothing can start on a lost connection";
    // the handles stay valid until logout
    EXPECT_EQ(NET_DEV_SerialStop(serial), 1);
    EXPECT_EQ(NET_DEV_Logout(h), 1);
}

TEST_F(DevnetTcp, ReconnectionRestoresSerialAndStreamUnderTheSameHandles)
{
    NET_DEV_SetReconnect(20, 1);
    const int32_t h = login();
    const int32_t serial = startSerial(h);
    const int32_t play = startStream(h, 7);
    ASSERT_GE(play, 0);
    const irsim::PeerPtr first = serialRoundTrip(serial, {1});

    cam->front.dropAll();
    ASSERT_TRUE(waitFor([&] { return cam->streamEventCount(7, true) == 2; })) << "stream not restarted";
    ASSERT_TRUE(waitFor([&] { return NET_DEV_SerialSend(serial, 1, "\x02", 1) == 1; }));
    ASSERT_TRUE(waitFor([&] { return cam->receivedCount() == 2; }));
    const irsim::PeerPtr second = cam->lastPeer();
    EXPECT_NE(second, first);
    EXPECT_FALSE(first->alive());
    EXPECT_EQ(cam->locked(&CameraSide::received).back(), Bytes{2});
    EXPECT_EQ(cam->streamEventCount(7, false), 1u);

    const Bytes answer = {0xF0, 0x55};
    second->sendChunk(answer.data(), answer.size());
    cam->front.sendStream(answer.data(), answer.size());
    ASSERT_TRUE(waitFor([&] { return client.serialCount() == 1 && client.streamCount() == 1; }));
    std::lock_guard<std::mutex> lk(client.mutex);
    EXPECT_EQ(client.serial[0], answer);
    EXPECT_EQ(client.serialHandles[0], serial);
    EXPECT_EQ(client.streamHandles[0], play);
    EXPECT_EQ(cam->front.clientCount(), 1);
}

TEST_F(DevnetTcp, LogoutEndsReconnectionPromptly)
{
    NET_DEV_SetReconnect(20, 1);
    const int32_t h = login();
    const int32_t serial = startSerial(h);
    ASSERT_GE(serial, 0);
    cam->front.stop();
    cam->front.stop(); // twice is harmless
    ASSERT_TRUE(waitFor([&] { return NET_DEV_SerialSend(serial, 1, "x", 1) == 0; }));
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_SEND)) << "down, but the handle is still good";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(NET_DEV_Logout(h), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(DevnetTcp, CameraShutdownReportsStopsAndClosesClients)
{
    const int32_t h = login();
    const int32_t serial = startSerial(h);
    ASSERT_GE(startStream(h, 2), 0);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {1});
    cam->front.stop();
    EXPECT_EQ(cam->streamEventCount(2, false), 1u);
    EXPECT_FALSE(peer->alive());
    EXPECT_EQ(cam->front.clientCount(), 0);
    const uint8_t b = 1;
    peer->sendChunk(&b, 1); // a peer outliving its camera is inert
    peer->dropConnection();
    ASSERT_TRUE(waitFor([&] { return NET_DEV_SerialSend(serial, 1, "x", 1) == 0; }));
}

TEST_F(DevnetTcp, SilentCameraTimesOutTheLogin)
{
    devnet::ClientTiming t;
    t.answerTimeoutMs = 200;
    devnet::setClientTiming(t);
    RawCamera raw([](int fd, int wake) { readMessages(fd, wake, [](const devnet::Message&) {}); });
    NET_DEV_DEVICEINFO info;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_LT(NET_DEV_Login("127.0.0.1", raw.port(), "admin", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
}

TEST_F(DevnetTcp, ForeignProtocolFailsTheLogin)
{
    RawCamera raw([](int fd, int wake) {
        const char banner[] = "SSH-2.0-OpenSSH_9.2\r\n";
        devnet::sendAll(fd, reinterpret_cast<const uint8_t*>(banner), sizeof(banner) - 1, 1000, wake);
        readMessages(fd, wake, [](const devnet::Message&) {});
    });
    NET_DEV_DEVICEINFO info;
    EXPECT_LT(NET_DEV_Login("127.0.0.1", raw.port(), "admin", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PROTOCOL));
}

TEST_F(DevnetTcp, CameraThatGoesSilentIsPingedThenReconnected)
{
    devnet::ClientTiming t;
    t.keepaliveIdleMs = 30;
    t.deadAfterMs = 150;
    devnet::setClientTiming(t);
    NET_DEV_SetReconnect(20, 1);
    std::atomic<int> pings{0};
    // Answers the login, then ignores everything (a camera whose software hung).
    RawCamera raw([&](int fd, int wake) {
        readMessages(fd, wake, [&](const devnet::Message& m) {
            devnet::LoginReq req;
            if (devnet::parseLogin(m, &req)) {
                const auto ok = devnet::encodeLoginOk(req.reqId, "SN", "M", 1, 1);
                devnet::sendAll(fd, ok.data(), ok.size(), 1000, wake);
            } else if (m.type == devnet::MsgPing) {
                ++pings;
            }
        });
    });
    NET_DEV_DEVICEINFO info;
    const int32_t h = NET_DEV_Login("127.0.0.1", raw.port(), "admin", "s3cret", &info);
    ASSERT_GE(h, 0);
    EXPECT_TRUE(waitFor([&] { return raw.connections() >= 2; }));
    EXPECT_GT(pings.load(), 0);
    EXPECT_EQ(NET_DEV_Logout(h), 1);
}

TEST_F(DevnetTcp, PingsGoOutWhileOnlyTheCameraTalks)
{
    devnet::ClientTiming t;
    t.keepaliveIdleMs = 20;
    devnet::setClientTiming(t);
    std::atomic<int> pings{0};
    // Streams without pause after the login; the SDK itself has nothing to say.
    RawCamera raw([&](int fd, int wake) {
        devnet::WireDecoder dec;
        const auto data = devnet::encodeStreamData(99, reinterpret_cast<const uint8_t*>("frame"), 5);
        uint8_t buf[4096];
        bool logged = false;
        for (;;) {
            size_t got = 0;
            const auto r = devnet::readSome(fd, wake, 2, buf, sizeof(buf), &got);
            if (r == devnet::ReadResult::Closed || r == devnet::ReadResult::Woken)
                return;
            dec.feed(buf, got);
            devnet::Message m;
            devnet::LoginReq req;
            while (dec.next(&m)) {
                if (devnet::parseLogin(m, &req)) {
                    const auto ok = devnet::encodeLoginOk(req.reqId, "SN", "M", 1, 1);
                    logged = devnet::sendAll(fd, ok.data(), ok.size(), 1000, wake);
                } else if (m.type == devnet::MsgPing) {
                    ++pings;
                }
            }
            if (logged && !devnet::sendAll(fd, data.data(), data.size(), 1000, wake))
                return;
        }
    });
    NET_DEV_DEVICEINFO info;
    const int32_t h = NET_DEV_Login("127.0.0.1", raw.port(), "admin", "s3cret", &info);
    ASSERT_GE(h, 0);
    EXPECT_TRUE(waitFor([&] { return pings.load() >= 2; }));
    EXPECT_EQ(NET_DEV_Logout(h), 1);
}
