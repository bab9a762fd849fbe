// The core's serial line as a host sees it over a real pty and over TCP: reply
// faults byte for byte, the line speed and the flash time of data blocks.
#include "SimTestUtil.h"

#include "SimControl.h"
#include "TestSupport.h"
#include "VirtualCamera.h"
#include "devnet.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <bitset>
#include <chrono>
#include <mutex>

using namespace simtest;
using Clock = std::chrono::steady_clock;

namespace {

enum class Front { Pty, Tcp };

struct Piece {
    Clock::time_point at;
    Bytes bytes;
};

Bytes joined(const std::vector<Piece>& pieces)
{
    Bytes all;
    for (const Piece& p : pieces)
        all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    return all;
}

// The host's end of the serial channel: the pty slave opened like a port, or a
// devnet client with its serial channel started. Keeps every piece as it arrived.
class HostEnd {
public:
    HostEnd(Front front, irsim::VirtualCamera& cam) : m_front(front)
    {
        if (front == Front::Pty) {
            m_fd = ::open(cam.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            termios tio;
            if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
                ::cfmakeraw(&tio);
                ::tcsetattr(m_fd, TCSANOW, &tio);
            }
            return;
        }
        NET_DEV_Init();
        NET_DEV_DEVICEINFO info{};
        m_user = NET_DEV_Login("127.0.0.1", cam.port(), "admin", "admin", &info);
        if (m_user >= 0)
            m_serial = NET_DEV_SerialStart(m_user, 1, &HostEnd::onSerial, this);
    }
    ~HostEnd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_serial >= 0)
            NET_DEV_SerialStop(m_serial);
        if (m_user >= 0)
            NET_DEV_Logout(m_user);
    }
    bool ready() const { return m_front == Front::Pty ? m_fd >= 0 : m_serial >= 0; }

    bool send(const Bytes& b)
    {
        if (m_front == Front::Tcp)
            return NET_DEV_SerialSend(m_serial, 1, reinterpret_cast<const char*>(b.data()), uint32_t(b.size())) == 1;
        size_t done = 0;
        const bool ok = irtest::waitFor([&] {
            const ssize_t n = ::write(m_fd, b.data() + done, b.size() - done);
            if (n > 0)
                done += size_t(n);
            return done == b.size();
        });
        return ok;
    }

    // The pieces that brought `want` bytes (or what came within `ms`).
    std::vector<Piece> receive(size_t want, int ms = 5000)
    {
        irtest::waitFor(
            [&] {
                if (m_front == Front::Pty)
                    readPty();
                std::lock_guard<std::mutex> lock(m_mutex);
                return joined(m_pieces).size() >= want;
            },
            ms);
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Piece> out;
        out.swap(m_pieces);
        return out;
    }

private:
    void readPty()
    {
        uint8_t buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pieces.push_back(Piece{Clock::now(), Bytes(buf, buf + n)});
        }
    }
    static void onSerial(int32_t, const char* data, uint32_t len, void* user)
    {
        auto* self = static_cast<HostEnd*>(user);
        const auto* p = reinterpret_cast<const uint8_t*>(data);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_pieces.push_back(Piece{Clock::now(), Bytes(p, p + len)});
    }

    Front m_front;
    int m_fd = -1;
    int32_t m_user = -1;
    int32_t m_serial = -1;
    std::mutex m_mutex;
    std::vector<Piece> m_pieces;
};

irsim::CameraOptions optionsFor(Front front, double timeScale)
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.network = front == Front::Tcp;
    o.serial = front == Front::Pty;
    o.timeScale = timeScale;
    o.stream.frameRate = 1;
    return o;
}

const char* frontName(Front f)
{
    return f == Front::Pty ? "Pty" : "Tcp";
}

// Where the checksum of a whole reply sits (LEN bytes summed from offset 2).
size_t sumAt(const Bytes& r)
{
    return 2 + size_t(r[1]);
}
bool sumFits(const Bytes& r)
{
    uint8_t sum = 0;
    for (size_t i = 2; i < sumAt(r); ++i)
        sum = uint8_t(sum + r[i]);
    return sum == r[sumAt(r)];
}
// Indexes where two replies of the same length differ.
std::vector<size_t> diffAt(const Bytes& a, const Bytes& b)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i])
            out.push_back(i);
    return out;
}

