#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <thread>

class QTemporaryDir;

namespace irtest {

// A fresh temporary folder made the data root for the lifetime of the object.
class ScopedDataRoot {
public:
    ScopedDataRoot();
    ~ScopedDataRoot();
    QString path() const;
    QString file(const QString& name) const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previous;
};

// The suite's one wait: polls `pred` every millisecond (real time, not Pace) until it
// holds or `ms` have passed; the last look decides. Widget tests that need the event
// loop use waitUntil (GuiTestSupport.h), which spins it between looks.
template <class Pred>
bool waitFor(Pred pred, int ms = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

QByteArray readAll(const QString& path);
QByteArray fromHex(const char* hex);

} // namespace irtest
