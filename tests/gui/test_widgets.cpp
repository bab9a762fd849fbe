// The widget library: the message box and its sink, the modal dialog's driver, the
// four-step set-up, the chooser provider and the device-sequence runner.
#include "CustomDialog.h"
#include "CustomMessageBox.h"
#include "CustomModalDialog.h"
#include "DeviceRunner.h"
#include "FileChooser.h"
#include "GuiTestSupport.h"
#include "ProgramStyle.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using guitest::takeMessages;
using guitest::waitUntil;

namespace {

// Records the order of the set-up steps; `failAt` makes one step fail.
class StepDialog : public CustomDialog {
public:
    explicit StepDialog(int failAt = -1) : m_failAt(failAt) {}
    QStringList steps;

protected:
    bool SetupUI() override { return step(0, "SetupUI", CustomDialog::SetupUI()); }
    bool ReTranslateUI() override { return step(1, "ReTranslateUI", CustomDialog::ReTranslateUI()); }
    bool ConnectSignals() override { return step(2, "ConnectSignals", CustomDialog::ConnectSignals()); }
    bool InitBkgs() override { return step(3, "InitBkgs", CustomDialog::InitBkgs()); }

private:
    bool step(int n, const char* name, bool base)
    {
        steps << name;
        return base && n != m_failAt;
    }
    int m_failAt;
};

struct DriverGuard {
    ~DriverGuard() { CustomModalDialog::setDriver({}); }
};

struct SinklessGuard {
    // Real boxes (answered by a dialog driver) instead of the recording sink.
    SinklessGuard() { CustomMessageBox::setSink({}); }
    ~SinklessGuard() { guitest::installRecordingSink(); }
};

} // namespace

TEST(Resources, EveryNamedImageIsCompiledIn)
{
    for (const char* name : {":/Resources/zhuangtaitu.png", ":/Resources/shedingtu.png", ":/Resources/shipingtu.png",
                             ":/Resources/agctu.png", ":/Resources/setting_logo.png", ":/Resources/camera1.png",
                             ":/Resources/btns_1.png", ":/Resources/btns_2.png"}) {
        QPixmap pix(QString::fromLatin1(name));
        EXPECT_FALSE(pix.isNull()) << name;
    }
    EXPECT_EQ(QPixmap(":/Resources/zhuangtaitu.png").size(), QSize(46, 37));
    EXPECT_EQ(QPixmap(":/Resources/setting_logo.png").size(), QSize(16, 15));
    QMovie spinner(":/Resources/processing.gif");
    ASSERT_TRUE(spinner.isValid());
    EXPECT_GT(spinner.frameCount(), 1);
    EXPECT_TRUE(ProgramStyle::styleSheet().contains("#TitleBar"));
}

TEST(Resources, StepStateSelectsTheWorkflowImages)
{
    QPushButton btn;
    ProgramStyle::setStepState(&btn, ProgramStyle::StepState::Next);
    EXPECT_EQ(ProgramStyle::stepState(&btn), ProgramStyle::StepState::Next);
    ProgramStyle::setStepState(&btn, ProgramStyle::StepState::Finished);
    EXPECT_EQ(ProgramStyle::stepState(&btn), ProgramStyle::StepState::Finished);
    ProgramStyle::setStepState(&btn, ProgramStyle::StepState::Plain);
    EXPECT_EQ(ProgramStyle::stepState(&btn), ProgramStyle::StepState::Plain);
}

TEST(CustomDialogSetup, RunsTheFourStepsOnceAndStopsAtTheFirstFailure)
{
    StepDialog ok;
    EXPECT_TRUE(ok.Initialize());
    EXPECT_TRUE(ok.Initialize());
    EXPECT_EQ(ok.steps, QStringList({"SetupUI", "ReTranslateUI", "ConnectSignals", "InitBkgs"}));

    StepDialog broken(1);
    EXPECT_FALSE(broken.Initialize());
    EXPECT_FALSE(broken.Initialize()); // the outcome sticks, nothing runs again
    EXPECT_EQ(broken.steps, QStringList({"SetupUI", "ReTranslateUI"}));
}

