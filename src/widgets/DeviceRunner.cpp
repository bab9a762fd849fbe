#include "DeviceRunner.h"

#include "CustomMessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <exception>
#include <memory>

namespace {

class RunnerContext : public DeviceTaskContext {
public:
    RunnerContext(DeviceRunner* runner, QProgressBar* bar, const std::atomic<bool>* cancel)
        : m_runner(runner)
        , m_bar(bar)
        , m_cancel(cancel)
    {
    }

    void setProgress(int percent) override
    {
        const int value = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
        QPointer<QProgressBar> bar = m_bar;
        QMetaObject::invokeMethod(
            m_runner, [bar, value]() {
                if (bar)
                    bar->setValue(value);
            },
            Qt::QueuedConnection);
    }

    void setStatus(const QString& text) override
    {
        emit m_runner->signalStatus(text);
    }

    int message(const QString& title, const QString& text, int style) override
    {
        return CustomMessageBox::MsgBox(nullptr, title, text, style);
    }

    bool cancelled() const override
    {
        return m_cancel->load();
    }

private:
    DeviceRunner* m_runner;
    QPointer<QProgressBar> m_bar;
    const std::atomic<bool>* m_cancel;
};

bool hasGui()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

DeviceRunner* DeviceRunner::instance()
{
    // Created on first use on the GUI thread and kept until the program ends.
    static DeviceRunner* s_runner = [] {
        auto* runner = new DeviceRunner();
        if (QCoreApplication::instance())
            runner->moveToThread(QCoreApplication::instance()->thread());
        return runner;
    }();
    return s_runner;
}

DeviceRunner::DeviceRunner() = default;

bool DeviceRunner::busy() const
{
    return m_busy.load();
}

void DeviceRunner::cancel()
{
    if (m_busy.load())
        m_cancel.store(true);
}

bool DeviceRunner::run(QWidget* page, QProgressBar* bar, Task task, Done done)
{
    bool expected = false;
    if (!task || !m_busy.compare_exchange_strong(expected, true))
        return false;
    m_cancel.store(false);

    struct RunState {
        QPointer<QWidget> page;
        QPointer<QProgressBar> bar;
        bool pageWasEnabled = true;
        bool barWasHidden = false;
        bool ok = false;
        bool overrideCursor = false;
    };
    auto state = std::make_shared<RunState>();
    state->page = page;
    state->bar = bar;
    if (page) {
        state->pageWasEnabled = page->isEnabled();
        page->setEnabled(false);
    }
    if (bar) {
        state->barWasHidden = bar->isHidden();
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->show();
    }
    if (hasGui()) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        state->overrideCursor = true;
    }
    emit signalBusyChanged(true);

    auto context = std::make_shared<RunnerContext>(this, bar, &m_cancel);
    QThread* worker = QThread::create([task = std::move(task), context, state]() {
        bool ok = false;
        try {
            ok = task(*context);
        } catch (const std::exception&) {
            ok = false; // a sequence that throws has failed; the page says so
        } catch (...) {
            ok = false;
        }
        state->ok = ok;
    });
    worker->setObjectName("DeviceRunner");

    connect(worker, &QThread::finished, this, [this, worker, state, done = std::move(done)]() {
        worker->deleteLater();
        if (state->page)
            state->page->setEnabled(state->pageWasEnabled);
        if (state->bar) {
            state->bar->setValue(state->ok ? 100 : state->bar->value());
            if (state->barWasHidden)
                state->bar->hide();
        }
        if (state->overrideCursor)
            QApplication::restoreOverrideCursor();
        m_cancel.store(false);
        m_busy.store(false);
        emit signalBusyChanged(false);
        if (done)
            done(state->ok);
    }, Qt::QueuedConnection);

    worker->start();
    return true;
}

bool DeviceRunner::waitIdle(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_busy.load()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &DeviceRunner::signalBusyChanged, &loop, [&loop](bool bBusy) {
            if (!bBusy)
                loop.quit();
        });
        timer.start(static_cast<int>(left));
        if (m_busy.load())
            loop.exec();
    }
    return true;
}
