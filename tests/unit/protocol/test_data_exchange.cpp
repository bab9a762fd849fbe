#include "CComonFun.h"
#include "DataExchange.h"
#include "FakeLink.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {

QByteArray withChecksum(QByteArray b, int from)
{
    unsigned sum = 0;
    for (int i = from; i < b.size(); ++i)
        sum += static_cast<unsigned char>(b[i]);
    b.append(char(sum & 0xFF));
    b.append(char(0xFF));
    return b;
}

// F0 LEN 36 AA 00 payload CHK FF; AA echoes the request's address byte (0xFE: long)
QByteArray regReply(const char* payloadHex, int aa = 0xFE)
{
    const QByteArray payload = irtest::fromHex(payloadHex);
    QByteArray b;
    b.append(char(0xF0)).append(char(payload.size() + 3)).append(char(0x36)).append(char(aa)).append(char(0));
    return withChecksum(b + payload, 2);
}

// F1 LEN CMD payload CHK FF
QByteArray blockReply(int cmd, const QByteArray& payload)
{
    QByteArray b;
    b.append(char(0xF1)).append(char(payload.size() + 1)).append(char(cmd));
    return withChecksum(b + payload, 2);
}

QString hex(const QByteArray& b)
{
    return QString::fromLatin1(b.toHex());
}

class Transactions : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_prevPoll = DataExchange::pollIntervalMs();
        DataExchange::setPollIntervalMs(1);
        QObject::connect(dx, &DataExchange::signalSendCMD, &ctx, [this](QString s) { sent << s; });
        QObject::connect(dx, &DataExchange::signalRecvCMD, &ctx, [this](QString s) { recv << s; });
    }
    void TearDown() override { DataExchange::setPollIntervalMs(m_prevPoll); }

    DataExchange* dx = DataExchange::instance();
    FakeLink link;
    ScopedLink slot{&link};
    irtest::ScopedDataRoot root;
    QObject ctx; // disconnects the collectors when the test ends
    QStringList sent, recv;
    double m_prevPoll = 200;
};

} // namespace

TEST(PollInterval, DefaultsToTwoHundredMilliseconds)
{
    EXPECT_DOUBLE_EQ(DataExchange::pollIntervalMs(), 200.0);
}

TEST_F(Transactions, RegisterWriteSendsLogsAndAnnounces)
{
    const QByteArray ack = regReply("01");
    link.queueReply(ack, 2);
    ASSERT_TRUE(dx->writeRegister(0xF02A, 0x1F4));
    EXPECT_EQ(link.reads(), 3);
    ASSERT_EQ(link.writes().size(), 1);
    EXPECT_EQ(link.lastWrite(), irtest::fromHex("f00b36fe000000f02a000001f4 43 ff"));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0], hex(link.lastWrite()));
    ASSERT_EQ(recv.size(), 1);
    EXPECT_EQ(recv[0], hex(ack + QByteArray(11 - ack.size(), '\0'))) << "the whole 11-byte buffer";

    link.queueReply(ack);
    ASSERT_TRUE(dx->writeRegister(-1, 5));
    EXPECT_EQ(irtest::readAll(DataExchange::logPath()),
              QByteArray("addr: f02a\tvalue: 1f4\r\naddr: ffffffff\tvalue: 5\r\n"));
}

TEST_F(Transactions, WriteAnsweredWithZeroFailsAtThatPoll)
{
    link.queueReply(regReply("00"), 1);
    EXPECT_FALSE(dx->writeRegister(0xF010, 1));
    EXPECT_EQ(link.reads(), 2);
    EXPECT_EQ(recv.size(), 1);
    EXPECT_FALSE(QFile::exists(DataExchange::logPath()));
}

