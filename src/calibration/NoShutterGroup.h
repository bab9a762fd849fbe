#pragma once

#include <QGroupBox>

#include <functional>

class DetectPageWidget;
class DeviceTaskContext;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The calibration page's box "本底写入": the no-shutter base ("获取本底") under one of
// twenty base numbers, the NVFFC model of the selected TEC range in the page's mode,
// and the file sender (any local file of a chosen kind to a chosen flash area).
// Captures, computations and transfers run on the device runner: the page is
// disabled, the box's bar and status follow, the window keeps painting.
class NoShutterGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit NoShutterGroup(DetectPageWidget* pPage);

    QString statusText() const;

public slots:
    void OnBtnGetBase();
    void OnBtnGetNVFFC();
    void OnSetFileType(int nKind);
    void OnBtnScanFile();
    void OnBtnSendFile();

private:
    void buildUi();
    bool requireDevice();
    // Runs `task` with the page disabled and this box's bar following; `done` on the
    // GUI thread while the box lives.
    void run(std::function<bool(DeviceTaskContext&)> task, std::function<void(bool)> done);

    DetectPageWidget* m_pPage;
    bool m_bRunning = false;
    QPushButton* m_pBtnGetBase = nullptr;
    QComboBox* m_pCmbFlashAdd = nullptr;
    QLabel* m_pLabBaseGetInfo = nullptr;
    QPushButton* m_pBtnGetNVFFC = nullptr;
    QComboBox* m_pCbxFileType = nullptr;
    QComboBox* m_pCbxNucAddress = nullptr;
    QLineEdit* m_pEdtOtherAddr = nullptr;
    QLineEdit* m_pEdtNUCLocalFilePath = nullptr;
    QPushButton* m_pBtnScanFile = nullptr;
    QPushButton* m_pBtnSendFile = nullptr;
    QProgressBar* m_pPgbSend = nullptr;
    QLabel* m_pLabStatus = nullptr;
};
