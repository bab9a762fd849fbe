#pragma once

#include "CalibrationRuns.h"

#include <QGroupBox>
#include <QPointer>

#include <atomic>

class DetectPageWidget;
class QChartView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;
class TempJudgeStableThread;

// The calibration page's box "无快门操作": the stabilisation run ("开始判稳" /
// "停止判稳") on its worker TempJudgeStableThread, and the curve of the FPA over time
// with the collections marked, saved as "stable.png" beside the data. The
// confirmation dialog of a stable FPA is not offered: nothing in the run asks for it.
class StableFpaWidget : public QGroupBox {
    Q_OBJECT
public:
    explicit StableFpaWidget(DetectPageWidget* pPage);
    ~StableFpaWidget() override;

    bool isRunning() const { return m_bRunning.load(); }
    bool workerRunning() const { return !m_pWorker.isNull(); }
    QChartView* chartView() const { return m_pChartView; }
    QString chartFile() const; // StableFPA/stable.png of the core

public slots:
    void OnBtnJudgeStable();

private slots:
    void onWatched(double dSeconds, double dFpa);
    void onCollected(int nNumber, double dFpa, int nMean);
    void onNextNumber(int nNext);
    void onWarning(QString strText);
    void onFailed(QString strText);
    void onWorkerFinished();

private:
    void setRunningControls(bool bRunning);
    void stopRun();

    DetectPageWidget* m_pPage;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bJudging{true};
    int m_nNextNumber = 0;
    QPointer<TempJudgeStableThread> m_pWorker;

    QPushButton* m_pBtnJudgeStableBegin = nullptr;
    QLineEdit* m_pEdtBeginFPAVal = nullptr;
    QLineEdit* m_pEdtSampingNumVal = nullptr;
    QLineEdit* m_pEdtStableDiff = nullptr;
    QCheckBox* m_pCBoxStableClearDataDir = nullptr;
    QLabel* m_pLabStableStatus = nullptr;
    QChartView* m_pChartView = nullptr;
    QLineSeries* m_pFpa = nullptr;
    QScatterSeries* m_pCollections = nullptr;
    QValueAxis* m_pAxisX = nullptr;
    QValueAxis* m_pAxisY = nullptr;
};