TEST_F(Transactions, PollBudgets)
{
    const struct { int addr; int polls; } writes[] = {{0xF02A, 10}, {0xF029, 200}, {0xF021, 200}, {0xF020, 10}};
    for (const auto& w : writes) {
        link.resetCounts();
        EXPECT_FALSE(dx->writeRegister(w.addr, 1));
        EXPECT_EQ(link.reads(), w.polls) << std::hex << w.addr;
    }
    link.resetCounts();
    int v = 3;
    EXPECT_FALSE(dx->writeRegisterSized(0x30, &v, 1));
    EXPECT_EQ(link.reads(), 10);
    link.resetCounts();
    EXPECT_FALSE(dx->sendRawCommand("F00436300003"));
    EXPECT_EQ(link.reads(), 10);
    link.resetCounts();
    EXPECT_FALSE(dx->waitAcknowledge());
    EXPECT_EQ(link.reads(), 10);
    EXPECT_TRUE(link.writes().isEmpty());

    link.resetCounts();
    unsigned value = 7;
    EXPECT_FALSE(dx->readRegister(0xF0E3, &value)) << "a read without an answer fails";
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(link.reads(), 50);
    link.resetCounts();
    char buf[259];
    EXPECT_FALSE(dx->readShortRegisterLong(0x01, buf, sizeof buf));
    EXPECT_EQ(link.reads(), 50);

    link.resetCounts();
    EXPECT_FALSE(dx->writeBlock(0xEE, "abc", 3));
    EXPECT_EQ(link.reads(), 600);
    link.resetCounts();
    int len = 9;
    EXPECT_FALSE(dx->readBlock(0xEA, buf, sizeof buf, &len));
    EXPECT_EQ(len, 0);
    EXPECT_EQ(link.reads(), 200);
    EXPECT_TRUE(recv.isEmpty());
}

TEST_F(Transactions, StaleReplyIsNotTakenByTheNextTransaction)
{
    link.queueReply(regReply("00000007"));
    unsigned v = 0;
    ASSERT_TRUE(dx->readRegister(0x10, &v));
    ASSERT_EQ(v, 7u);
    EXPECT_TRUE(dx->lastReplyReceived());
    // Serial reads that bring nothing leave the buffer untouched; the old reply must
    // not answer the new request.
    ASSERT_FALSE(dx->readRegister(0x11, &v));
    EXPECT_EQ(v, 0u);
    EXPECT_FALSE(dx->lastReplyReceived()) << "no answer is not an answer of 0";
    link.queueReply(regReply("00", 0x0E));
    ASSERT_TRUE(dx->readShortRegister(0x0E, &v));
    EXPECT_TRUE(dx->lastReplyReceived());

    link.queueReply(regReply("01"));
    ASSERT_TRUE(dx->writeRegister(0xF0E0, 1));
    EXPECT_FALSE(dx->waitAcknowledge()) << "the write's own acknowledgement is not a second one";
    link.queueReply(regReply("01"));
    ASSERT_TRUE(dx->writeRegister(0xF0E0, 1));
    link.resetCounts();
    EXPECT_FALSE(dx->writeRegister(0xF0E1, 1));
    EXPECT_EQ(link.reads(), 10);

    char buf[259];
    std::memset(buf, 0x55, 8);
    link.queueReply(regReply("0102030405", 0x01));
    ASSERT_TRUE(dx->readShortRegisterLong(1, buf, sizeof buf));
    ASSERT_FALSE(dx->readShortRegisterLong(1, buf, 2)) << "no reply: the destination keeps its bytes";
    EXPECT_EQ(QByteArray(buf, 6), irtest::fromHex("010203040555"));
}

