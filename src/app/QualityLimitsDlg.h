#pragma once

#include "CustomModalDialog.h"
#include "QualityFigures.h"

class QLineEdit;
class QMenu;
class QWidget;

// "检验标准": the limits the acceptance check judges a core against and its default
// frame count, kept in the settings file. Every run stores the limits it used, so a
// change here never rewrites an earlier verdict.
class QualityLimitsDlg : public CustomModalDialog {
    Q_OBJECT
public:
    explicit QualityLimitsDlg(QWidget* parent = nullptr);
    ~QualityLimitsDlg() override;

    QualityLimits Limits() const { return m_limits; }
    int Frames() const { return m_nFrames; }

public slots:
    void On_OK() override;
    void OnBtnDefaults();

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool InitBkgs() override;

private:
    void showLimits(const QualityLimits& limits, int frames);

    QLineEdit* m_pEdtNonuniformity = nullptr;
    QLineEdit* m_pEdtCorrectability = nullptr;
    QLineEdit* m_pEdtOperability = nullptr;
    QLineEdit* m_pEdtCluster = nullptr;
    QLineEdit* m_pEdtOutliers = nullptr;
    QLineEdit* m_pEdtNoise = nullptr;
    QLineEdit* m_pEdtFrames = nullptr;
    QualityLimits m_limits;
    int m_nFrames = 16;
};

// "检验标准…" in the settings menu; after a change the calibration page's "质量检验"
// boxes under `window` take the new frame count.
void addQualityLimitsAction(QMenu* settingsMenu, QWidget* window);
