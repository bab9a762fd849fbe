#pragma once

#include "CustomModalDialog.h"
#include "SpecSheet.h"

#include <QFutureWatcher>
#include <QString>

#include <atomic>
#include <memory>

class ConfigPageWidget;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextBrowser;

// "机芯规格书配置": the operator picks the folder of the vendors' datasheets; the
// dialog finds the connected core's workbook by sensor ID (the last match in the walk
// wins), reads its parameters and initial bad-pixel list and writes the table file.
// Search and parse run on the thread pool; closing the dialog cancels them. After it
// closes the main window hands the results to the configuration page (handOver).
class SensorExcelSettingDlg : public CustomModalDialog {
    Q_OBJECT
public:
    explicit SensorExcelSettingDlg(QWidget* parent = nullptr);
    ~SensorExcelSettingDlg() override;

    // Forgets the results of an earlier opening (each opening hands over only what
    // its own parse produced) and stops any work still running.
    void resetResults();
    void cancelWork();
    bool isBusy() const { return m_bBusy; }

    // The results of the last finished parse; empty when it failed or none ran.
    bool hasResults() const { return m_bResults; }
    QString excelPath() const { return m_strExcelPath; }
    QString outputPath() const { return m_strOutputPath; }
    const specsheet::Values& values() const { return m_result.values; }
    QString gfidGsk() const { return m_result.values.gfidGsk; }
    QString logText() const { return m_strLog; }
    QString lastDirectory() const { return m_strLastDir; }

    // Puts the results into the detector configuration panel: sensor type code 4 the
    // three DALI fields, core class 1 to 4 the PICO GFid/GSK field, both the initial
    // bad-pixel table path. Fields a parse did not read are left as they are. False
    // when there was nothing to hand over.
    bool handOver(ConfigPageWidget* page, int sensorTypeCode, int coreClass) const;

signals:
    void signalShowBrowserText(const QString& strText);

public slots:
    void onBrowseFile();
    void onExcelParseFinished();

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool ConnectSignals() override;
    bool InitBkgs() override;
    void done(int r) override;

private slots:
    void onSearchFinished();
    void onAppendText(const QString& strText);

private:
    void setBusy(bool bBusy);
    void setLog(const QString& strText);

    QLabel* m_pLabExcelPath = nullptr;
    QLineEdit* m_pEdtExcelPath = nullptr;   // "lineEditExcelPath"
    QPushButton* m_pBtnBrowser = nullptr;   // "btnBrowser"
    QTextBrowser* m_pTbrLog = nullptr;      // "textBrowser"
    QProgressBar* m_pPrgBusy = nullptr;

    QFutureWatcher<specsheet::SearchResult> m_searchWatcher;
    QFutureWatcher<specsheet::Result> m_parseWatcher;
    std::shared_ptr<std::atomic<bool>> m_pCancel;
    bool m_bBusy = false;

    QString m_strLastDir;
    QString m_strSensorId;
    QString m_strExcelPath;
    QString m_strOutputPath;
    QString m_strLog;
    bool m_bResults = false;
    specsheet::Result m_result;
};