TEST_F(Transactions, ReadsPadRequestsAndCopyIntoCapacity)
{
    link.queueReply(regReply("0a0b", 0x84));
    unsigned v = 0;
    ASSERT_TRUE(dx->readShortRegister(0x84, &v));
    EXPECT_EQ(link.lastWrite(), irtest::fromHex("f0033684 01bbff 00000000"));
    EXPECT_EQ(v, 0x0A0Bu);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].size(), 22);

    link.queueReply(blockReply(0x84, irtest::fromHex("010203040506")));
    unsigned long long v64 = 0;
    ASSERT_TRUE(dx->readShortRegister64(0x84, &v64));
    EXPECT_EQ(v64, 0x010203040506ull);

    char buf[8];
    std::memset(buf, 0x7E, sizeof buf);
    int len = -1;
    link.queueReply(regReply("31323334"));
    ASSERT_TRUE(dx->readRegisterBytes(0xF0E3, buf, 2, &len));
    EXPECT_EQ(len, 2);
    EXPECT_EQ(QByteArray(buf, 3), QByteArray("12~"));
    link.queueReply(regReply("313233", 0x84));
    ASSERT_TRUE(dx->readShortRegisterBytes(0x84, buf, 8, &len));
    EXPECT_EQ(QByteArray(buf, len), QByteArray("123"));
    EXPECT_FALSE(dx->readRegisterBytes(0xF0E3, nullptr, 4, &len));

    // Long read: a block reply is not accepted because no count is used.
    link.resetCounts();
    recv.clear();
    char lbuf[259];
    link.queueReply(blockReply(0x01, "xyzxyz"));
    ASSERT_FALSE(dx->readShortRegisterLong(0x01, lbuf, sizeof lbuf));
    EXPECT_EQ(link.reads(), 50);
    EXPECT_TRUE(recv.isEmpty());
    link.queueReply(regReply("0102030405", 0x01), 3);
    ASSERT_TRUE(dx->readShortRegisterLong(0x01, lbuf, sizeof lbuf));
    EXPECT_EQ(QByteArray(lbuf, 5), irtest::fromHex("0102030405"));
    ASSERT_EQ(recv.size(), 1);
    EXPECT_EQ(recv[0].size(), 518);
}

TEST_F(Transactions, MailboxLinkAnswersFalseUntilAChunkArrives)
{
    FakeLink net(FakeLink::Mailbox);
    ScopedLink use(&net);
    unsigned v = 1;
    ASSERT_FALSE(dx->readRegister(0xF0E4, &v));
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(net.reads(), 50);
    net.resetCounts();
    net.queueReply(regReply("01"), 4);
    EXPECT_TRUE(dx->writeRegister(0xF018, 5));
    EXPECT_EQ(net.reads(), 5);
    net.resetCounts();
    EXPECT_FALSE(dx->writeRegister(0xF018, 5)) << "the emptied mailbox answers nothing";
    EXPECT_EQ(net.reads(), 10);
}

TEST_F(Transactions, RawCommandsAndShortWritesArePadded)
{
    link.queueReply(regReply("01", 0x30));
    ASSERT_TRUE(dx->sendRawCommand("F0043630000369FF"));
    EXPECT_EQ(link.lastWrite(), irtest::fromHex("f0043630000369ff") + QByteArray(7, '\0'));
    EXPECT_EQ(sent.last().size(), 30);
    EXPECT_FALSE(QFile::exists(DataExchange::logPath())) << "raw commands are not logged";

    // Longer than 15 bytes: sent whole, not cut.
    const QString longCmd = "f1000bee0102030405060708090a5dff";
    link.queueReply(regReply("01"));
    ASSERT_TRUE(dx->sendRawCommand(longCmd));
    EXPECT_EQ(link.lastWrite(), irtest::fromHex(longCmd.toLatin1()));
    link.resetCounts();
    EXPECT_FALSE(dx->sendRawCommand(""));
    EXPECT_TRUE(link.writes().isEmpty());

    const struct { int width; const char* frame; } cases[] = {
        {1, "f0043633 0007 70ff"}, {2, "f0053633 000107 71ff"}, {4, "f0073633 0000000107 71ff"}};
    for (const auto& c : cases) {
        int v = 0x107;
        link.queueReply(regReply("01", 0x33));
        ASSERT_TRUE(dx->writeRegisterSized(0x33, &v, c.width));
        const QByteArray f = irtest::fromHex(c.frame);
        EXPECT_EQ(link.lastWrite(), f + QByteArray(15 - f.size(), '\0')) << c.width;
    }
    EXPECT_EQ(irtest::readAll(DataExchange::logPath()), QByteArray("addr: 33\tvalue: 107\r\n").repeated(3));
    link.resetCounts();
    int v = 1;
    EXPECT_FALSE(dx->writeRegisterSized(0x33, &v, 3));
    EXPECT_FALSE(dx->writeRegisterSized(0x33, nullptr, 1));
    EXPECT_TRUE(link.writes().isEmpty());
}

