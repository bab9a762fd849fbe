// The datasheet import from the menu against the virtual camera: the core is
// identified over the network, the dialog finds its workbook in a folder, parses it
// and, when it closes, the detector panel has the vendor's values and the initial
// bad-pixel table. Also the refusals and the cancel by closing.
#include "CDevice.h"
#include "CameraInfoDataManager.h"
#include "ConfigPageWidget.h"
#include "CustomModalDialog.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "IrBenchDlg.h"
#include "Pace.h"
#include "SensorConfigWidget.h"
#include "SensorExcelSettingDlg.h"
#include "SpecSheetAction.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include <memory>

using guitest::takeMessages;
using guitest::waitUntil;
using sensorcfg::Item;
using sensorcfg::Vendor;

namespace {

const QString kFixtures = QStringLiteral(IRBENCH_SHEET_FIXTURES);

class SpecSheetImport : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        irsim::CameraOptions opts;
        opts.net.port = 0;
        opts.timeScale = 0.01;
        opts.preset = GetParam();
        cam = std::make_unique<irsim::VirtualCamera>(opts);
        std::string error;
        ASSERT_TRUE(cam->start(&error)) << error;
        chooser = std::make_shared<guitest::ScriptedChooser>();
        FileChooser::setProvider(chooser);
        // Six identifications of about twenty reads each on a busy machine: a budget
        // of 20 ms a read (the suite's scale) is too tight, so a tenth of the real
        // budget, with replies taken as soon as they are whole.
        m_scale = Pace::scale();
        Pace::setScale(0.1);
        DataExchange::setPacing(DataExchange::Pacing::Reply);
        win = std::make_unique<IrBenchDlg>();
        ASSERT_TRUE(win->Initialize());
        win->show();
        takeMessages();
    }
    void TearDown() override
    {
        CustomModalDialog::setDriver({});
        FileChooser::setProvider(nullptr);
        DeviceRunner::instance()->waitIdle(10000);
        // Disconnect as the operator does, so the next test starts from a forgotten core.
        win->ActDisconnect()->trigger();
        DeviceRunner::instance()->waitIdle(10000);
        win.reset();
        cam.reset();
        DataExchange::setPacing(DataExchange::Pacing::Fixed);
        Pace::setScale(m_scale);
    }

    void connectOverNetwork()
    {
        const QString port = QString::number(cam->port());
        CustomModalDialog::setDriver([=](CustomModalDialog* d) {
            d->findChild<QLineEdit*>("m_pEdtIp")->setText("127.0.0.1");
            d->findChild<QLineEdit*>("m_pEdtPort")->setText(port);
            d->findChild<QLineEdit*>("m_pEdtUsr")->setText("admin");
            d->findChild<QLineEdit*>("m_pEdtPwd")->setText("admin");
            d->findChild<QLineEdit*>("m_pEdtChannel")->setText("1");
            // Device form 1 answers the five module bytes the core class comes from.
            d->findChild<QComboBox*>("m_pCmBxDeviceModu")->setCurrentIndex(1);
            d->OkButton()->click();
        });
        win->ActNetConnect()->trigger();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
        ASSERT_TRUE(waitUntil([&] { return win->ActSensorExcel()->isEnabled(); }))
            << "core not identified: " << win->ConnectLabel()->text().toStdString() << " "
            << CameraInfoDataManager::instance()->readErrorText().toStdString() << " "
            << takeMessages().value(0).second.toStdString();
    }

    // Answers the dialog: browse (the chooser gives `folder`), wait for the parse,
    // close with OK.
    void answerDialog(const QString& folder)
    {
        chooser->nextFolder = folder;
        CustomModalDialog::setDriver([](CustomModalDialog* d) {
            auto* dlg = qobject_cast<SensorExcelSettingDlg*>(d);
            ASSERT_NE(dlg, nullptr);
            dlg->findChild<QPushButton*>("btnBrowser")->click();
            EXPECT_TRUE(waitUntil([dlg] { return !dlg->isBusy(); }));
            d->OkButton()->click();
        });
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    std::shared_ptr<guitest::ScriptedChooser> chooser;
    std::unique_ptr<IrBenchDlg> win;
    irtest::ScopedDataRoot root;
    double m_scale = 1;
};

