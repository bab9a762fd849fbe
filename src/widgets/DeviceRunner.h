#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>

class QProgressBar;
class QWidget;

// What a device sequence sees while it runs off the GUI thread.
class DeviceTaskContext {
public:
    virtual ~DeviceTaskContext() = default;
    virtual void setProgress(int percent) = 0;           // 0..100, shown on the page's bar
    virtual void setStatus(const QString& text) = 0;      // e.g. remaining time of a long wait
    // A message box on the GUI thread; blocks the sequence until answered.
    virtual int message(const QString& title, const QString& text, int style = 0) = 0;
    virtual bool cancelled() const = 0;
};

// Runs one blocking device sequence at a time on a worker thread: the page is
// disabled, its progress bar follows the sequence, the window keeps painting, and the
// result comes back on the GUI thread.
class DeviceRunner : public QObject {
    Q_OBJECT
public:
    using Task = std::function<bool(DeviceTaskContext& ctx)>;
    using Done = std::function<void(bool ok)>;

    static DeviceRunner* instance();

    // False (and nothing runs) while another sequence is running.
    bool run(QWidget* page, QProgressBar* bar, Task task, Done done = Done());
    bool busy() const;
    void cancel();
    // Processes events until idle or the timeout (ms) runs out; true when idle.
    bool waitIdle(int timeoutMs);

signals:
    void signalBusyChanged(bool bBusy);
    void signalStatus(QString strText);

private:
    DeviceRunner();
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_cancel{false};
};