TEST(CustomDialogSetup, TitleBarTogglesMaximiseAndClosesLikeCancel)
{
    CustomDialog dlg;
    dlg.SetTitleText("IrBench");
    EXPECT_EQ(dlg.windowTitle(), "IrBench");
    dlg.resize(300, 200);
    dlg.show();
    auto* max = dlg.findChild<QPushButton*>("TitleBtnMax");
    auto* close = dlg.findChild<QPushButton*>("TitleBtnClose");
    ASSERT_TRUE(max && close);
    max->click();
    EXPECT_TRUE(waitUntil([&] { return dlg.isMaximized(); }, 2000));
    EXPECT_TRUE(max->property("windowMaximized").toBool());
    max->click();
    EXPECT_TRUE(waitUntil([&] { return !dlg.isMaximized(); }, 2000));
    EXPECT_FALSE(max->property("windowMaximized").toBool());
    close->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(ModalDriver, DriverAnswersTheDialogWithoutAModalLoop)
{
    DriverGuard guard;
    CustomModalDialog::setDriver([](CustomModalDialog* d) { d->OkButton()->click(); });
    CustomModalDialog accepted;
    EXPECT_EQ(accepted.RunModal(), QDialog::Accepted);

    // A dialog the driver leaves open counts as cancelled and is closed.
    CustomModalDialog::setDriver([](CustomModalDialog*) {});
    CustomModalDialog left;
    EXPECT_EQ(left.RunModal(), QDialog::Rejected);
    EXPECT_FALSE(left.isVisible());
}

TEST(MessageBox, SinkRecordsAndAnswersAtOnce)
{
    takeMessages();
    guitest::setMessageAnswer(0);
    EXPECT_EQ(CustomMessageBox::MsgBox(nullptr, "警告", "未连接任何设备!", 1), 0);
    guitest::setMessageAnswer(1);
    EXPECT_EQ(CustomMessageBox::MsgBox(nullptr, "提示", "已保存!", 0), 1);
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 2);
    EXPECT_EQ(msgs[0], qMakePair(QString("警告"), QString("未连接任何设备!")));
    EXPECT_EQ(msgs[1], qMakePair(QString("提示"), QString("已保存!")));
}

TEST(MessageBox, RealBoxShowsTitleTextAndButtonsByStyle)
{
    DriverGuard driverGuard;
    SinklessGuard sinkless;
    QString seenTitle, seenText;
    bool cancelShown = true;
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        seenTitle = d->TitleText();
        seenText = d->findChild<QLabel*>("MsgText")->text();
        cancelShown = d->CancelButton()->isVisible();
        d->OkButton()->click();
    });
    EXPECT_EQ(CustomMessageBox::MsgBox(nullptr, "错误", "保存失败!", 0), 1);
    EXPECT_EQ(seenTitle, "错误");
    EXPECT_EQ(seenText, "保存失败!");
    EXPECT_FALSE(cancelShown);

    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        cancelShown = d->CancelButton()->isVisible();
        d->CancelButton()->click();
    });
    EXPECT_EQ(CustomMessageBox::MsgBox(nullptr, "提示", "继续?", 1), 0);
    EXPECT_TRUE(cancelShown);
}

TEST(MessageBox, BoxFromAWorkerIsShownOnTheGuiThread)
{
    DriverGuard driverGuard;
    SinklessGuard sinkless;
    QThread* shownOn = nullptr;
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        shownOn = QThread::currentThread();
        d->OkButton()->click();
    });
    std::atomic<int> answer{-1};
    QThread* worker = QThread::create([&] { answer = CustomMessageBox::MsgBox(nullptr, "提示", "完成", 0); });
    worker->start();
    EXPECT_TRUE(waitUntil([&] { return worker->isFinished(); }, 5000));
    worker->wait();
    delete worker;
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(shownOn, qApp->thread());
}

