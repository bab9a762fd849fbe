// Both protocol sessions without sockets: what the camera side accepts and answers,
// and how the SDK side hands data to callbacks.
#include "DevnetClient.h"
#include "DevnetClientSession.h"
#include "DevnetServerSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <future>
#include <thread>

using namespace devnet;

namespace {

struct EventLog : DevnetServerSession::Events {
    std::vector<std::string> events;
    std::vector<std::vector<uint8_t>> serial;
    uint32_t serialTag = 0;
    void serialStarted(uint32_t tag, uint32_t port) override
    {
        serialTag = tag;
        events.push_back("serial+" + std::to_string(port));
    }
    void serialStopped(uint32_t) override { events.push_back("serial-"); }
    void serialData(uint32_t, uint32_t, const uint8_t* d, size_t n) override { serial.emplace_back(d, d + n); }
    void streamStarted(int32_t ch) override { events.push_back("stream+" + std::to_string(ch)); }
    void streamStopped(int32_t ch) override { events.push_back("stream-" + std::to_string(ch)); }
};

// A camera-side session whose replies are decoded for inspection.
struct Camera {
    EventLog log;
    std::vector<Message> sent;
    DevnetServerSession session;
    Camera() : session(config(), &log, [this](const std::vector<uint8_t>& m) { return collect(m); }) {}
    static DevnetServerSession::Config config()
    {
        DevnetServerSession::Config c;
        c.user = "admin";
        c.password = "secret";
        c.serialNumber = "SN9";
        c.model = "M";
        return c;
    }
    bool collect(const std::vector<uint8_t>& m)
    {
        WireDecoder d;
        d.feed(m.data(), m.size());
        Message msg;
        while (d.next(&msg))
            sent.push_back(msg);
        return true;
    }
    bool feed(const std::vector<uint8_t>& m) { return session.feed(m.data(), m.size()); }
    uint32_t lastErrorCode() const
    {
        ErrorMsg e;
        return !sent.empty() && parseError(sent.back(), &e) ? e.code : 0;
    }
};

std::vector<uint8_t> preview(int32_t channel)
{
    std::vector<uint8_t> p(kPreviewSize, 0);
    std::memcpy(p.data(), &channel, 4);
    return p;
}

} // namespace

TEST(DevnetServerSession, RequiresLoginWithTheRightCredentials)
{
    Camera early;
    EXPECT_FALSE(early.feed(encodeSerialStart(1, 1, 1)));
    EXPECT_EQ(early.lastErrorCode(), uint32_t(WireErrNotLoggedIn));
    EXPECT_TRUE(early.log.events.empty());

    Camera wrong;
    EXPECT_FALSE(wrong.feed(encodeLogin(4, "admin", "guess")));
    ErrorMsg e;
    ASSERT_TRUE(parseError(wrong.sent.back(), &e));
    EXPECT_EQ(e.reqId, 4u);
    EXPECT_EQ(e.code, uint32_t(WireErrAuth));
    EXPECT_EQ(errorForWire(e.code), uint32_t(NET_DEV_ERR_PASSWORD));

    Camera good;
    ASSERT_TRUE(good.feed(encodeLogin(4, "admin", "secret")));
    LoginOk ok;
    ASSERT_TRUE(parseLoginOk(good.sent.back(), &ok));
    EXPECT_EQ(ok.serialNumber, "SN9");
    EXPECT_TRUE(good.session.loggedIn());
    EXPECT_FALSE(good.feed(encodeLogin(5, "admin", "secret"))) << "second login is a protocol error";
}

TEST(DevnetServerSession, SerialChannelFollowsItsTag)
{
    Camera cam;
    ASSERT_TRUE(cam.feed(encodeLogin(1, "admin", "secret")));
    EXPECT_TRUE(cam.feed(encodeSerialStart(2, 10, 2)));
    EXPECT_EQ(cam.lastErrorCode(), uint32_t(WireErrRefused)) << "only port 1 exists";
    EXPECT_FALSE(cam.session.serialRunning());

    ASSERT_TRUE(cam.feed(encodeSerialStart(3, 11, 1)));
    EXPECT_EQ(cam.sent.back().type, MsgSerialStartOk);
    const uint8_t a[] = {1, 2, 3};
    ASSERT_TRUE(cam.feed(encodeSerialData(11, 1, a, 3)));
    ASSERT_TRUE(cam.feed(encodeSerialData(10, 1, a, 2))); // stale tag: dropped
    ASSERT_EQ(cam.log.serial.size(), 1u);
    EXPECT_EQ(cam.log.serial[0], std::vector<uint8_t>(a, a + 3));

    EXPECT_TRUE(cam.session.sendSerial(11, a, 3));
    EXPECT_FALSE(cam.session.sendSerial(10, a, 3)) << "a sender of an older start must not reach the client";
    ASSERT_TRUE(cam.feed(encodeSerialStop(11)));
    EXPECT_FALSE(cam.session.sendSerial(11, a, 3));
    EXPECT_EQ(cam.log.events, (std::vector<std::string>{"serial+1", "serial-"}));
}

