// The configuration page's detector configuration: the panel's buttons validated on
// the GUI thread and written through the device runner, and the two long calibration
// commands on their own thread behind the processing window.
#include "ConfigPageWidget.h"

#include "CDevice.h"
#include "CPageTransferContext.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "QProcessingDlg.h"
#include "SensorConfig.h"
#include "SensorConfigThread.h"
#include "SensorConfigWidget.h"

#include <QSemaphore>

#include <memory>

using sensorcfg::Item;
using sensorcfg::Vendor;

void ConfigPageWidget::ConnectSensorSignals()
{
    SensorConfigWidget* w = m_pSensorConfig;
    connect(w, &SensorConfigWidget::signalVendorChanged, this, [this](int nIndex) {
        m_nVendorIndex = nIndex;
        updateInfo();
    });
    connect(w, &SensorConfigWidget::signalGWICSensorIDWrite, this, &ConfigPageWidget::onGWICSensorIDWrite);
    connect(w, &SensorConfigWidget::signalGWICDataWrite, this, &ConfigPageWidget::onGWICDataWrite);
    connect(w, &SensorConfigWidget::signalGWICMovementTypeWrite, this, &ConfigPageWidget::onGWICMovementTypeWrite);
    connect(w, &SensorConfigWidget::signalGWICMovementSerialWrite, this, &ConfigPageWidget::onGWICMovementSerialWrite);
    connect(w, &SensorConfigWidget::signalIRAYSensorIDWrite, this, &ConfigPageWidget::onIRAYSensorIDWrite);
    connect(w, &SensorConfigWidget::signalIRAYDataWrite, this, &ConfigPageWidget::onIRAYDataWrite);
    connect(w, &SensorConfigWidget::signalIRAYMovementTypeWrite, this, &ConfigPageWidget::onIRAYMovementTypeWrite);
    connect(w, &SensorConfigWidget::signalIRAYMovementSerialWrite, this, &ConfigPageWidget::onIRAYMovementSerialWrite);
    connect(w, &SensorConfigWidget::signalIRAY25VtempWrite, this, &ConfigPageWidget::onIRAYVtempWrite);
    connect(w, &SensorConfigWidget::signalIRAYNTCC, this, &ConfigPageWidget::onIRAYNTCC);
    connect(w, &SensorConfigWidget::signalPICOSensorIDWrite, this, &ConfigPageWidget::onPICOSensorIDWrite);
    connect(w, &SensorConfigWidget::signalPICOMovementTypeWrite, this, &ConfigPageWidget::onPICOMovementTypeWrite);
    connect(w, &SensorConfigWidget::signalPICOMovementSerialWrite, this, &ConfigPageWidget::onPICOMovementSerialWrite);
    connect(w, &SensorConfigWidget::signalPICOCorrect, this, &ConfigPageWidget::onPICOCorrect);
    connect(w, &SensorConfigWidget::signalPICOGFidGSKWrite, this, &ConfigPageWidget::onPICOGFidGKSWrite);
    connect(w, &SensorConfigWidget::signalPICOWriteInitBPTable, this, &ConfigPageWidget::onPICOWriteInitBPTable);
    connect(w, &SensorConfigWidget::signalPICOOnekeyConfig, this, &ConfigPageWidget::OnBtnPICOSensorConfig);
    connect(w, &SensorConfigWidget::signalDALISensorIDWrite, this, &ConfigPageWidget::onDALISensorIDWrite);
    connect(w, &SensorConfigWidget::signalDALIMovementTypeWrite, this, &ConfigPageWidget::onDALIMovementTypeWrite);
    connect(w, &SensorConfigWidget::signalDALIMovementSerialWrite, this, &ConfigPageWidget::onDALIMovementSerialWrite);
    connect(w, &SensorConfigWidget::signalDALIVBSWrite, this, &ConfigPageWidget::onDALIVBSWrite);
    connect(w, &SensorConfigWidget::signalDALITINTWrite, this, &ConfigPageWidget::onDALITINTWrite);
    connect(w, &SensorConfigWidget::signalDALIResponseRatioWrite, this, &ConfigPageWidget::onDALIResponseRatioWrite);
    connect(w, &SensorConfigWidget::signalDALISITF, this, &ConfigPageWidget::onDALISITFWrite);
    connect(w, &SensorConfigWidget::signalDALIAutoCorrect, this, &ConfigPageWidget::onDALIAutoCorrect);
    connect(w, &SensorConfigWidget::signalWYSensorIDWrite, this, &ConfigPageWidget::onWYSensorIDWrite);
    connect(w, &SensorConfigWidget::signalWYDataWrite, this, &ConfigPageWidget::onWYDataWrite);
    connect(w, &SensorConfigWidget::signalWYMovementTypeWrite, this, &ConfigPageWidget::onWYMovementTypeWrite);
    connect(w, &SensorConfigWidget::signalWYICMovementSerialWrite, this, &ConfigPageWidget::onWYMovementSerialWrite);
}