TEST_F(Transactions, WaitAcknowledgeNeedsValueOne)
{
    link.queueReply(regReply("01"), 6);
    EXPECT_TRUE(dx->waitAcknowledge());
    EXPECT_EQ(link.reads(), 7);
    link.queueReply(regReply("02"));
    EXPECT_FALSE(dx->waitAcknowledge());
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_TRUE(recv.isEmpty());
}

TEST_F(Transactions, BlockWritesLogDataAndUnacknowledgedBlocks)
{
    const QByteArray data("\x01\x02\xff\x00zz", 6);
    link.queueReply(blockReply(0xEE, QByteArray(1, 1)));
    ASSERT_TRUE(dx->writeBlock(0xEE, data.constData(), data.size()));
    EXPECT_EQ(link.lastWrite().size(), 12);
    EXPECT_EQ(link.lastWrite().mid(4, 6), data);
    EXPECT_EQ(sent.last(), hex(link.lastWrite()));
    EXPECT_EQ(recv.last().size(), 22);
    EXPECT_EQ(irtest::readAll(DataExchange::updateLogPath()), QByteArray());

    link.queueReply(regReply("02"));
    EXPECT_FALSE(dx->writeBlock(0xE5, nullptr, 0));
    EXPECT_EQ(link.lastWrite(), irtest::fromHex("f10001e5e5ff"));
    EXPECT_FALSE(dx->writeBlock(0xE3, "\x00\xc0\x00\x00", 4)); // no reply at all
    EXPECT_EQ(irtest::readAll(DataExchange::dataLogPath()), data + QByteArray("\x00\xc0\x00\x00", 4));
    EXPECT_EQ(irtest::readAll(DataExchange::updateLogPath()),
              QByteArray("addr: e5\tbackvalue: 2\r\naddr: e3\tbackvalue: 0\r\n"));

    QByteArray big(1200, 'q');
    link.queueReply(regReply("01"));
    ASSERT_TRUE(dx->writeBlock(0xEE, big.constData(), big.size()));
    EXPECT_EQ(link.lastWrite().size(), 1006) << "a block carries at most 1000 bytes";
}

TEST_F(Transactions, BlockReadsNeedANonEmptyPayloadWithinCapacity)
{
    char buf[300];
    int len = 0;
    link.queueReply(blockReply(0xE9, irtest::fromHex("00001000")), 2);
    ASSERT_TRUE(dx->readBlock(0xE9, buf, sizeof buf, &len));
    EXPECT_EQ(link.lastWrite(), irtest::fromHex("f10001e9e9ff"));
    EXPECT_EQ(QByteArray(buf, len), irtest::fromHex("00001000"));
    EXPECT_EQ(link.reads(), 3);
    ASSERT_EQ(recv.size(), 1);
    EXPECT_EQ(recv[0].size(), 518);

    // Half a long block is not a block: the wait goes on until the rest is in.
    const QByteArray whole = blockReply(0xEA, QByteArray(99, 'b'));
    link.queueReply(whole.left(50));
    link.queueReply(whole.mid(50), 3);
    ASSERT_TRUE(dx->readBlock(0xEA, buf, sizeof buf, &len));
    EXPECT_EQ(QByteArray(buf, len), QByteArray(99, 'b'));

    link.resetCounts();
    link.queueReply(blockReply(0xEA, QByteArray()));
    EXPECT_FALSE(dx->readBlock(0xEA, buf, sizeof buf, &len));
    EXPECT_EQ(link.reads(), 200) << "an empty payload is no block";

    link.resetCounts();
    link.queueReply(blockReply(0xEA, QByteArray(40, 'c')));
    char small[16];
    EXPECT_FALSE(dx->readBlock(0xEA, small, sizeof small, &len));
    EXPECT_EQ(len, 0);
    EXPECT_FALSE(dx->readBlock(0xEA, nullptr, 10, &len));
}

