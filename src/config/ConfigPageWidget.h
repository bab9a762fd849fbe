#pragma once

#include "LocalCommands.h"

#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>

class CCmdTableWidget;
class CNetConnect;
class DeviceTaskContext;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QProcessingDlg;
class SensorConfigWidget;
class QTabWidget;
class QTextBrowser;

// Page 1 "配置": file writing and read-back, command console and detector
// configuration of the identified core. The main window hands it the network link
// and the sensor ID after identification and clears its history on disconnect.
// Every device sequence runs through the device runner: the page is disabled and the
// progress bar follows while the window keeps painting.
class ConfigPageWidget : public QWidget {
    Q_OBJECT
public:
    explicit ConfigPageWidget(QWidget* parent = nullptr);
    ~ConfigPageWidget() override;

    // Null when the core is reached over a local serial port.
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }
    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }

    // Detector vendor from the core's sensor type code: 0 GWIC, 1 IRAY, 2 PICO,
    // 4 DALI, 5 WY; any other code GWIC.
    static QStringList vendorNames();
    static int vendorIndexFor(int nSensorTypeCode);
    // Also selects the detector configuration panel's vendor page; the operator can
    // change it afterwards.
    void selectVendorPage(int nSensorTypeCode);
    int vendorIndex() const { return m_nVendorIndex; }
    SensorConfigWidget* sensorConfigWidget() const { return m_pSensorConfig; }
    // The PICO initial bad-pixel table file (the vendor workbook import sets it).
    void setInitBPTablePath(const QString& strPath) { m_strInitBPTablePath = strPath; }
    QString initBPTablePath() const { return m_strInitBPTablePath; }

    // On disconnect: forget the frames shown in the command history.
    void clearCmdHistory();

    // Folder of the read-back files ("ReadBackFiles" in the data root).
    static QString readBackFolder();
    // The custom commands as the table holds them, in table order.
    QVector<LocalCmdEntry> customCommands() const;

public slots:
    // File write group.
    void OnWriteTypeChanged(int nIndex);
    void OnScanFile();
    void OnWriteFile();
    // Read-back buttons.
    void On_BtnReadPixel();
    void On_BtnReadOcc1();
    void On_BtnReadOcc2();
    void On_BtnReadOcc3();
    void On_BtnReadOcc4();
    void On_BtnReadK1();
    void On_BtnReadK2();
    void On_BtnReadK3();
    void On_BtnReadK4();
    void On_BtnReadData();
    // OCC corrections.
    void On_BtnDoOcc1();
    void On_BtnDoOcc2();
    void On_BtnDoOcc3();
    void On_BtnDoOcc4();
    // Console.
    void OnBtnSendInput();
    void OnTableDoubleClicked(const QModelIndex& index);
    void OnBtnNewCmd();
    void OnShowRightMenu();
    void OnActionDelList();
    void onShowSendCMDMessage(const QString& strCMD);
    void onShowRecvCMDMessage(const QString& strCMD);
    void onShowDroppedReply(const QString& strCMD, const QString& strReason);
    // Detector configuration panel.
    void onGWICSensorIDWrite();
    void onGWICDataWrite();
    void onGWICMovementTypeWrite();
    void onGWICMovementSerialWrite();
    void onIRAYSensorIDWrite();
    void onIRAYDataWrite();
    void onIRAYMovementTypeWrite();
    void onIRAYMovementSerialWrite();
    void onIRAYVtempWrite();
    void onIRAYNTCC();
    void onPICOSensorIDWrite();
    void onPICOGFidGKSWrite();
    void onPICOMovementTypeWrite();
    void onPICOMovementSerialWrite();
    void onPICOCorrect();
    void onPICOWriteInitBPTable();
    void OnBtnPICOSensorConfig();
    void onDALISensorIDWrite();
    void onDALIVBSWrite();
    void onDALIMovementTypeWrite();
    void onDALIMovementSerialWrite();
    void onDALITINTWrite();
    void onDALIResponseRatioWrite();
    void onDALIAutoCorrect();
    void onDALISITFWrite();
    void onWYSensorIDWrite();
    void onWYDataWrite();
    void onWYMovementTypeWrite();
    void onWYMovementSerialWrite();
    // Results of the detector calibration thread.
    void OnIRAYNTCCConfigFailEnd();
    void OnIRAYNTCCConfigOKEnd();
    void onShowProcessDialog(const QString& strResult);

