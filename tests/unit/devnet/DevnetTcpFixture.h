#pragma once

// Shared pieces of the real-TCP tests: the virtual camera's network front with
// recording handlers, an SDK-side recorder for the callbacks, a scripted raw camera
// for misbehaving peers, and bounded waits.

#include "DevnetClient.h"
#include "DevnetSocket.h"
#include "DevnetWire.h"
#include "NetFront.h"
#include "Pace.h"
#include "TestSupport.h"
#include "devnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace dvtest {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

using irtest::waitFor;

// The camera: NetFront on an ephemeral port, recording what its handlers see.
struct CameraSide {
    irsim::NetFront front;
    std::mutex mutex;
    std::vector<Bytes> received;                 // serial chunks from the SDK
    std::vector<irsim::PeerPtr> receivedFrom;    // the peer of each chunk
    std::vector<irsim::PeerPtr> closedPeers;
    std::vector<std::pair<int, bool>> streamEvents;

    static irsim::NetFront::Options options()
    {
        irsim::NetFront::Options o;
        o.host = "127.0.0.1";
        o.port = 0;
        o.user = "admin";
        o.password = "s3cret";
        o.serialNumber = "IRSIM-4711";
        o.model = "irbench-sim";
        return o;
    }

    CameraSide() : front(options())
    {
        front.setSerialHandler([this](const irsim::PeerPtr& p, const uint8_t* d, size_t n) {
            std::lock_guard<std::mutex> lk(mutex);
            received.emplace_back(d, d + n);
            receivedFrom.push_back(p);
        });
        front.setPeerClosedHandler([this](const irsim::PeerPtr& p) {
            std::lock_guard<std::mutex> lk(mutex);
            closedPeers.push_back(p);
        });
        front.setStreamHandler([this](int ch, bool on) {
            std::lock_guard<std::mutex> lk(mutex);
            streamEvents.emplace_back(ch, on);
        });
        std::string err;
        EXPECT_TRUE(front.start(&err)) << err;
    }
    // The front reports the stops of its clients while it shuts down: stop it while
    // the recorders still exist.
    ~CameraSide() { front.stop(); }

    template <class T>
    T locked(T CameraSide::*member)
    {
        std::lock_guard<std::mutex> lk(mutex);
        return this->*member;
    }
    size_t receivedCount() { return locked(&CameraSide::received).size(); }
    irsim::PeerPtr lastPeer()
    {
        auto from = locked(&CameraSide::receivedFrom);
        return from.empty() ? nullptr : from.back();
    }
    size_t streamEventCount(int ch, bool on)
    {
        size_t n = 0;
        for (auto& e : locked(&CameraSide::streamEvents))
            n += (e.first == ch && e.second == on);
        return n;
    }
};

// The SDK side: what the callbacks delivered, and on which thread.
struct ClientSide {
    std::mutex mutex;
    std::vector<Bytes> serial;
    std::vector<int32_t> serialHandles;
    std::vector<std::thread::id> serialThreads;
    std::vector<Bytes> stream;
    std::vector<int32_t> streamHandles;
    std::vector<uint32_t> streamTypes;

    static void onSerial(int32_t h, const char* d, uint32_t n, void* user)
    {
        auto* c = static_cast<ClientSide*>(user);
        std::lock_guard<std::mutex> lk(c->mutex);
        c->serial.emplace_back(d, d + n);
        c->serialHandles.push_back(h);
        c->serialThreads.push_back(std::this_thread::get_id());
    }
    static void onStream(int32_t h, uint32_t type, const uint8_t* d, uint32_t n, void* user)
    {
        auto* c = static_cast<ClientSide*>(user);
        std::lock_guard<std::mutex> lk(c->mutex);
        c->stream.emplace_back(d, d + n);
        c->streamHandles.push_back(h);
        c->streamTypes.push_back(type);
    }
    size_t serialCount()
    {
        std::lock_guard<std::mutex> lk(mutex);
        return serial.size();
    }
    size_t streamCount()
    {
        std::lock_guard<std::mutex> lk(mutex);
        return stream.size();
    }
};