TEST_F(Transactions, FailedSendsAndLogsAreFailures)
{
    link.setWriteOk(false);
    EXPECT_FALSE(dx->writeRegister(0xF0E0, 1));
    unsigned v = 0;
    EXPECT_FALSE(dx->readRegister(0xF0E3, &v));
    EXPECT_FALSE(dx->writeBlock(0xE6, nullptr, 0));
    EXPECT_EQ(link.reads(), 0);
    EXPECT_TRUE(sent.isEmpty());
    link.setWriteOk(true);

    {
        ScopedLink none(nullptr);
        EXPECT_FALSE(dx->writeRegister(0xF0E0, 1));
    }

    // Acknowledged by the core but the log cannot be written: the write fails.
    const QString old = CComonFun::dataRoot();
    CComonFun::setDataRoot(root.file("missing/dir"));
    link.queueReply(regReply("01"));
    EXPECT_FALSE(dx->writeRegister(0xF0E0, 1));
    link.queueReply(regReply("01"));
    EXPECT_FALSE(dx->writeBlock(0xE6, nullptr, 0));
    EXPECT_EQ(link.pending(), 0) << "the acknowledgement is still collected";
    CComonFun::setDataRoot(old);
}

TEST(Announce, HexTextAndDirections)
{
    DataExchange* dx = DataExchange::instance();
    QObject ctx;
    QStringList sent, recv;
    QObject::connect(dx, &DataExchange::signalSendCMD, &ctx, [&](QString s) { sent << s; });
    QObject::connect(dx, &DataExchange::signalRecvCMD, &ctx, [&](QString s) { recv << s; });
    const unsigned char b[] = {0xF0, 0x0B, 0x36, 0x05};
    dx->emitCommand(b, 0, 3);
    dx->emitCommand(b, 1, 4);
    dx->emitCommand(b, 2, 4);
    dx->emitCommand(b, -1, 4);
    EXPECT_EQ(sent, QStringList{"f00b36"});
    EXPECT_EQ(recv, QStringList{"f00b3605"});
}

TEST_F(Transactions, SignalsReachAnotherThreadQueued)
{
    QThread worker;
    QObject receiver;
    receiver.moveToThread(&worker);
    QMutex mu;
    QStringList got;
    QObject::connect(dx, &DataExchange::signalSendCMD, &receiver, [&](QString s) {
        EXPECT_EQ(QThread::currentThread(), &worker);
        QMutexLocker l(&mu);
        got << s;
    });
    worker.start();
    link.queueReply(regReply("01"));
    ASSERT_TRUE(dx->writeRegister(0xF010, 1));
    irtest::waitFor([&] {
        QMutexLocker l(&mu);
        return !got.isEmpty();
    }, 5000);
    worker.quit();
    worker.wait();
    QObject::disconnect(dx, nullptr, &receiver, nullptr);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0], sent[0]);
}

TEST_F(Transactions, ConcurrentTransactionsDoNotInterleave)
{
    // The core answers every read with the address it was asked for, one poll later.
    link.setResponder([](FakeLink& l, const QByteArray& f) {
        if (f.size() == 11 && uchar(f[4]) == 0x01)
            l.queueLocked(regReply(f.mid(5, 4).toHex().constData()), 1);
    });
    auto run = [this](int base, int* bad) {
        for (int i = 0; i < 40; ++i) {
            unsigned v = 0;
            if (!dx->readRegister(base + i, &v) || v != unsigned(base + i))
                ++*bad;
        }
    };
    int badA = 0, badB = 0;
    std::thread a(run, 0x1000, &badA);
    std::thread b(run, 0x2000, &badB);
    a.join();
    b.join();
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
    EXPECT_EQ(link.writes().size(), 80);
    QCoreApplication::processEvents(); // deliver the queued announcements before ctx goes
}