void ConfigPageWidget::writeSensorItem(int nVendor, int nItem, const QString& strText)
{
    sensorcfg::Request request;
    request.vendor = Vendor(nVendor);
    request.item = Item(nItem);
    request.text = strText;
    request.sensorTypeCode = CameraInfoDataManager::instance()->sensorTypeCode();
    request.area = m_pSensorConfig->IRAYDataArea();
    const QString strRefusal = sensorcfg::validate(request);
    if (!strRefusal.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), strRefusal, 0);
        return;
    }
    // The writer tells every failure and the final success through the runner.
    runSequence(
        [request](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return sensorcfg::write(ctx, request);
        },
        {}, m_pSensorConfig->progressBar());
}

// A vendor page's item and its field.
#define SENSOR_FIELD(vendor, item) int(Vendor::vendor), int(Item::item), m_pSensorConfig->field(Vendor::vendor, Item::item)

void ConfigPageWidget::onGWICSensorIDWrite() { writeSensorItem(SENSOR_FIELD(GWIC, SensorId)); }
void ConfigPageWidget::onGWICDataWrite() { writeSensorItem(SENSOR_FIELD(GWIC, Data)); }
void ConfigPageWidget::onGWICMovementTypeWrite() { writeSensorItem(SENSOR_FIELD(GWIC, CoreType)); }
void ConfigPageWidget::onGWICMovementSerialWrite() { writeSensorItem(SENSOR_FIELD(GWIC, Batch)); }
void ConfigPageWidget::onIRAYSensorIDWrite() { writeSensorItem(SENSOR_FIELD(IRAY, SensorId)); }
void ConfigPageWidget::onIRAYDataWrite() { writeSensorItem(SENSOR_FIELD(IRAY, Data)); }
void ConfigPageWidget::onIRAYMovementTypeWrite() { writeSensorItem(SENSOR_FIELD(IRAY, CoreType)); }
void ConfigPageWidget::onIRAYMovementSerialWrite() { writeSensorItem(SENSOR_FIELD(IRAY, Batch)); }
void ConfigPageWidget::onIRAYVtempWrite() { writeSensorItem(SENSOR_FIELD(IRAY, Vtemp)); }
void ConfigPageWidget::onPICOSensorIDWrite() { writeSensorItem(SENSOR_FIELD(PICO, SensorId)); }
void ConfigPageWidget::onPICOGFidGKSWrite() { writeSensorItem(SENSOR_FIELD(PICO, GFidGsk)); }
void ConfigPageWidget::onPICOMovementTypeWrite() { writeSensorItem(SENSOR_FIELD(PICO, CoreType)); }
void ConfigPageWidget::onPICOMovementSerialWrite() { writeSensorItem(SENSOR_FIELD(PICO, Batch)); }
void ConfigPageWidget::onPICOCorrect() { writeSensorItem(SENSOR_FIELD(PICO, Target)); }
void ConfigPageWidget::onDALISensorIDWrite() { writeSensorItem(SENSOR_FIELD(DALI, SensorId)); }
void ConfigPageWidget::onDALIVBSWrite() { writeSensorItem(SENSOR_FIELD(DALI, Vbs)); }
void ConfigPageWidget::onDALIMovementTypeWrite() { writeSensorItem(SENSOR_FIELD(DALI, CoreType)); }
void ConfigPageWidget::onDALIMovementSerialWrite() { writeSensorItem(SENSOR_FIELD(DALI, Batch)); }
void ConfigPageWidget::onDALITINTWrite() { writeSensorItem(SENSOR_FIELD(DALI, Tint)); }
void ConfigPageWidget::onDALIResponseRatioWrite() { writeSensorItem(SENSOR_FIELD(DALI, Response)); }
void ConfigPageWidget::onDALISITFWrite() { writeSensorItem(SENSOR_FIELD(DALI, Sitf)); }
void ConfigPageWidget::onWYSensorIDWrite() { writeSensorItem(SENSOR_FIELD(WY, SensorId)); }
void ConfigPageWidget::onWYDataWrite() { writeSensorItem(SENSOR_FIELD(WY, Data)); }
void ConfigPageWidget::onWYMovementTypeWrite() { writeSensorItem(SENSOR_FIELD(WY, CoreType)); }
void ConfigPageWidget::onWYMovementSerialWrite() { writeSensorItem(SENSOR_FIELD(WY, Batch)); }
#undef SENSOR_FIELD

