#pragma once

#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <cstdint>

// All register and block transactions with the core over the current link
// (CDevice). Each sends one request and waits for the reply within its poll budget
// (polls of nominally 200 ms, through Pace); a reply counts only when it is whole and
// checked (ReplyScanner). Every frame is announced as lowercase hex on signalSendCMD /
// signalRecvCMD, a dropped one on signalDroppedReply.
class DataExchange : public QObject {
    Q_OBJECT
public:
    static DataExchange* instance();

    // Nominal pause before each poll in ms (default 200); Pace scales it.
    static void setPollIntervalMs(double ms);
    static double pollIntervalMs();

    // How a transaction waits for its reply. Fixed: the poll interval, then a read, up
    // to the poll budget. Reply: the link is looked at every millisecond and the wait
    // ends as soon as a whole, checked reply is in; the time budget (polls x interval)
    // and every failure stay those of the fixed pacing.
    enum class Pacing { Fixed, Reply };
    static void setPacing(Pacing pacing);
    static Pacing pacing();
    // "fixed" / "reply", as in the settings and on the CLI.
    static QString pacingName(Pacing pacing);
    static bool pacingFromName(const QString& name, Pacing* pacing);

    // Polls a register write or a raw command waits for its acknowledgement.
    static constexpr int kCommandPolls = 10;

    bool writeRegister(int addr, int value);
    bool writeRegisterSized(int addr8, int* value, int width);
    bool sendRawCommand(const QString& hexText);
    bool waitAcknowledge();
    bool readRegister(int addr, unsigned* value);
    bool readRegisterBytes(int addr, char* buf, int cap, int* len);
    bool readShortRegister(int addr8, unsigned* value);
    bool readShortRegister64(int addr8, unsigned long long* value);
    bool readShortRegisterBytes(int addr8, char* buf, int cap, int* len);
    bool readShortRegisterLong(int addr8, char* dst, int cap);
    bool writeBlock(int cmd, const void* data, int n);
    bool readBlock(int cmd, void* dst, int cap, int* len);

    // Whether the last transaction on this object took a reply (a refused write had
    // one; a read without one failed).
    bool lastReplyReceived() const;

    // direction 0: sent, 1: received; other values announce nothing.
    void emitCommand(const unsigned char* bytes, int direction, int len);
    // A received frame that failed the reply checks (checksum, terminator, address).
    void announceDropped(const unsigned char* bytes, int len, const QString& reason);

    // Paths of the trace files in the data root.
    static QString logPath();        // log.txt
    static QString dataLogPath();    // data_log.txt
    static QString updateLogPath();  // update_log.txt

signals:
    void signalSendCMD(QString strCMD);
    void signalRecvCMD(QString strCMD);
    void signalDroppedReply(QString strCMD, QString strReason);

private:
    DataExchange();
    bool readValue(bool shortAddress, int addr, uint64_t* value);
    bool readBytes(bool shortAddress, int addr, char* buf, int cap, int* len);
    QRecursiveMutex m_lock; // one transaction at a time, whichever thread runs it
};
