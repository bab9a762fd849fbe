// Entry point of the GUI tests: a QApplication on the offscreen platform, every fixed
// pause shrunk a hundredfold, a throw-away data root, the program's resources and
// style, and a message sink that records every box and answers at once.
#include "CComonFun.h"
#include "CustomMessageBox.h"
#include "GuiTestSupport.h"
#include "Pace.h"
#include "ProgramStyle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {
QMutex g_lock;
QList<QPair<QString, QString>> g_messages;
std::atomic<int> g_answer{1};
} // namespace

namespace guitest {

QList<QPair<QString, QString>> takeMessages()
{
    QMutexLocker lock(&g_lock);
    QList<QPair<QString, QString>> out;
    out.swap(g_messages);
    return out;
}

void installRecordingSink()
{
    CustomMessageBox::setSink([](const QString& title, const QString& text, int) {
        QMutexLocker lock(&g_lock);
        g_messages.append({title, text});
        return g_answer.load();
    });
}

void setMessageAnswer(int answer)
{
    g_answer.store(answer);
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Sleep in the event loop, not in a busy spin.
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace guitest

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    Pace::setScale(0.01);
    QTemporaryDir root;
    CComonFun::setDataRoot(root.path());
    ProgramStyle::apply(app);
    guitest::installRecordingSink();
    const int rc = RUN_ALL_TESTS();
    CustomMessageBox::setSink({});
    return rc;
}