void ConfigPageWidget::onPICOWriteInitBPTable()
{
    writeSensorItem(int(Vendor::PICO), int(Item::InitTable), m_strInitBPTablePath);
}

void ConfigPageWidget::OnBtnPICOSensorConfig()
{
    writeSensorItem(int(Vendor::PICO), int(Item::PicoConfig), QString());
}

void ConfigPageWidget::onIRAYNTCC() { startSensorThread(SensorConfigThread::ModeNtcc); }
void ConfigPageWidget::onDALIAutoCorrect() { startSensorThread(SensorConfigThread::ModeAutoCorrect); }

void ConfigPageWidget::startSensorThread(int nMode)
{
    // The thread talks to the core: the runner stays busy (and the page disabled) until
    // it has finished, so no other sequence shares the line meanwhile.
    auto finished = std::make_shared<QSemaphore>(0);
    auto* thread = new SensorConfigThread(this, nMode);
    thread->setFinishedHook([finished]() { finished->release(); });
    const bool bStarted = runSequence(
        [finished](DeviceTaskContext&) {
            finished->acquire();
            return true;
        },
        {}, false);
    if (!bStarted) {
        delete thread;
        return;
    }
    if (!m_pProcessingDlg) {
        m_pProcessingDlg = new QProcessingDlg(this);
        m_pProcessingDlg->setObjectName("m_pSensorProcessingDlg");
    }
    m_pProcessingDlg->Reset();
    m_pProcessingDlg->setWindowTitle(QStringLiteral("提示"));
    m_pProcessingDlg->SetText(QStringLiteral("正在处理中，请稍等"));
    m_pProcessingDlg->Start();
    thread->start();
}

void ConfigPageWidget::finishSensorThread(const QString& strResult)
{
    if (m_pProcessingDlg)
        m_pProcessingDlg->Stop();
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), strResult, 0);
}

void ConfigPageWidget::OnIRAYNTCCConfigOKEnd() { finishSensorThread(QStringLiteral("NTCC校正完成")); }
void ConfigPageWidget::OnIRAYNTCCConfigFailEnd() { finishSensorThread(QStringLiteral("NTCC校正失败")); }
void ConfigPageWidget::onShowProcessDialog(const QString& strResult) { finishSensorThread(strResult); }
