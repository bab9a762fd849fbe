// The SDK against the virtual camera's network front over real TCP: login, the
// serial channel both ways, the stream, and the stop guarantees of the callbacks.
#include "DevnetTcpFixture.h"

using namespace dvtest;

TEST_F(DevnetTcp, LoginFillsDeviceInfoAndLogoutInvalidatesItsHandles)
{
    NET_DEV_DEVICEINFO info;
    std::memset(&info, 0x7F, sizeof(info));
    const int32_t h = login("s3cret", &info);
    ASSERT_GE(h, 0) << NET_DEV_GetLastError();
    EXPECT_STREQ(info.sSerialNumber, "IRSIM-4711");
    EXPECT_STREQ(info.sModel, "irbench-sim");
    EXPECT_EQ(info.nSerialPortCount, 1);
    EXPECT_EQ(info.byReserved[0], 0);
    EXPECT_TRUE(waitFor([&] { return cam->front.clientCount() == 1; }));

    const int32_t serial = startSerial(h);
    const int32_t play = startStream(h, 1);
    ASSERT_GE(serial, 0);
    ASSERT_GE(play, 0);
    EXPECT_EQ(NET_DEV_Logout(h), 1);
    EXPECT_TRUE(waitFor([&] { return cam->front.clientCount() == 0 && !cam->front.anyStreaming(); }));

    EXPECT_EQ(NET_DEV_SerialSend(serial, 1, "x", 1), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_HANDLE));
    EXPECT_LT(NET_DEV_SerialStart(h, 1, &ClientSide::onSerial, &client), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_HANDLE));
    const NET_DEV_PREVIEWINFO p = previewFor(1);
    EXPECT_LT(NET_DEV_RealPlay_V40(h, &p, &ClientSide::onStream, &client), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_HANDLE));
    EXPECT_EQ(NET_DEV_SerialStop(serial), 0);
    EXPECT_EQ(NET_DEV_StopRealPlay(play), 0);
    EXPECT_EQ(NET_DEV_Logout(h), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_HANDLE));
    // a handle of one kind is not accepted as another
    const int32_t h2 = login();
    ASSERT_GE(h2, 0);
    EXPECT_EQ(NET_DEV_SerialSend(h2, 1, "x", 1), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_HANDLE));
}

TEST_F(DevnetTcp, WrongCredentialsAndBadArgumentsFail)
{
    EXPECT_LT(login("wrong"), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PASSWORD));
    NET_DEV_DEVICEINFO info;
    EXPECT_LT(NET_DEV_Login("127.0.0.1", cam->front.port(), "root", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PASSWORD));
    EXPECT_TRUE(waitFor([&] { return cam->front.clientCount() == 0; }));

    EXPECT_LT(NET_DEV_Login("127.0.0.300", cam->front.port(), "admin", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PARAMETER));
    EXPECT_LT(NET_DEV_Login(nullptr, cam->front.port(), "admin", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PARAMETER));

    // the error code is kept per thread
    std::thread([] { EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_NOERROR)); }).join();
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PARAMETER));
}

TEST_F(DevnetTcp, NothingListeningFailsWithinTheConnectTime)
{
    const uint16_t port = cam->front.port();
    cam.reset(); // the port is free again
    NET_DEV_SetConnectTime(1000, 1);
    NET_DEV_DEVICEINFO info;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_LT(NET_DEV_Login("127.0.0.1", port, "admin", "s3cret", &info), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_CONNECT));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
}

TEST_F(DevnetTcp, SerialChunksTravelUnchangedBothWays)
{
    const int32_t h = login();
    ASSERT_GE(h, 0);
    const int32_t serial = startSerial(h);
    ASSERT_GE(serial, 0) << NET_DEV_GetLastError();

    const std::vector<Bytes> out = {{0xF0, 0x00, 0x0B, 0xFF}, Bytes(1, 0x00), Bytes(1000, 0xA5)};
    for (const Bytes& b : out)
        serialRoundTrip(serial, b);
    EXPECT_EQ(cam->locked(&CameraSide::received), out);
    const irsim::PeerPtr peer = cam->lastPeer();
    ASSERT_TRUE(peer && peer->alive());

    // The camera answers from a thread of its own (as its delay timer does).
    const std::vector<Bytes> in = {{0xF0, 0x01}, Bytes(300, 0x5A), {0x00, 0x00, 0x00, 0x00, 0xFF}};
    std::thread([&] {
        for (const Bytes& b : in)
            peer->sendChunk(b.data(), b.size());
    }).join();
    ASSERT_TRUE(waitFor([&] { return client.serialCount() == in.size(); }));
    std::lock_guard<std::mutex> lk(client.mutex);
    EXPECT_EQ(client.serial, in) << "each chunk arrives as one callback with exactly its bytes";
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(client.serialHandles[i], serial);
        EXPECT_NE(client.serialThreads[i], std::this_thread::get_id());
    }
}