TEST(DevnetServerSession, StreamEventsAndCloseReportEachStopOnce)
{
    Camera cam;
    ASSERT_TRUE(cam.feed(encodeLogin(1, "admin", "secret")));
    auto p = preview(5);
    ASSERT_TRUE(cam.feed(encodeStreamStart(2, 20, p.data())));
    EXPECT_TRUE(cam.session.streaming());
    p = preview(6);
    ASSERT_TRUE(cam.feed(encodeStreamStart(3, 21, p.data()))); // replaces the running one
    ASSERT_TRUE(cam.feed(encodeStreamStop(20)));              // stale stop: ignored
    EXPECT_TRUE(cam.session.streaming());
    ASSERT_TRUE(cam.feed(encodeSerialStart(4, 30, 1)));
    cam.session.closed();
    cam.session.closed();
    EXPECT_EQ(cam.log.events,
              (std::vector<std::string>{"stream+5", "stream-5", "stream+6", "serial+1", "stream-6", "serial-"}));
    const uint8_t b = 1;
    EXPECT_FALSE(cam.session.sendStream(&b, 1));
    EXPECT_FALSE(cam.feed(encodePing(MsgPing, 1)));
}

TEST(DevnetServerSession, ProtocolErrorsAreAnsweredAndClose)
{
    Camera cam;
    ASSERT_TRUE(cam.feed(encodeLogin(1, "admin", "secret")));
    ASSERT_TRUE(cam.feed(encodePing(MsgPing, 77)));
    uint32_t seq = 0;
    ASSERT_EQ(cam.sent.back().type, MsgPong);
    ASSERT_TRUE(parseU32(cam.sent.back(), &seq));
    EXPECT_EQ(seq, 77u);

    EXPECT_TRUE(cam.feed(encodeMessage(0x40, nullptr, 0))) << "unknown types are skipped";
    EXPECT_FALSE(cam.feed(encodeLoginOk(1, "x", "y", 1, 1))) << "answers are not accepted from a client";
    EXPECT_EQ(cam.lastErrorCode(), uint32_t(WireErrProtocol));

    Camera junk;
    const std::vector<uint8_t> http = {'G', 'E', 'T', ' ', '/'};
    EXPECT_FALSE(junk.feed(http));
    EXPECT_EQ(junk.lastErrorCode(), uint32_t(WireErrProtocol));
}

