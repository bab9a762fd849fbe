#pragma once

#include "CalibrationRuns.h"

#include <QGroupBox>
#include <QPointer>

#include <atomic>

class CTemperDrift;
class DetectPageWidget;
class QChartView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TempDriftThread;

class QScatterSeries;
class QLineSeries;
class QValueAxis;

// The calibration page's box "温漂补偿": the drift sweep's sampling (TempDriftThread
// mode 0, started by the main window on the page's signalDriftSamplingStarted), the
// fit and the write of the coefficient files with resume ("烧录", mode 1), and the
// curve of the samples' frame means against the FPA with the fitted curve of each
// segment, saved as "drift.png" beside the data.
class TempDriftWidget : public QGroupBox {
    Q_OBJECT
public:
    explicit TempDriftWidget(DetectPageWidget* pPage);
    ~TempDriftWidget() override;

    // Starts the sampling worker of the run that start prepared; false when none is
    // prepared or one runs already.
    bool startSamplingThread();
    bool isSampling() const { return m_bSampling.load(); }
    bool samplerRunning() const { return !m_pSampler.isNull(); }
    bool writerRunning() const { return !m_pWriter.isNull(); }
    CTemperDrift* drift() const { return m_pDrift; }
    QChartView* chartView() const { return m_pChartView; }
    // Where the curve goes: TempDrift/drift.png of the core.
    QString chartFile() const;

public slots:
    void OnBtnTempDriftStart();
    void OnBtnTempDriftStop();
    void OnBtnTempDriftContinueWriteFile();
    void OnWriteTempDriftFileShowLabel(int nWritten, int nTotal);
    void onWriteTempDriftFileFinished();
    void onShowErrMsg(int nCode);

private slots:
    void onSampled(int nNumber, float fTemperature, int nMean);
    void onSamplingFailed(QString strText);
    void onSamplerFinished();
    void onFitDone();

private:
    void buildUi();
    void setIdleControls(bool bIdle);
    void saveChart();

    DetectPageWidget* m_pPage;
    CTemperDrift* m_pDrift;
    std::atomic<bool> m_bSampling{false};
    DriftSamplingJob m_job;
    QPointer<TempDriftThread> m_pSampler;
    QPointer<TempDriftThread> m_pWriter;

    QPushButton* m_pBtnTempDrifStart = nullptr;
    QPushButton* m_pBtnTempDrifStop = nullptr;
    QPushButton* m_pBtnTDContinueWriteFile = nullptr;
    QLineEdit* m_pEdtTempDiff = nullptr;
    QLineEdit* m_pEdtFrameNumOneTime = nullptr;
    QLineEdit* m_pEdtLastTDWriteFileNum = nullptr;
    QLineEdit* m_pEdtLastTDWriteFileTotalNum = nullptr;
    QCheckBox* m_pCBoxClearDataDir = nullptr;
    QLabel* m_pLabWriteFile = nullptr;
    QLabel* m_pLabTDStatus = nullptr;
    QProgressBar* m_pPgbTDWriteFile = nullptr;
    QChartView* m_pChartView = nullptr;
    QScatterSeries* m_pSamples = nullptr;
    QLineSeries* m_pFit[2] = {nullptr, nullptr};
    QValueAxis* m_pAxisX = nullptr;
    QValueAxis* m_pAxisY = nullptr;
};