TEST_F(DevnetTcp, SerialSendIsThreadSafe)
{
    const int32_t h = login();
    const int32_t serial = startSerial(h);
    ASSERT_GE(serial, 0);
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                Bytes b(size_t(100 + 37 * t + i), uint8_t(t));
                b[1] = uint8_t(i);
                if (NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(b.data()), uint32_t(b.size())) != 1)
                    ++failures;
            }
        });
    }
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(waitFor([&] { return cam->receivedCount() == size_t(kThreads * kEach); }));
    std::vector<int> next(kThreads, 0);
    for (const Bytes& b : cam->locked(&CameraSide::received)) {
        const int t = b[0];
        ASSERT_LT(t, kThreads);
        const int i = next[size_t(t)]++;
        ASSERT_EQ(b.size(), size_t(100 + 37 * t + i)) << "chunks were cut or interleaved";
        EXPECT_EQ(b[1], uint8_t(i));
        EXPECT_EQ(b.back(), uint8_t(t));
    }
}

TEST_F(DevnetTcp, SerialStartRefusals)
{
    const int32_t h = login();
    EXPECT_LT(NET_DEV_SerialStart(h, 2, &ClientSide::onSerial, &client), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_REFUSED));
    EXPECT_LT(NET_DEV_SerialStart(h, 1, nullptr, &client), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PARAMETER));
    const int32_t serial = startSerial(h);
    ASSERT_GE(serial, 0);
    EXPECT_LT(startSerial(h), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_RESOURCE));
    EXPECT_EQ(NET_DEV_SerialSend(serial, 1, "x", 0), 0);
    EXPECT_EQ(NET_DEV_GetLastError(), uint32_t(NET_DEV_ERR_PARAMETER));
    // after a stop the channel can be started again and works
    EXPECT_EQ(NET_DEV_SerialStop(serial), 1);
    const int32_t again = startSerial(h);
    ASSERT_GE(again, 0);
    EXPECT_NE(again, serial);
    serialRoundTrip(again, {1, 2, 3});
}

TEST_F(DevnetTcp, StreamCarriesTheRequestedChannelAndItsData)
{
    const int32_t h = login();
    const int32_t play = startStream(h, 3);
    ASSERT_GE(play, 0) << NET_DEV_GetLastError();
    EXPECT_EQ(cam->streamEventCount(3, true), 1u) << "the camera knows the channel when the start returns";
    EXPECT_TRUE(cam->front.anyStreaming());

    const Bytes chunk = {'M', 'R', 'F', '_', 0, 1, 2, 3};
    cam->front.sendStream(chunk.data(), chunk.size());
    cam->front.sendStream(chunk.data(), 4);
    ASSERT_TRUE(waitFor([&] { return client.streamCount() == 2; }));
    {
        std::lock_guard<std::mutex> lk(client.mutex);
        EXPECT_EQ(client.stream[0], chunk);
        EXPECT_EQ(client.stream[1], Bytes(chunk.begin(), chunk.begin() + 4));
        EXPECT_EQ(client.streamTypes, (std::vector<uint32_t>{NET_DEV_STREAMDATA, NET_DEV_STREAMDATA}));
        EXPECT_EQ(client.streamHandles[0], play);
    }
    EXPECT_LT(startStream(h, 4), 0) << "one stream per login";

    EXPECT_EQ(NET_DEV_StopRealPlay(play), 1);
    EXPECT_TRUE(waitFor([&] { return cam->streamEventCount(3, false) == 1 && !cam->front.anyStreaming(); }));
}

namespace {

// A callback that notes being entered after its stop returned, and whether it was
// still running at that moment. A chunk starting with kMarker is only counted.
constexpr uint8_t kMarker = 0xEE;

struct Watch {
    std::atomic<bool> stopped{false};
    std::atomic<bool> inside{false};
    std::atomic<bool> violated{false};
    std::atomic<int> calls{0};
    std::atomic<int> markers{0};
    void enter(uint8_t first)
    {
        if (first == kMarker) {
            ++markers;
            return;
        }
        if (stopped)
            violated = true;
        inside = true;
        ++calls;
        for (volatile int i = 0; i < 2000; ++i) {
        }
        inside = false;
    }
};

void watchSerial(int32_t, const char* d, uint32_t, void* u)
{
    static_cast<Watch*>(u)->enter(uint8_t(d[0]));
}

void watchStream(int32_t, uint32_t, const uint8_t* d, uint32_t, void* u)
{
    static_cast<Watch*>(u)->enter(d[0]);
}

// Runs `send` on a thread of its own until stop() (a camera producing data).
class Pump {
public:
    explicit Pump(std::function<void()> send)
        : m_thread([this, send] {
              while (m_on)
                  send();
          })
    {
    }
    ~Pump() { stop(); }
    void stop()
    {
        m_on = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_on{true};
    std::thread m_thread;
};

const Bytes kChunk(64, 0x11);
const Bytes kMarkerChunk(8, kMarker);

} // namespace

TEST_F(DevnetTcp, NoSerialCallbackAfterSerialStopReturns)
{
    const int32_t h = login();
    Watch w, barrier;
    const int32_t serial = NET_DEV_SerialStart(h, 1, &watchSerial, &w);
    const NET_DEV_PREVIEWINFO p = previewFor(1);
    ASSERT_GE(serial, 0);
    ASSERT_GE(NET_DEV_RealPlay_V40(h, &p, &watchStream, &barrier), 0);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {0});

