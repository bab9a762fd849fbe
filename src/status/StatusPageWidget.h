#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

// Page 0 "状态": identification, version and live status of the connected core, and
// the per-core record files under "module_info/yyyyMMdd/".
class StatusPageWidget : public QWidget {
    Q_OBJECT
public:
    explicit StatusPageWidget(QWidget* parent = nullptr);
    ~StatusPageWidget() override;

    // Called by the main window once identification has finished.
    void showIdentification();
    // Called by the main window on disconnect.
    void clearDisplay();

    QString recordFolder() const;

public slots:
    void onBtnUpdateModuleInfo();
    void onBtnSaveModuleInfo();
    void onBtnGetChkModule();
    void onBtnShowStatusInfo(bool bChecked);
    void onTimerOut();
    void onShowInfo();

private:
    struct Ui;
    Ui* ui;
};
