// The calibration page's "校正操作" box: two-point correction in the page's own modes
// and the core's, the one-key write, bad-pixel detection V20 / V30 and the send-table
// operation the video page shares.
#include "DetectPageWidget.h"

#include "CDevice.h"
#include "CNetConnect.h"
#include "CPageTransferContext.h"
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"
#include "CalibrationSequences.h"
#include "CoreTableTransfer.h"
#include "CustomMessageBox.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "PathText.h"
#include "ProgramStyle.h"
#include "QProcessingDlg.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

namespace {

void info(const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), text, 0);
}

} // namespace

// After a failed correction the guide points at the step to do again and the bar
// no longer shows the failed run's progress.
void DetectPageWidget::showRepeatStep(bool bCaptureAgain)
{
    m_pPgbWriteFile->setValue(0);
    if (!bCaptureAgain) {
        setSteps(nullptr, m_pBtnOneKeyCorrect);
        return;
    }
    for (QPushButton* pButton : {m_pBtnGetHighT, m_pBtnOneKeyCorrect, m_pBtnOnKeyWrite})
        ProgramStyle::setStepState(pButton, ProgramStyle::StepState::Plain);
    setSteps(nullptr, m_pBtnGetLowT);
}

void DetectPageWidget::runCoreStep(int nRegister, int nValue, std::function<void()> onCompleted,
                                   std::function<void()> onFailed)
{
    if (!requireDevice())
        return;
    auto result = std::make_shared<CoreWaitResult>(CoreWaitResult::Cancelled);
    runOnPage(
        [nRegister, nValue, result](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            *result = runCoreCommand(ctx, nRegister, nValue);
            return *result == CoreWaitResult::Completed;
        },
        [result, onCompleted = std::move(onCompleted), onFailed = std::move(onFailed)](bool) {
            if (*result == CoreWaitResult::Completed && onCompleted)
                onCompleted();
            else if (*result != CoreWaitResult::Completed && *result != CoreWaitResult::Cancelled && onFailed)
                onFailed();
        },
        nullptr, nullptr);
}

void DetectPageWidget::OnSendSetReadCmd()
{
    if (!requireDevice())
        return;
    runOnPage(
        [](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return waitCoreCompletion(ctx) == CoreWaitResult::Completed;
        },
        {}, nullptr, nullptr);
}

void DetectPageWidget::OnBtnOneKeyCorrect()
{
    if (solution() == SolutionCore) {
        runCoreStep(corecmd::kOneKeyRegister, tecIndex() + 3,
                    [this] { setSteps(m_pBtnOneKeyCorrect, m_pBtnBPDetect_V20); },
                    [this] { showRepeatStep(false); });
        return;
    }
    if (!m_pNet)
        return;
    const int n = readCaptureCount();
    if (n == 0)
        return;
    const CalibrationTree t = tree();
    const int nTec = tecIndex() + 1;
    GainJob job;
    job.lowDir = t.rawDir(nTec, false);
    job.highDir = t.rawDir(nTec, true);
    job.backupPath = t.pixelBackup();
    job.gainPath = t.gainFile(nTec);
    job.width = m_nWidth;
    job.height = m_nHeight;
    job.count = n;
    // Computed apart and taken over only when the K file is on disk, so the table of
    // "坏点检测" always belongs to the K file last written.
    auto computed = std::make_shared<CTwoPointNuc>();
    auto failure = std::make_shared<GainFailure>(GainFailure::Other);
    runOnPage(
        [job, computed, failure](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return runGainCorrection(ctx, job, computed.get(), failure.get());
        },
        [this, computed, failure, strGain = job.gainPath](bool ok) {
            if (!ok) {
                showRepeatStep(*failure == GainFailure::Captures);
                return;
            }
            *m_pNuc = std::move(*computed);
            info(withFileLine(QStringLiteral("完成校正!"), strGain));
            setSteps(m_pBtnOneKeyCorrect, m_pBtnOnKeyWrite);
        },
        nullptr, m_pPgbWriteFile);
}

