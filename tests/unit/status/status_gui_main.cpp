// Entry point of the page tests: a QApplication (offscreen), every fixed pause
// shrunk, a throw-away data root and a message sink that records and answers OK.
#include "CComonFun.h"
#include "CustomMessageBox.h"
#include "MessageLog.h"
#include "Pace.h"

#include <QApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {
QMutex g_lock;
QList<QPair<QString, QString>> g_messages;
} // namespace

namespace irtest {

QList<QPair<QString, QString>> takeMessages()
{
    QMutexLocker lock(&g_lock);
    QList<QPair<QString, QString>> out;
    out.swap(g_messages);
    return out;
}

} // namespace irtest

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    Pace::setScale(0.01);
    QTemporaryDir root;
    CComonFun::setDataRoot(root.path());
    CustomMessageBox::setSink([](const QString& title, const QString& text, int) {
        QMutexLocker lock(&g_lock);
        g_messages.append({title, text});
        return 1;
    });
    const int rc = RUN_ALL_TESTS();
    CustomMessageBox::setSink({});
    return rc;
}