TEST_P(SpecSheetImport, FillsThePanelFromTheConnectedCoresWorkbook)
{
    ASSERT_NO_FATAL_FAILURE(connectOverNetwork());
    CameraInfoDataManager* info = CameraInfoDataManager::instance();
    const QString id = info->sensorId();
    const bool dali = info->sensorTypeCode() == 4;
    ASSERT_TRUE(dali || (info->coreClass() >= 1 && info->coreClass() <= 4));

    // DL0424 has two workbooks in the committed tree; the others get one copied under
    // their name beside a workbook of another core.
    QTemporaryDir tmp;
    QString folder = kFixtures + "/tree";
    if (!dali) {
        folder = tmp.path();
        ASSERT_TRUE(QDir(folder).mkpath("x/y"));
        ASSERT_TRUE(QFile::copy(kFixtures + "/spec_reordered.xlsx", folder + "/x/y/" + id + "_spec.xlsx"));
        ASSERT_TRUE(QFile::copy(kFixtures + "/spec.xls", folder + "/x/IRB0123.xls"));
    }
    SensorConfigWidget* panel = win->ConfigPage()->sensorConfigWidget();
    panel->setField(Vendor::PICO, Item::GFidGsk, "typed");
    panel->setField(Vendor::DALI, Item::Vbs, "typed");

    answerDialog(folder);
    win->ActSensorExcel()->trigger();
    SensorExcelSettingDlg* dlg = SpecSheetAction::dialog(win.get());
    EXPECT_EQ(chooser->captions.value(0), "Open Directory");
    EXPECT_EQ(dlg->findChild<QLineEdit*>("lineEditExcelPath")->text(), QDir::toNativeSeparators(folder));
    const QString log = dlg->findChild<QTextBrowser*>("textBrowser")->toPlainText();
    EXPECT_TRUE(log.contains("[" + id + "]规格书解析完成...")) << log.toStdString();
    EXPECT_TRUE(log.contains("坏点表本地路径:")) << log.toStdString();

    const QString table = root.file("Pixel/FinalPixel_" + info->safeSensorId() + ".bin");
    EXPECT_EQ(QFileInfo(win->ConfigPage()->initBPTablePath()).absoluteFilePath(), QFileInfo(table).absoluteFilePath());
    const QByteArray bytes = irtest::readAll(table);
    // Six listed pixels; (512, 640) lies outside the 384 x 288 frames of classes 1-4.
    ASSERT_EQ(bytes.size(), (dali ? 6 : 5) * 4) << log.toStdString();
    EXPECT_EQ(bytes.mid(1, 3), QByteArray("\x01\x41\x2C", 3));
    if (dali) {
        EXPECT_TRUE(dlg->excelPath().endsWith("tree/b/DL0424_2024.xlsx")) << dlg->excelPath().toStdString();
        EXPECT_TRUE(log.contains("找到2个[DL0424]的规格书，使用最后找到的一个")) << log.toStdString();
        EXPECT_EQ(panel->DALIResponseRatio(), "87");
        EXPECT_EQ(panel->DALIVBS(), "2500");
        EXPECT_EQ(panel->DALITINT(), "12");
        EXPECT_EQ(panel->PICOGFidGSK(), "typed");
    } else {
        EXPECT_EQ(panel->PICOGFidGSK(), "1234500");
        EXPECT_EQ(panel->DALIVBS(), "typed");
    }
    EXPECT_TRUE(takeMessages().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cores, SpecSheetImport, ::testing::Values("dali", "class1", "class2", "class3", "class4"));

using SpecSheetRefusal = SpecSheetImport;

TEST_P(SpecSheetRefusal, ClosingCancelsAndNoMatchOrABrokenWorkbookHandsNothingOver)
{
    ASSERT_NO_FATAL_FAILURE(connectOverNetwork());
    SensorConfigWidget* panel = win->ConfigPage()->sensorConfigWidget();
    panel->setField(Vendor::DALI, Item::Vbs, "typed");
    const QString table = root.file("Pixel/FinalPixel_DL0424.bin");

    // Closed at once: the search is cancelled, nothing is parsed or handed over.
    chooser->nextFolder = kFixtures + "/tree";
    CustomModalDialog::setDriver([](CustomModalDialog* d) {
        d->findChild<QPushButton*>("btnBrowser")->click();
        d->OkButton()->click();
    });
    EXPECT_FALSE(SpecSheetAction::run(win.get(), win->ConfigPage()));
    SensorExcelSettingDlg* dlg = SpecSheetAction::dialog(win.get());
    ASSERT_TRUE(waitUntil([dlg] { return !dlg->isBusy(); }));
    EXPECT_FALSE(dlg->hasResults());
    EXPECT_FALSE(QFile::exists(table));
    EXPECT_EQ(panel->DALIVBS(), "typed");

    // No workbook of this core.
    QTemporaryDir tmp;
    ASSERT_TRUE(QFile::copy(kFixtures + "/spec.xls", tmp.filePath("IRB0123.xls")));
    answerDialog(tmp.path());
    EXPECT_FALSE(SpecSheetAction::run(win.get(), win->ConfigPage()));
    EXPECT_TRUE(dlg->logText().endsWith("没有发现[DL0424]对应的规格书\n")) << dlg->logText().toStdString();
    EXPECT_EQ(dlg->lastDirectory(), tmp.path()) << "the next choice starts here";

    // A broken workbook: the reason in the log, no table, the fields as they were.
    ASSERT_TRUE(QFile::copy(kFixtures + "/bad_missing_part.xlsx", tmp.filePath("DL0424.xlsx")));
    answerDialog(tmp.path());
    EXPECT_FALSE(SpecSheetAction::run(win.get(), win->ConfigPage()));
    EXPECT_TRUE(dlg->logText().contains("缺少部件")) << dlg->logText().toStdString();
    EXPECT_TRUE(dlg->logText().contains("[DL0424]规格书解析失败"));
    EXPECT_FALSE(QFile::exists(table));
    EXPECT_EQ(panel->DALIVBS(), "typed");
    EXPECT_TRUE(win->ConfigPage()->initBPTablePath().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Dali, SpecSheetRefusal, ::testing::Values("dali"));

class SpecSheetDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        chooser = std::make_shared<guitest::ScriptedChooser>();
        FileChooser::setProvider(chooser);
        ASSERT_TRUE(dlg.Initialize());
        takeMessages();
    }
    void TearDown() override { FileChooser::setProvider(nullptr); }
    std::shared_ptr<guitest::ScriptedChooser> chooser;
    SensorExcelSettingDlg dlg;
    ConfigPageWidget page;
    irtest::ScopedDataRoot root;
};

TEST_F(SpecSheetDialog, WithoutAnIdentifiedCoreNothingIsSearchedOrHandedOver)
{
    ASSERT_TRUE(CameraInfoDataManager::instance()->sensorId().isEmpty());
    EXPECT_EQ(dlg.lastDirectory(), QDir::homePath());
    dlg.onBrowseFile();
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, "警告");
    EXPECT_TRUE(chooser->captions.isEmpty()) << "no folder is asked for";
    EXPECT_FALSE(dlg.isBusy());
    EXPECT_FALSE(dlg.handOver(&page, 4, 1));
    EXPECT_TRUE(page.initBPTablePath().isEmpty());
}

} // namespace
