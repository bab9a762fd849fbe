#pragma once

#include <QGroupBox>
#include <QImage>
#include <QString>

class DetectPageWidget;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
struct QualityRunResult;

// The calibration page's box "质量检验": N frames of a uniform blackbody through the
// core's corrections, the core's bad-pixel table read back, the figures against the
// limits of "设置 > 检验标准", the verdict large, the deviation map and histogram, and
// a PDF report per run. The verdict appears only once the run is in the history.
class QualityGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit QualityGroup(DetectPageWidget* pPage);
    ~QualityGroup() override;

    QString verdictText() const;
    QString reportPath() const { return m_strReport; }
    QString runDir() const { return m_strRunDir; }
    // The pictures of the last judged run (null before one).
    QImage deviationMap() const { return m_imgMap; }
    QImage histogram() const { return m_imgHist; }

public slots:
    void OnBtnQuality();
    // The frame count of "检验标准" (after the dialog changed it).
    void reloadSettings();

private:
    void buildUi();
    void showRunning();
    void showResult(const QualityRunResult& r);
    void showNoVerdict(const QString& caption, const QString& why, const char* colour);
    void writeReport(const QualityRunResult& r, const QList<QPair<QString, QString>>& writes,
                     const QString& writesError);

    DetectPageWidget* m_pPage;
    bool m_bRunning = false;
    QString m_strReport;
    QString m_strRunDir;
    QImage m_imgMap;
    QImage m_imgHist;
    QLineEdit* m_pEdtQualityFrames = nullptr;
    QPushButton* m_pBtnQuality = nullptr;
    QTableWidget* m_pTblQuality = nullptr;
    QLabel* m_pLabQualityVerdict = nullptr;
    QLabel* m_pLabQualityFailed = nullptr;
    QLabel* m_pLabQualityMap = nullptr;
    QLabel* m_pLabQualityHist = nullptr;
    QLabel* m_pLabQualityReport = nullptr;
    QLabel* m_pLabQualityStatus = nullptr;
    QProgressBar* m_pPgbQuality = nullptr;
};