void DetectPageWidget::OnBtnOneKeyWrite()
{
    if (!requireDevice())
        return;
    const int nTec = tecIndex();
    const QString strGain = tree().gainFile(nTec + 1);
    const int nSolution = solution();
    auto result = std::make_shared<GainWriteResult>(GainWriteResult::Failed);
    runOnPage(
        [nTec, strGain, result](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            *result = writeGainTableToCore(ctx, nTec, strGain);
            return *result == GainWriteResult::Written;
        },
        [this, result, nSolution](bool) {
            // A missing file or a failed block has been told already; only a whole
            // table in flash counts as written.
            if (*result != GainWriteResult::Written)
                return;
            info(QStringLiteral("写入数据完毕"));
            QPushButton* pNext = nullptr;
            if (nSolution == SolutionToolV10)
                pNext = m_pBtnGetLowT;
            else if (nSolution == SolutionToolV20)
                pNext = m_pBtnBPDetect_V20;
            setSteps(m_pBtnOnKeyWrite, pNext);
        },
        nullptr, m_pPgbWriteFile);
}

void DetectPageWidget::OnBtnDetectBP_V20()
{
    const int nSolution = solution();
    if (nSolution == SolutionCore) {
        runCoreStep(corecmd::kBadPixelRegister, corecmd::kBadPixelDetectValue,
                    [this] { setSteps(m_pBtnBPDetect_V20, m_pBtnGetLowT); });
        return;
    }
    if (nSolution != SolutionToolV20) {
        setSteps(m_pBtnBPDetect_V20, m_pBtnGetLowT);
        return;
    }

    if (m_pNet)
        collectDetectParams();
    const uint16_t* gains = m_pNuc->Gains();
    if (!gains) {
        info(QStringLiteral("尚未计算增益表,请先完成采集低温点、采集高温点和一键校正!"));
        return;
    }
    // The table is built on the gains' own geometry, whatever the stream shows now.
    const int nWidth = int(m_pNuc->width());
    const int nHeight = int(m_pNuc->height());
    if (!CPixelDetector::SizeSupported(nWidth, nHeight)) {
        info(QStringLiteral("图像尺寸 %1x%2 超出坏点检测支持范围(最多 %3 像素)")
                 .arg(nWidth)
                 .arg(nHeight)
                 .arg(CPixelDetector::kMaxPixels));
        return;
    }
    CPixelDetector::Params params;
    params.width = nWidth;
    params.height = nHeight;
    bool ok = false;
    const int nCount = m_pEdtCapNum->text().trimmed().toInt(&ok);
    params.frameCount = ok ? nCount : 0;
    params.frameMean = m_nFrameMean;
    params.threshold = m_fBPThreshold;
    m_pDetector->SetParams(params);

    const QString strTable = tree().pixelTable();
    int nBad = 0;
    switch (writeGainPixelTable(gains, nWidth, nHeight, strTable, &nBad)) {
    case GainTableResult::Written:
        break;
    case GainTableResult::NoGains:
    case GainTableResult::UnsupportedSize:
        return;
    case GainTableResult::WriteFailed:
        info(QStringLiteral("写入文件失败:\n%1").arg(QDir::toNativeSeparators(strTable)));
        return;
    }
    setSteps(m_pBtnBPDetect_V20, m_pBtnGetLowT);
    SendPixelTable();
}

bool DetectPageWidget::SendPixelTable(QWidget* pPage, QProgressBar* pBar)
{
    if (!requireDevice())
        return false;
    const QString strTable = tree().pixelTable();
    if (!QFileInfo(strTable).isFile()) {
        info(QStringLiteral("本地坏点表不存在,请先进行坏点检测!"));
        return false;
    }
    QProgressBar* bar = pBar ? pBar : (pPage ? nullptr : m_pPgbWriteFile);
    return runOnPage(
        [strTable](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return writePixelTableToCore(ctx, strTable);
        },
        [this](bool ok) { emit signalPixelTableSent(ok); }, pPage, bar);
}

void DetectPageWidget::OnBtnDetectBP_V30()
{
    if (!m_pNet || m_pNet->LoginHandle() < 0 || !CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"), 0);
        return;
    }
    m_pProcessingDlg->Reset();
    m_pProcessingDlg->Start();
    auto result = std::make_shared<bool>(false);
    const bool started = runOnPage(
        [result](DeviceTaskContext&) {
            *result = DataExchange::instance()->writeRegister(kBadPixelV30Register, 1);
            return *result;
        },
        // The result reaches the slot through the queued connection of the signal.
        [this, result](bool) { emit signalDectBPV30Result(*result); }, nullptr, nullptr);
    if (!started)
        m_pProcessingDlg->Stop();
}

void DetectPageWidget::OnProcessDetectBPV30Result(bool bOk)
{
    m_pProcessingDlg->Stop();
    info(bOk ? QStringLiteral("坏点检测V30成功") : QStringLiteral("坏点检测V30失败"));
}