    Pump pump([&] { peer->sendChunk(kChunk.data(), kChunk.size()); });
    ASSERT_TRUE(waitFor([&] { return w.calls > 50; }));
    EXPECT_EQ(NET_DEV_SerialStop(serial), 1);
    EXPECT_FALSE(w.inside);
    w.stopped = true;
    pump.stop();
    // Stream data sent now arrives after every serial chunk sent before it.
    cam->front.sendStream(kMarkerChunk.data(), kMarkerChunk.size());
    ASSERT_TRUE(waitFor([&] { return barrier.markers == 1; }));
    EXPECT_FALSE(w.violated);
    // The camera side hears of the stop on its own reader thread.
    EXPECT_TRUE(waitFor([&] { return !peer->alive(); }));
}

TEST_F(DevnetTcp, NoStreamCallbackAfterStopRealPlayReturns)
{
    const int32_t h = login();
    Watch w, barrier;
    const NET_DEV_PREVIEWINFO p = previewFor(1);
    const int32_t play = NET_DEV_RealPlay_V40(h, &p, &watchStream, &w);
    const int32_t serial = NET_DEV_SerialStart(h, 1, &watchSerial, &barrier);
    ASSERT_GE(play, 0);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {0});

    Pump pump([&] { cam->front.sendStream(kChunk.data(), kChunk.size()); });
    ASSERT_TRUE(waitFor([&] { return w.calls > 50; }));
    EXPECT_EQ(NET_DEV_StopRealPlay(play), 1);
    EXPECT_FALSE(w.inside);
    w.stopped = true;
    pump.stop();
    peer->sendChunk(kMarkerChunk.data(), kMarkerChunk.size());
    ASSERT_TRUE(waitFor([&] { return barrier.markers == 1; }));
    EXPECT_FALSE(w.violated);
    EXPECT_TRUE(waitFor([&] { return !cam->front.anyStreaming(); }));
}

TEST_F(DevnetTcp, NoCallbackAfterLogoutReturns)
{
    const int32_t h = login();
    Watch w;
    const int32_t serial = NET_DEV_SerialStart(h, 1, &watchSerial, &w);
    const NET_DEV_PREVIEWINFO p = previewFor(1);
    ASSERT_GE(NET_DEV_RealPlay_V40(h, &p, &watchStream, &w), 0);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {0});

    Pump pump([&] {
        peer->sendChunk(kChunk.data(), kChunk.size());
        cam->front.sendStream(kChunk.data(), kChunk.size());
    });
    ASSERT_TRUE(waitFor([&] { return w.calls > 100; }));
    EXPECT_EQ(NET_DEV_Logout(h), 1);
    EXPECT_FALSE(w.inside);
    w.stopped = true;
    ASSERT_TRUE(waitFor([&] { return !peer->alive() && cam->front.clientCount() == 0; }));
    pump.stop();
    EXPECT_FALSE(w.violated);
}

namespace {

struct SelfStop {
    int32_t login = -1;
    std::atomic<int> serialCalls{0};
    std::atomic<int> streamCalls{0};
    std::atomic<int> serialStopResult{-1};
    std::atomic<int> logoutResult{-1};
};

void stopSelfSerial(int32_t h, const char*, uint32_t, void* u)
{
    auto* s = static_cast<SelfStop*>(u);
    if (++s->serialCalls == 1)
        s->serialStopResult = NET_DEV_SerialStop(h);
}

void logoutFromStream(int32_t, uint32_t, const uint8_t*, uint32_t, void* u)
{
    auto* s = static_cast<SelfStop*>(u);
    if (++s->streamCalls == 1)
        s->logoutResult = NET_DEV_Logout(s->login);
}

} // namespace

TEST_F(DevnetTcp, StopAndLogoutFromInsideTheirCallbacks)
{
    SelfStop s;
    s.login = login();
    const int32_t serial = NET_DEV_SerialStart(s.login, 1, &stopSelfSerial, &s);
    const NET_DEV_PREVIEWINFO p = previewFor(2);
    ASSERT_GE(NET_DEV_RealPlay_V40(s.login, &p, &logoutFromStream, &s), 0);
    const irsim::PeerPtr peer = serialRoundTrip(serial, {0});

    for (int i = 0; i < 3; ++i)
        peer->sendChunk(kChunk.data(), kChunk.size());
    ASSERT_TRUE(waitFor([&] { return s.serialStopResult == 1; }));
    ASSERT_TRUE(waitFor([&] { return !peer->alive(); }));
    // the stream data below comes after all three chunks: the stop held
    for (int i = 0; i < 3; ++i)
        cam->front.sendStream(kChunk.data(), kChunk.size());
    ASSERT_TRUE(waitFor([&] { return s.logoutResult == 1; }));
    EXPECT_EQ(s.serialCalls, 1);
    EXPECT_TRUE(waitFor([&] { return cam->front.clientCount() == 0; }));
    EXPECT_EQ(s.streamCalls, 1);
}