struct FaultCase {
    const char* name;
    const char* rule;
    bool block; // a block request (exit, always acknowledged) instead of a register read
    enum Expect { Change, OneBit, Noise, Split } expect;
    int at;     // Change: the byte that differs (-1 checksum, -2 end); OneBit: payload start;
                // Noise: count; Split: pause
    bool sumOk; // the checksum fits what arrived
};

// Read 0xF031: F0 07 36 FE 01 v v v v CHK FF; exit: F1 02 E6 01 CHK FF.
const FaultCase kFaultCases[] = {
    {"Flip", "flip", false, FaultCase::OneBit, 5, false},
    {"FlipBlock", "flip@block", true, FaultCase::OneBit, 3, false},
    {"BadSum", "badsum", false, FaultCase::Change, -1, false},
    {"BadEnd", "badend@block", true, FaultCase::Change, -2, true},
    {"EchoRegister", "echo", false, FaultCase::Change, 3, true},
    {"EchoBlock", "echo@block:0xE6", true, FaultCase::Change, 2, true},
    {"Noise", "noise=9", false, FaultCase::Noise, 9, true},
    {"Split", "split=150", false, FaultCase::Split, 150, true},
};

class ReplyFaults : public ::testing::TestWithParam<std::tuple<Front, FaultCase>> {};

