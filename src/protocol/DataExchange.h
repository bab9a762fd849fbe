#pragma once

#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <cstdint>

// All register and block transactions with the core over the current link
// (CDevice). Each sends one request and polls for the reply with fixed pauses
// (nominally 200 ms, through Pace) up to its poll budget. Every frame is announced
// as lowercase hex on signalSendCMD / signalRecvCMD.
class DataExchange : public QObject {
    Q_OBJECT
public:
    static DataExchange* instance();

    // Nominal pause before each poll in ms (default 200); Pace scales it.
    static void setPollIntervalMs(double ms);
    static double pollIntervalMs();

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

    // Whether the last transaction on this object parsed a reply (reads succeed
    // without one, so callers that must tell "no answer" from 0 ask here).
    bool lastReplyReceived() const;

    // direction 0: sent, 1: received; other values announce nothing.
    void emitCommand(const unsigned char* bytes, int direction, int len);

    // Paths of the trace files in the data root.
    static QString logPath();        // log.txt
    static QString dataLogPath();    // data_log.txt
    static QString updateLogPath();  // update_log.txt

signals:
    void signalSendCMD(QString strCMD);
    void signalRecvCMD(QString strCMD);

private:
    DataExchange();
    bool readValue(bool shortAddress, int addr, uint64_t* value);
    bool readBytes(bool shortAddress, int addr, char* buf, int cap, int* len);
    QRecursiveMutex m_lock; // one transaction at a time, whichever thread runs it
};
