#pragma once

#include "CalibrationTree.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CNetConnect;
class IFrameSource;
class CPixelDetector;
class CTwoPointNuc;
class DeviceTaskContext;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProcessingDlg;
class QProgressBar;
class QualityGroup;
class QPushButton;
class QTimer;
class StableFpaWidget;
class TempDriftWidget;

// Page 2 "检测" (window title "校正"): calibration workflows of the identified core.
// Two-point correction in three modes, bad-pixel tables from the gains or by the core,
// and the live frame mean. Everything captured or computed goes into the core's
// calibration tree. Device sequences, captures and the gain computation run through
// the device runner: the page is disabled, its progress bar follows, the window keeps
// painting. Its 50 ms refresh timer runs while the stream runs; the main window
// starts and stops it.
class DetectPageWidget : public QWidget {
    Q_OBJECT
public:
    // Modes of m_pCmbSolution.
    enum Solution { SolutionToolV20 = 0, SolutionToolV10 = 1, SolutionCore = 2 };
    // Frame kinds of captureFrames.
    enum FrameKind { FrameLow = 0, FrameHigh = 1, FrameNoShutter = 2 };

    explicit DetectPageWidget(QWidget* parent = nullptr);
    ~DetectPageWidget() override;

    // The logged-in link (stream control, login); it is also the frame source.
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }
    // Where the frames come from (null: no stream).
    void setFrameSource(IFrameSource* pFrames);
    IFrameSource* frameSource() const { return m_pFrames; }
    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }
    CalibrationTree tree() const { return CalibrationTree(m_strSensorId); }

    // Waits 50 ms, then ticks every 50 ms until stopped; a stop during the wait
    // cancels the start.
    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

    // Writes the run the link's frame buffer holds into the directory of `nKind`
    // (low or high set of the selected TEC, or no-shutter base `nBase`), blocking.
    // False without a link or a captured run; remembers the run's width and height.
    bool captureFrames(int nKind, int nBase = 1);
    // Size of the last capture (0 before the first).
    int captureWidth() const { return m_nWidth; }
    int captureHeight() const { return m_nHeight; }
    // The frame mean of the last timer tick, for the video page.
    int frameMean() const { return m_nFrameMean; }
    // The two-point correction of this page (gains readable after a computation).
    const CTwoPointNuc* twoPointNuc() const { return m_pNuc.get(); }
    // For the page's boxes: the TEC range and mode chosen, whether a device is
    // connected, and the size of a capture they made (0 x 0: none, nothing shown).
    int tecIndex() const;
    int solution() const;
    bool deviceConnected() const;
    void showCaptureSize(int nWidth, int nHeight);
    // The boxes "温漂补偿" and "无快门操作".
    TempDriftWidget* tempDriftBox() const { return m_pTempDrift; }
    StableFpaWidget* stableFpaBox() const { return m_pStableFpa; }
    // The box "质量检验".
    QualityGroup* qualityBox() const { return m_pQuality; }

    // Sends this core's "Pixel/FinalPixel.bin" into the core's bad-pixel area on the
    // device runner. `pPage` is disabled meanwhile and `pBar` follows (this page and
    // its bar when null). False when it could not start (no device, no table, busy:
    // each told to the operator); the end is announced by signalPixelTableSent.
    bool SendPixelTable(QWidget* pPage = nullptr, QProgressBar* pBar = nullptr);

signals:
    void signalDriftSamplingStarted();
    void signalDriftSamplingEnd();
    void signalDectBPV30Result(bool bOk);
    void signalPixelTableSent(bool bOk);

public slots:
    void OnPageTimer();
    void OnModifyPara();
    void OnBtnClearLocalData();
    void OnBtnGetLowT();
    void OnBtnGetHighT();
    void OnBtnOneKeyCorrect();
    void OnBtnOneKeyWrite();
    // Waits (bounded) for the core's completion reply of a one-key command.
    void OnSendSetReadCmd();
    void OnBtnDetectBP_V20();
    void OnBtnDetectBP_V30();
    void OnProcessDetectBPV30Result(bool bOk);

private:
    void buildUi();
    void connectSignals();
    // N from "统计帧数", 1..128; tells the operator and gives 0 otherwise.
    int readCaptureCount();
    void collectDetectParams();
    bool requireDevice();
    // Runs a sequence on the device runner with `pPage` (this page when null)
    // disabled and `pBar` following; `done` runs on the GUI thread while the page lives.
    bool runOnPage(std::function<bool(DeviceTaskContext&)> task, std::function<void(bool)> done, QWidget* pPage,
                   QProgressBar* pBar);
    void captureSet(bool bHigh);
    // A command register of the core's own workflow and its bounded completion wait.
    void runCoreStep(int nRegister, int nValue, std::function<void()> onCompleted,
                     std::function<void()> onFailed = {});
    void setSteps(QPushButton* pFinished, QPushButton* pNext);
    void showRepeatStep(bool bCaptureAgain);

    CNetConnect* m_pNet = nullptr;
    IFrameSource* m_pFrames = nullptr;
    QString m_strSensorId;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nFrameMean = 0;
    float m_fBPThreshold = 0.02f;
    std::unique_ptr<CTwoPointNuc> m_pNuc;
    std::unique_ptr<CPixelDetector> m_pDetector;

    QLabel* m_pLabSensorId = nullptr;
    QGroupBox* m_pGBoxPara = nullptr;
    QLineEdit* m_pEdtCapNum = nullptr;
    QLineEdit* m_pEdtWidth = nullptr;
    QLineEdit* m_pEdtHeight = nullptr;
    QLineEdit* m_pEdtFrameAvg = nullptr;
    QLineEdit* m_pEdtBPThreshHold = nullptr;
    QCheckBox* m_pChbModifyPara = nullptr;
    QGroupBox* m_pGBoxCorrect = nullptr;
    QComboBox* m_pCmbSolution = nullptr;
    QComboBox* m_pCmbEnvType = nullptr;
    QPushButton* m_pBtnGetLowT = nullptr;
    QPushButton* m_pBtnGetHighT = nullptr;
    QPushButton* m_pBtnOneKeyCorrect = nullptr;
    QPushButton* m_pBtnOnKeyWrite = nullptr;
    QPushButton* m_pBtnBPDetect_V20 = nullptr;
    QPushButton* m_pBtnBPDetect_V30 = nullptr;
    QPushButton* m_pBtnClearLocal = nullptr;
    QProgressBar* m_pPgbWriteFile = nullptr;
    QProcessingDlg* m_pProcessingDlg = nullptr;
    QTimer* m_pStartDelay = nullptr;
    QTimer* m_pPageTimer = nullptr;
    QTimer* m_pCaptureProgress = nullptr;
    TempDriftWidget* m_pTempDrift = nullptr;
    StableFpaWidget* m_pStableFpa = nullptr;
    QualityGroup* m_pQuality = nullptr;
};