TEST(Chooser, ProviderAnswersInsteadOfTheDialog)
{
    auto chooser = std::make_shared<guitest::ScriptedChooser>();
    chooser->nextOpen = "/tmp/in.dat";
    chooser->nextSave = "/tmp/out.bin";
    chooser->nextFolder = "/tmp";
    FileChooser::setProvider(chooser);
    EXPECT_EQ(FileChooser::getOpenFileName(nullptr, "打开文件", QString(), "dat文件(*.dat)"), "/tmp/in.dat");
    EXPECT_EQ(FileChooser::getSaveFileName(nullptr, "保存文件"), "/tmp/out.bin");
    EXPECT_EQ(FileChooser::getExistingDirectory(nullptr, "选择文件夹"), "/tmp");
    EXPECT_EQ(chooser->captions, QStringList({"打开文件", "保存文件", "选择文件夹"}));
    FileChooser::setProvider(nullptr);
}

TEST(Runner, DisablesThePageShowsProgressAndAdmitsOneSequence)
{
    DeviceRunner* runner = DeviceRunner::instance();
    ASSERT_FALSE(runner->busy());
    QWidget page;
    auto* bar = new QProgressBar(&page);
    bar->hide();
    page.show();

    std::atomic<bool> release{false};
    int doneCalls = 0;
    bool doneOk = false;
    QThread* runOn = nullptr;
    ASSERT_TRUE(runner->run(&page, bar,
                            [&](DeviceTaskContext& ctx) {
                                runOn = QThread::currentThread();
                                ctx.setProgress(40);
                                while (!release.load())
                                    QThread::yieldCurrentThread();
                                return true;
                            },
                            [&](bool ok) {
                                ++doneCalls;
                                doneOk = ok;
                            }));
    EXPECT_TRUE(runner->busy());
    EXPECT_FALSE(page.isEnabled());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(waitUntil([&] { return bar->value() == 40; }, 3000)); // the window keeps painting
    // One device operation at a time.
    EXPECT_FALSE(runner->run(&page, bar, [](DeviceTaskContext&) { return true; }));
    release = true;
    EXPECT_TRUE(runner->waitIdle(5000));
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(doneOk);
    EXPECT_NE(runOn, qApp->thread());
    EXPECT_TRUE(page.isEnabled());
    EXPECT_TRUE(bar->isHidden());
}

TEST(Runner, ThrowingSequenceFailsAndCancelReachesTheSequence)
{
    DeviceRunner* runner = DeviceRunner::instance();
    bool doneOk = true;
    ASSERT_TRUE(runner->run(nullptr, nullptr, [](DeviceTaskContext&) -> bool { throw std::runtime_error("link"); },
                            [&](bool ok) { doneOk = ok; }));
    EXPECT_TRUE(runner->waitIdle(5000));
    EXPECT_FALSE(doneOk);

    QWidget page;
    page.setEnabled(false); // a page that was disabled stays so
    std::atomic<bool> started{false};
    bool sawCancel = false;
    ASSERT_TRUE(runner->run(&page, nullptr, [&](DeviceTaskContext& ctx) {
        started = true;
        while (!ctx.cancelled())
            QThread::yieldCurrentThread();
        sawCancel = true;
        return false;
    }));
    EXPECT_TRUE(waitUntil([&] { return started.load(); }, 3000));
    EXPECT_FALSE(runner->waitIdle(50)); // still running: the wait is bounded
    runner->cancel();
    EXPECT_TRUE(runner->waitIdle(5000));
    EXPECT_TRUE(sawCancel);
    EXPECT_FALSE(page.isEnabled());
}

TEST(Runner, MessagesFromTheSequenceReachTheSink)
{
    takeMessages();
    DeviceRunner* runner = DeviceRunner::instance();
    QString status;
    auto conn = QObject::connect(runner, &DeviceRunner::signalStatus, runner, [&](QString s) { status = s; });
    ASSERT_TRUE(runner->run(nullptr, nullptr, [](DeviceTaskContext& ctx) {
        ctx.setStatus("剩余 3 秒");
        return ctx.message("提示", "写入成功!") == 1;
    }));
    EXPECT_TRUE(runner->waitIdle(5000));
    QObject::disconnect(conn);
    EXPECT_EQ(status, "剩余 3 秒");
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].second, "写入成功!");
}