TEST_P(ReplyFaults, HostReceivesTheSpoiledReply)
{
    const Front front = std::get<0>(GetParam());
    const FaultCase& fc = std::get<1>(GetParam());
    irsim::VirtualCamera cam(optionsFor(front, 1.0));
    std::string error;
    ASSERT_TRUE(cam.start(&error)) << error;
    HostEnd host(front, cam);
    ASSERT_TRUE(host.ready());

    const Bytes req = fc.block ? blockFrame(0xE6) : longRead(0xF031);
    ASSERT_TRUE(host.send(req));
    const Bytes clean = joined(host.receive(fc.block ? 6 : 11));
    ASSERT_EQ(clean.size(), size_t(clean[1]) + 4);
    ASSERT_TRUE(sumFits(clean));

    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse(fc.rule, &rule, &error)) << error;
    cam.faults().add(rule);
    const auto sent = Clock::now();
    ASSERT_TRUE(host.send(req));
    const size_t extra = fc.expect == FaultCase::Noise ? size_t(fc.at) : 0;
    const std::vector<Piece> got = host.receive(clean.size() + extra);
    const Bytes all = joined(got);
    ASSERT_EQ(all.size(), clean.size() + extra);
    const Bytes r(all.begin() + extra, all.end());
    EXPECT_EQ(cam.faults().totalFired(), 1);
    EXPECT_EQ(sumFits(r), fc.sumOk) << "checksum of what arrived";
    const std::vector<size_t> d = diffAt(clean, r);
    switch (fc.expect) {
    case FaultCase::Change: {
        std::vector<size_t> want{fc.at == -1 ? sumAt(r) : fc.at == -2 ? r.size() - 1 : size_t(fc.at)};
        if (fc.sumOk && fc.at >= 0)
            want.push_back(sumAt(r)); // recomputed for the changed byte
        EXPECT_EQ(d, want);
        if (fc.at == -1)
            EXPECT_EQ(r[sumAt(r)], uint8_t(clean[sumAt(clean)] + 1));
        break;
    }
    case FaultCase::OneBit:
        ASSERT_EQ(d.size(), 1u);
        EXPECT_GE(d[0], size_t(fc.at)) << "in the payload";
        EXPECT_LT(d[0], sumAt(r));
        EXPECT_EQ(std::bitset<8>(clean[d[0]] ^ r[d[0]]).count(), 1u);
        break;
    case FaultCase::Noise:
        EXPECT_EQ(r, clean);
        for (size_t i = 0; i < extra; ++i)
            EXPECT_TRUE(all[i] != 0xF0 && all[i] != 0xF1) << "a start byte in the noise at " << i;
        EXPECT_EQ(got.size(), 1u) << "noise and reply in one write";
        break;
    case FaultCase::Split:
        EXPECT_EQ(r, clean);
        ASSERT_GE(got.size(), 2u) << "the reply comes in two pieces";
        EXPECT_GE(got.back().at - sent, std::chrono::milliseconds(fc.at));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(SimLine, ReplyFaults,
                         ::testing::Combine(::testing::Values(Front::Pty, Front::Tcp),
                                            ::testing::ValuesIn(kFaultCases)),
                         [](const auto& info) {
                             return std::string(frontName(std::get<0>(info.param))) + std::get<1>(info.param).name;
                         });

class LineSpeed : public ::testing::TestWithParam<Front> {};

// Twenty reads in one write at 9600 baud, half time: the last reply cannot be whole
// before all request bytes crossed the line and its own bytes came back.
TEST_P(LineSpeed, BytesTakeTheirLineTimeBothWays)
{
    constexpr int kBaud = 9600;
    constexpr double kScale = 0.5;
    constexpr int kRequests = 20;
    irsim::CameraOptions o = optionsFor(GetParam(), kScale);
    o.baud = kBaud;
    irsim::VirtualCamera cam(o);
    std::string error;
    ASSERT_TRUE(cam.start(&error)) << error;
    HostEnd host(GetParam(), cam);
    ASSERT_TRUE(host.ready());

    Bytes batch;
    for (int i = 0; i < kRequests; ++i) {
        const Bytes r = longRead(0xF031);
        batch.insert(batch.end(), r.begin(), r.end());
    }
    const size_t replyBytes = 11 * kRequests;
    const auto sent = Clock::now();
    ASSERT_TRUE(host.send(batch));
    const std::vector<Piece> got = host.receive(replyBytes, 10000);
    ASSERT_EQ(joined(got).size(), replyBytes);
    const double elapsedMs = std::chrono::duration<double, std::milli>(got.back().at - sent).count();
    const double byteMs = 10.0 * 1000.0 / kBaud * kScale;
    const double floorMs = double(batch.size() + 11) * byteMs;
    EXPECT_GE(elapsedMs, floorMs);
    // A paced line spreads the replies out instead of holding them back and sending
    // them at once.
    EXPECT_GT(got.size(), size_t(kRequests / 2));
    EXPECT_LT(elapsedMs, floorMs + 5000.0) << "hung";
    RecordProperty("elapsed_over_line_time", std::to_string(elapsedMs / floorMs));
    EXPECT_EQ(cam.serialBytesFromHost(), batch.size());
    EXPECT_EQ(cam.serialBytesToHost(), replyBytes);

    // Off again at run time: the next reply leaves in one piece, not byte by byte.
    irsim::SimControl control(cam);
    std::string reply;
    ASSERT_TRUE(control.run("baud 0", &reply));
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(cam.baud(), 0);
    ASSERT_TRUE(host.send(longRead(0xF031)));
    const std::vector<Piece> unpaced = host.receive(11);
    EXPECT_EQ(joined(unpaced).size(), 11u);
    EXPECT_EQ(unpaced.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(SimLine, LineSpeed, ::testing::Values(Front::Pty, Front::Tcp),
                         [](const auto& info) { return std::string(frontName(info.param)); });

TEST(SimLine, DataBlockIsAcknowledgedAfterItsFlashTime)
{
    irsim::VirtualCamera cam(optionsFor(Front::Pty, 0.25));
    std::string error;
    ASSERT_TRUE(cam.start(&error)) << error;
    irsim::SimControl control(cam);
    std::string reply;
    ASSERT_TRUE(control.run("block-ms 400", &reply));
    ASSERT_EQ(reply, "ok");
    HostEnd host(Front::Pty, cam);
    ASSERT_TRUE(host.ready());
    for (const Bytes& r : {longWrite(0xF0E0, 1), longWrite(0xF0E1, 1), blockFrame(0xE3, be32(0x1A00000)),
                           blockFrame(0xE4, be32(16))}) {
        ASSERT_TRUE(host.send(r));
        const Bytes ack = joined(host.receive(r[0] == 0xF0 ? 11 : 6));
        ASSERT_EQ(valueOf(ack), 1u);
    }
    const Bytes block = blockFrame(0xEE, Bytes(16, 0x5A));
    const auto sent = Clock::now();
    ASSERT_TRUE(host.send(block));
    const std::vector<Piece> ack = host.receive(6);
    ASSERT_EQ(joined(ack), (Bytes{0xF1, 0x02, 0xEE, 0x01, 0xEF, 0xFF}));
    EXPECT_GE(ack.back().at - sent, std::chrono::milliseconds(100)) << "400 ms at scale 0.25";
    EXPECT_EQ(cam.dataBlocksProgrammed(), 1u);
    ASSERT_TRUE(control.run("status", &reply));
    EXPECT_NE(reply.find("block-ms 400"), std::string::npos) << reply;
    EXPECT_NE(reply.find("blocks 1"), std::string::npos) << reply;
}

} // namespace
