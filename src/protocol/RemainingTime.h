#pragma once

#include <QElapsedTimer>
#include <QString>

// The remaining time of a flash write or read-back, estimated from the block rate so
// far: "剩余 m 分 ss 秒". Nothing before the first block is done (no rate yet).
class RemainingTime {
public:
    void start(qint64 total);
    // After `done` of the total: the estimate, or empty while there is none. `changed`
    // says whether the text differs from the last one given (to spare repaints).
    QString after(qint64 done, bool* changed = nullptr);

    static QString format(qint64 seconds);

private:
    QElapsedTimer m_clock;
    qint64 m_total = 0;
    QString m_last;
};