private:
    bool SetupUI();
    bool ReTranslateUI();
    bool ConnectSignals();
    bool InitBkgs();
    QWidget* SetupFixedCmdTab();
    QWidget* SetupConsole();
    void updateInfo();

    // Runs a device sequence on the runner with the page disabled; false (and a
    // message) when no core is connected or another sequence is running. bProgress:
    // the sequence drives the page's progress bar.
    bool runSequence(const std::function<bool(DeviceTaskContext&)>& task,
                     const std::function<void(bool)>& done, bool bProgress);
    // The same, with the progress shown on `bar` (none when null).
    bool runSequence(const std::function<bool(DeviceTaskContext&)>& task,
                     const std::function<void(bool)>& done, QProgressBar* bar);
    void readBack(int nSelector, const QString& strFileName);
    void doOcc(int n);
    // Console helpers.
    void runCommand(const QString& strAddr, const QString& strValue);
    void appendHistory(const QString& strCMD, bool bSent);
    void appendHistoryLine(const QString& strLine, const QColor& color);
    void saveCustomCommands();
    void addCommandRow(const LocalCmdEntry& entry);
    // Detector configuration: validated here, written on the runner.
    void ConnectSensorSignals();
    void writeSensorItem(int nVendor, int nItem, const QString& strText);
    void startSensorThread(int nMode);
    void finishSensorThread(const QString& strResult);

    CNetConnect* m_pNet = nullptr;
    QString m_strSensorId;
    int m_nVendorIndex = 0;
    QLabel* m_pLabTitle = nullptr;
    QLabel* m_pLabSensorId = nullptr;
    QLabel* m_pLabVendor = nullptr;
    QTabWidget* m_pTabConfig = nullptr;

    // File write group.
    QGroupBox* m_pGbxWriteFile = nullptr;
    QLabel* m_pLabFileType = nullptr;
    QComboBox* m_pCbxWriteType = nullptr;
    QLabel* m_pLabWriteAddr = nullptr;
    QComboBox* m_pCbxWriteAddr = nullptr;
    QLabel* m_pLabFilePath = nullptr;
    QComboBox* m_pCbxFilePath = nullptr;
    QPushButton* m_pBtnScanFile = nullptr;
    QPushButton* m_pBtnWriteFile = nullptr;
    QProgressBar* m_pPgbWriteFile = nullptr;
    // Read-back and OCC buttons.
    QGroupBox* m_pGbxReadBack = nullptr;
    QPushButton* m_pBtnReadOccFromFPGA[4] = {};
    QPushButton* m_pBtnReadkFromFPGA[4] = {};
    QPushButton* m_pBtnReadPixelFromFPGA = nullptr;
    QPushButton* m_pBtnReadCustomDataFromFPGA = nullptr;
    QGroupBox* m_pGbxOcc = nullptr;
    QPushButton* m_pBtnDoOcc[4] = {};
    QLabel* m_pLabOccStatus = nullptr;

    // Console.
    QGroupBox* m_pGbxCustomCmd = nullptr;
    QLabel* m_pLabCmdDesc = nullptr;
    QLabel* m_pLabCmdAddr = nullptr;
    QLabel* m_pLabCmdValue = nullptr;
    QLineEdit* m_pEdtInputCmdDesc = nullptr;
    QLineEdit* m_pEdtInputCmdAddr = nullptr;
    QLineEdit* m_pEdtInputCmdValue = nullptr;
    QPushButton* m_pBtnNewCmd = nullptr;
    QPushButton* m_pBtnSendCmd = nullptr;
    CCmdTableWidget* m_pTabCustomCmd = nullptr;
    QMenu* m_pMenuCmd = nullptr;
    QAction* m_pActDelList = nullptr;
    QGroupBox* m_pGbxCmdHistory = nullptr;
    QTextBrowser* m_pTbrCmdHistory = nullptr;

    SensorConfigWidget* m_pSensorConfig = nullptr;
    QProcessingDlg* m_pProcessingDlg = nullptr;
    QString m_strInitBPTablePath;
};
