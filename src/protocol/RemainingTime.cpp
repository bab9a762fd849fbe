#include "RemainingTime.h"

void RemainingTime::start(qint64 total)
{
    m_total = total;
    m_last.clear();
    m_clock.start();
}

QString RemainingTime::after(qint64 done, bool* changed)
{
    QString text;
    if (done > 0 && m_total > 0 && m_clock.isValid()) {
        const double perUnitMs = double(m_clock.elapsed()) / double(done);
        const qint64 left = m_total > done ? m_total - done : 0;
        // Rounded up: "0 秒 left" only when it is really over.
        text = format(qint64((perUnitMs * double(left) + 999.0) / 1000.0));
    }
    if (changed)
        *changed = text != m_last;
    m_last = text;
    return text;
}

QString RemainingTime::format(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    return QStringLiteral("剩余 %1 分 %2 秒").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
