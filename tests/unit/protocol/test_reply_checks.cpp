// A reply counts only when it is whole, its checksum and terminator hold and it
// echoes the request's address; bad ones are dropped and told, and the transaction
// keeps waiting within its budget. Both pacings must give the same answers.
#include "DataExchange.h"
#include "FakeLink.h"
#include "ReplyScanner.h"
#include "TestSupport.h"

#include <QObject>
#include <gtest/gtest.h>

#include <tuple>

namespace {

// F0 LEN 36 AA 01 payload CHK FF: a register read reply.
QByteArray readReply(int aa, const QByteArray& payload)
{
    QByteArray b;
    b.append(char(0xF0)).append(char(payload.size() + 3)).append(char(0x36)).append(char(aa)).append(char(1));
    b += payload;
    unsigned sum = 0;
    for (int i = 2; i < b.size(); ++i)
        sum += uchar(b[i]);
    return b.append(char(sum & 0xFF)).append(char(0xFF));
}

const QByteArray kValue = irtest::fromHex("11223344");
const QByteArray kGood = readReply(0x84, kValue);

QByteArray flipped(QByteArray b, int at, int bit)
{
    b[at] = char(uchar(b[at]) ^ (1 << bit));
    return b;
}

struct Case {
    const char* name;
    QList<QByteArray> chunks; // served one per read, in order
    bool answers;             // the read takes 0x11223344
    const char* dropReason;   // what the history is told, if anything
};

std::vector<Case> cases()
{
    QList<QByteArray> bytewise;
    for (char c : kGood)
        bytewise << QByteArray(1, c);
    return {
        {"split", {kGood.left(4), QByteArray(), kGood.mid(4)}, true, nullptr},
        {"one_byte_a_read", bytewise, true, nullptr},
        {"noise_before", {irtest::fromHex("0013377e") + kGood}, true, nullptr},
        // A stray start byte is told as a reply for another address, and skipped.
        {"noise_with_start_byte_before", {irtest::fromHex("f0ff00") + kGood}, true, "应答地址与请求不符"},
        {"late_within_budget", {QByteArray(), QByteArray(), QByteArray(), kGood}, true, nullptr},
        {"flipped_bit", {flipped(kGood, 6, 4)}, false, "校验和错误"},
        {"wrong_checksum", {flipped(kGood, kGood.size() - 2, 0)}, false, "校验和错误"},
        {"wrong_terminator", {kGood.left(kGood.size() - 1) + char(0xFE)}, false, "结束符错误"},
        {"wrong_address_echo", {readReply(0x85, kValue)}, false, "应答地址与请求不符"},
        {"bad_then_good", {flipped(kGood, 7, 1), QByteArray(), kGood}, true, "校验和错误"},
    };
}

class ReplyChecks : public ::testing::TestWithParam<std::tuple<DataExchange::Pacing, size_t>> {
protected:
    void SetUp() override
    {
        // 1 ms real a poll at the tests' Pace scale: the reply pacing's 1 ms looks fit
        // many times into one poll, as at the bench.
        m_prevPoll = DataExchange::pollIntervalMs();
        DataExchange::setPollIntervalMs(100);
        DataExchange::setPacing(std::get<0>(GetParam()));
        QObject::connect(dx, &DataExchange::signalDroppedReply, &ctx,
                         [this](QString, QString why) { dropped << why; });
    }
    void TearDown() override
    {
        DataExchange::setPollIntervalMs(m_prevPoll);
        DataExchange::setPacing(DataExchange::Pacing::Fixed);
    }
    DataExchange* dx = DataExchange::instance();
    FakeLink link;
    ScopedLink slot{&link};
    QObject ctx;
    QStringList dropped;
    double m_prevPoll = 200;
};

} // namespace

TEST_P(ReplyChecks, OnlyAWholeCheckedEchoingReplyAnswers)
{
    const Case c = cases()[std::get<1>(GetParam())];
    SCOPED_TRACE(c.name);
    for (const QByteArray& chunk : c.chunks)
        link.queueReply(chunk);
    unsigned v = 7;
    const bool ok = dx->readShortRegister(0x84, &v);
    EXPECT_EQ(ok, c.answers);
    EXPECT_EQ(dx->lastReplyReceived(), c.answers);
    EXPECT_EQ(v, c.answers ? 0x11223344u : 0u) << "never a wrong value";
    if (c.dropReason)
        EXPECT_EQ(dropped, QStringList{QString::fromUtf8(c.dropReason)});
    else
        EXPECT_TRUE(dropped.isEmpty()) << dropped.join(',').toStdString();
    if (!c.answers)
        EXPECT_GE(link.reads(), 2) << "a bad reply does not end the wait";
}

INSTANTIATE_TEST_SUITE_P(BothPacings, ReplyChecks,
                         ::testing::Combine(::testing::Values(DataExchange::Pacing::Fixed, DataExchange::Pacing::Reply),
                                            ::testing::Range(size_t(0), cases().size())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == DataExchange::Pacing::Fixed ? "fixed_" : "reply_")
                                 + cases()[std::get<1>(info.param)].name;
                         });

// A reply to another short register is not this one's, even when it is whole and
// checked; a reply whose echo is wrong is judged before its rest arrives.
TEST(ReplyScanner, EchoIsJudgedEarlyAndAHeadThatCannotCompleteDoesNotHideAReply)
{
    ReplyExpect e;
    e.echo = 0x84;
    ReplyScanner s(e);
    const QByteArray other = readReply(0x85, kValue);
    s.append(reinterpret_cast<const uint8_t*>(other.constData()), 4);
    std::vector<uint8_t> got;
    EXPECT_FALSE(s.take(&got));
    ASSERT_EQ(s.takeDropped().size(), 1u);
    EXPECT_EQ(s.pending(), 0u) << "nothing of it is kept";

    // A start byte of noise whose LEN claims 250 bytes, then the real reply.
    const QByteArray noisy = irtest::fromHex("f0fa3684") + kGood;
    s.append(reinterpret_cast<const uint8_t*>(noisy.constData()), noisy.size());
    ASSERT_TRUE(s.take(&got));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(got.data()), int(got.size())), kGood);
    EXPECT_TRUE(s.takeDropped().empty()) << "a head still short of its length is not judged";
}

// The same bad candidate is told once, however many chunks follow it.
TEST(ReplyScanner, ABadCandidateIsToldOnce)
{
    ReplyScanner s;
    const QByteArray bad = flipped(kGood, 6, 0);
    s.append(reinterpret_cast<const uint8_t*>(bad.constData()), bad.size());
    const QByteArray head = irtest::fromHex("f10a"); // an incomplete head keeps the buffer
    s.append(reinterpret_cast<const uint8_t*>(head.constData()), head.size());
    EXPECT_FALSE(s.take(nullptr));
    EXPECT_EQ(s.takeDropped().size(), 1u);
    const QByteArray more = irtest::fromHex("00");
    for (int i = 0; i < 3; ++i) {
        s.append(reinterpret_cast<const uint8_t*>(more.constData()), more.size());
        EXPECT_FALSE(s.take(nullptr));
        EXPECT_TRUE(s.takeDropped().empty());
    }
}