inline NET_DEV_PREVIEWINFO previewFor(int32_t channel)
{
    NET_DEV_PREVIEWINFO p;
    std::memset(&p, 0, sizeof(p));
    p.lChannel = channel;
    p.bBlocked = 1;
    p.byProtoType = 1;
    return p;
}

class DevnetTcp : public ::testing::Test {
protected:
    void SetUp() override
    {
        NET_DEV_Init();
        NET_DEV_SetConnectTime(1000, 1);
        NET_DEV_SetReconnect(1000, 0);
        cam = std::make_unique<CameraSide>();
    }
    void TearDown() override
    {
        for (int32_t h : m_logins)
            NET_DEV_Logout(h);
        cam.reset();
        devnet::setClientTiming(devnet::ClientTiming());
    }
    int32_t login(const char* password = "s3cret", NET_DEV_DEVICEINFO* info = nullptr)
    {
        NET_DEV_DEVICEINFO local;
        const int32_t h = NET_DEV_Login("127.0.0.1", cam->front.port(), "admin", password, info ? info : &local);
        if (h >= 0)
            m_logins.push_back(h);
        return h;
    }
    int32_t startSerial(int32_t login)
    {
        return NET_DEV_SerialStart(login, 1, &ClientSide::onSerial, &client);
    }
    int32_t startStream(int32_t login, int32_t channel)
    {
        const NET_DEV_PREVIEWINFO p = previewFor(channel);
        return NET_DEV_RealPlay_V40(login, &p, &ClientSide::onStream, &client);
    }
    // Sends a chunk over the serial channel and waits until the camera has it.
    irsim::PeerPtr serialRoundTrip(int32_t serial, const Bytes& b)
    {
        const size_t before = cam->receivedCount();
        EXPECT_EQ(NET_DEV_SerialSend(serial, 1, reinterpret_cast<const char*>(b.data()), uint32_t(b.size())), 1);
        EXPECT_TRUE(waitFor([&] { return cam->receivedCount() > before; }));
        return cam->lastPeer();
    }

    std::unique_ptr<CameraSide> cam;
    ClientSide client;

private:
    std::vector<int32_t> m_logins;
};

// A scripted camera for peers that misbehave: every accepted connection runs
// `behaviour(fd, wakeFd)` on its own thread until it returns or the camera goes away.
class RawCamera {
public:
    using Behaviour = std::function<void(int fd, int wakeFd)>;
    explicit RawCamera(Behaviour b) : m_behaviour(std::move(b))
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        ::listen(m_fd, 8);
        socklen_t len = sizeof(a);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~RawCamera()
    {
        m_wake.signal();
        m_thread.join();
        for (auto& t : m_conns)
            t.join();
        devnet::closeFd(m_fd);
    }
    uint16_t port() const { return m_port; }
    int connections() const { return m_count.load(); }

private:
    void acceptLoop()
    {
        for (;;) {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN))
                return;
            const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                continue;
            ++m_count;
            m_conns.emplace_back([this, fd] {
                m_behaviour(fd, m_wake.fd());
                devnet::closeFd(fd);
            });
        }
    }

    Behaviour m_behaviour;
    devnet::WakePipe m_wake;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<int> m_count{0};
    std::thread m_thread;
    std::vector<std::thread> m_conns;
};

// Reads and decodes until the camera is shut or the client leaves; `onMessage` may
// answer through the fd.
inline void readMessages(int fd, int wakeFd, const std::function<void(const devnet::Message&)>& onMessage)
{
    devnet::WireDecoder dec;
    uint8_t buf[4096];
    for (;;) {
        size_t got = 0;
        const auto r = devnet::readSome(fd, wakeFd, 1000, buf, sizeof(buf), &got);
        if (r == devnet::ReadResult::Closed || r == devnet::ReadResult::Woken)
            return;
        dec.feed(buf, got);
        devnet::Message m;
        while (dec.next(&m))
            onMessage(m);
        if (dec.failed())
            return;
    }
}

} // namespace dvtest