namespace {

struct Delivery {
    std::vector<std::vector<uint8_t>> serial;
    std::vector<uint32_t> streamTypes;
    DevnetClientSession* session = nullptr;
    bool stopInCallback = false;
};

void onSerial(int32_t handle, const char* data, uint32_t size, void* user)
{
    auto* d = static_cast<Delivery*>(user);
    d->serial.emplace_back(data, data + size);
    if (d->stopInCallback)
        d->session->clearSerial(handle, nullptr);
}

void onStream(int32_t, uint32_t type, const uint8_t*, uint32_t, void* user)
{
    static_cast<Delivery*>(user)->streamTypes.push_back(type);
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

TEST(DevnetClientSession, DeliversEachDataMessageOfTheCurrentTagOnce)
{
    DevnetClientSession s;
    Delivery d;
    const uint32_t tag = s.setSerial(1, 1, onSerial, &d);
    ASSERT_NE(tag, 0u);
    EXPECT_EQ(s.setSerial(2, 1, onSerial, &d), 0u) << "one serial channel per login";
    const uint32_t streamTag = s.setStream(3, preview(1).data(), onStream, &d);

    const uint8_t a[] = {0xF0, 0x00, 0xFF};
    const auto bytes = cat({encodeSerialData(tag, 1, a, 3), encodeSerialData(tag + 100, 1, a, 1),
                            encodeSerialData(tag, 1, a, 0), encodeSerialData(tag, 1, a + 1, 2),
                            encodeStreamData(streamTag, a, 3), encodeMessage(0x50, a, 3)});
    for (uint8_t b : bytes)
        ASSERT_TRUE(s.feed(&b, 1));
    ASSERT_EQ(d.serial.size(), 2u);
    EXPECT_EQ(d.serial[0], std::vector<uint8_t>(a, a + 3));
    EXPECT_EQ(d.serial[1], std::vector<uint8_t>(a + 1, a + 3));
    EXPECT_EQ(d.streamTypes, std::vector<uint32_t>{NET_DEV_STREAMDATA});

    uint32_t newTag = 0, port = 0;
    ASSERT_TRUE(s.renewSerialTag(&newTag, &port));
    const auto stale = encodeSerialData(tag, 1, a, 3);
    ASSERT_TRUE(s.feed(stale.data(), stale.size()));
    EXPECT_EQ(d.serial.size(), 2u) << "data of the previous start is stale after a restart";
}

TEST(DevnetClientSession, StopFromInsideTheCallbackEndsDeliveryAtOnce)
{
    DevnetClientSession s;
    Delivery d;
    d.session = &s;
    d.stopInCallback = true;
    const uint32_t tag = s.setSerial(1, 1, onSerial, &d);
    const uint8_t a[] = {1, 2};
    const auto two = cat({encodeSerialData(tag, 1, a, 2), encodeSerialData(tag, 1, a, 1)});
    ASSERT_TRUE(s.feed(two.data(), two.size())); // would deadlock if the stop waited on itself
    EXPECT_EQ(d.serial.size(), 1u);
    EXPECT_FALSE(s.hasSerial());
}

namespace {

struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> left{false};
};

void blockingSerial(int32_t, const char*, uint32_t, void* user)
{
    auto* g = static_cast<Gate*>(user);
    g->entered = true;
    while (!g->release)
        std::this_thread::yield();
    g->left = true;
}

} // namespace

TEST(DevnetClientSession, StopFromAnotherThreadWaitsForTheRunningCallback)
{
    DevnetClientSession s;
    Gate g;
    const uint32_t tag = s.setSerial(1, 1, blockingSerial, &g);
    const auto msg = encodeSerialData(tag, 1, reinterpret_cast<const uint8_t*>("x"), 1);
    std::thread reader([&] { s.feed(msg.data(), msg.size()); });
    while (!g.entered)
        std::this_thread::yield();
    auto stopped = std::async(std::launch::async, [&] {
        s.clearSerial(1, nullptr);
        return g.left.load();
    });
    EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    g.release = true;
    EXPECT_TRUE(stopped.get()) << "the stop returned while the callback was still running";
    reader.join();
}

TEST(DevnetClientSession, AnswersResolveTheirRequestsOnly)
{
    DevnetClientSession s;
    const uint32_t login = s.newRequest(MsgLogin);
    const uint32_t serial = s.newRequest(MsgSerialStart);

    auto bytes = cat({encodeStartOk(MsgSerialStartOk, 999), encodeError(serial, WireErrRefused, "no port"),
                      encodeLoginOk(login, "SN", "M", 1, 1)});
    ASSERT_TRUE(s.feed(bytes.data(), bytes.size())) << "late answers are ignored";
    DevnetClientSession::Answer a;
    ASSERT_TRUE(s.takeAnswer(serial, &a));
    EXPECT_EQ(a.state, DevnetClientSession::AnswerState::Failed);
    EXPECT_EQ(errorForWire(a.wireError), uint32_t(NET_DEV_ERR_REFUSED));
    ASSERT_TRUE(s.takeAnswer(login, &a));
    EXPECT_EQ(a.login.serialNumber, "SN");

    const uint32_t stream = s.newRequest(MsgStreamStart);
    bytes = encodeStartOk(MsgSerialStartOk, stream);
    EXPECT_FALSE(s.feed(bytes.data(), bytes.size())) << "answer of the wrong kind";

    DevnetClientSession t;
    bytes = encodeError(0, WireErrBusy, "too many clients");
    EXPECT_FALSE(t.feed(bytes.data(), bytes.size()));
    DevnetClientSession u;
    bytes = encodeSerialStart(1, 1, 1);
    EXPECT_FALSE(u.feed(bytes.data(), bytes.size())) << "a camera does not send requests";
}

TEST(DevnetClientSession, LostConnectionReleasesWaitingRequests)
{
    DevnetClientSession s;
    const uint32_t req = s.newRequest(MsgSerialStart);
    auto waiting = std::async(std::launch::async, [&] { return s.waitAnswer(req, 10000).state; });
    s.connectionDown();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), DevnetClientSession::AnswerState::Lost);
    EXPECT_EQ(s.waitAnswer(s.newRequest(MsgLogin), 1).state, DevnetClientSession::AnswerState::TimedOut);
}
