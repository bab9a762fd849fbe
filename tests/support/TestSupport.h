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

// Sanitizer builds run several times slower. Tests that stream live video in the
// same process as the camera ask for few frames there: the link's one reader thread
// carries the stream and the serial replies, and a stream the host cannot decode
// in time queues the replies behind it. Their transactions get a longer poll budget.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSlowBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif
#else
constexpr bool kSlowBuild = false;
#endif
// Nominal poll interval for transactions beside a live stream (Pace scales it).
constexpr int kLivePollMs = kSlowBuild ? 20000 : 1000;
// Frame rate of the virtual camera in such tests.
constexpr double kLiveFps = kSlowBuild ? 5.0 : 50.0;

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
