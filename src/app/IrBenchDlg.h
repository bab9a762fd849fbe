#pragma once

#include "CustomDialog.h"

#include <QRect>
#include <QVariant>

#include <functional>
#include <memory>

class AboutDlg;
class CComConnect;
class CNetConnect;
class ComConnectDlg;
class ConfigPageWidget;
class DetectPageWidget;
class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMenuBar;
class QProgressBar;
class QStackedWidget;
class StatusPageWidget;
class VideoPageWidget;

// The program's single window: menus, page list, the four pages, connect and
// disconnect, and the file tools.
class IrBenchDlg : public CustomDialog {
    Q_OBJECT
public:
    explicit IrBenchDlg(QWidget* parent = nullptr);
    ~IrBenchDlg() override;

    // First size and place: 800 x 600, or the whole available area when that is
    // below 600 pixels in either direction.
    struct Placement {
        bool bFillAvailable = false;
        QRect rect; // fill: the available area; otherwise 800 x 600 centred in it
    };
    static Placement ComputePlacement(const QRect& available);
    static void ApplyPlacement(QWidget* window, const QRect& available);

    // Pages and controls, for the pages' owners and the tests.
    QAction* ActNetConnect() const { return m_pActNetConnect; }
    QAction* ActComConnect() const { return m_pActComConnect; }
    QAction* ActDisconnect() const { return m_pActDisconnect; }
    QAction* ActExit() const { return m_pActExit; }
    QAction* ActGetStream() const { return m_pActGetStream; }
    QAction* ActSensorExcel() const { return m_pActSensorExcel; }
    QAction* ActFileInvert() const { return m_pActFileInvert; }
    QAction* ActFileCrc() const { return m_pActFileCrc; }
    QAction* ActAbout() const { return m_pActAbout; }
    QMenuBar* MenuBar() const { return m_pMenuBar; }
    QListWidget* PageList() const { return m_pLstPages; }
    QStackedWidget* PageStack() const { return m_pStkPages; }
    QLabel* ConnectLabel() const { return m_pLabConnect; }
    QProgressBar* RunProgress() const { return m_pPrgRun; }
    StatusPageWidget* StatusPage() const { return m_pStatusPage; }
    ConfigPageWidget* ConfigPage() const { return m_pConfigPage; }
    DetectPageWidget* DetectPage() const { return m_pDetectPage; }
    VideoPageWidget* VideoPage() const { return m_pVideoPage; }
    ComConnectDlg* ComDialog() const { return m_pComConnectDlg; }
    AboutDlg* AboutDialog() const { return m_pAboutDlg; }
    CNetConnect* NetLink() const { return m_pNetConnect.get(); }
    CComConnect* ComLink() const { return m_pComConnect.get(); }
    int LoginHandle() const { return m_nLoginHandle; }

signals:
    void signalDisConnectPostEvent();

public slots:
    void OnComLogin(QVariant varInfo);
    void OnActionComConnectClicked();
    void OnActionNetConnectClicked();
    void OnActionDisconnectClicked();
    void OnActionExitClicked();
    void OnActionAboutClicked();
    bool OnActionFileByteInvertClicked();
    void OnActionGetStreamClicked(bool bChecked);
    bool OnActionFileCrcClicked();
    void OnChangePage(QListWidgetItem* current, QListWidgetItem* previous);
    void OnChangePage(int nRow);
    void OnClosePageTimerEvent();
    void OnStartPageTimerEvent();
    void OnConnectFinishPostProcess();
    void onSetSensorExcel();

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool ConnectSignals() override;
    bool InitBkgs() override;

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void finishNetLogin(const QString& strIp, int nPort);
    void linkOpened(const QString& strLabel);
    bool startDisconnect(std::function<void()> then);
    void finishDisconnect();
    void startStreamAndTimers();
    CNetConnect* currentNetLink() const;
    bool refuseWhileBusy();

    ComConnectDlg* m_pComConnectDlg = nullptr;
    AboutDlg* m_pAboutDlg = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pMenuCamera = nullptr;
    QMenu* m_pMenuSetting = nullptr;
    QMenu* m_pMenuTool = nullptr;
    QMenu* m_pMenuAbout = nullptr;
    QAction* m_pActNetConnect = nullptr;
    QAction* m_pActComConnect = nullptr;
    QAction* m_pActDisconnect = nullptr;
    QAction* m_pActExit = nullptr;
    QAction* m_pActGetStream = nullptr;
    QAction* m_pActSensorExcel = nullptr;
    QAction* m_pActFileInvert = nullptr;
    QAction* m_pActFileCrc = nullptr;
    QAction* m_pActAbout = nullptr;
    QListWidget* m_pLstPages = nullptr;
    StatusPageWidget* m_pStatusPage = nullptr;
    ConfigPageWidget* m_pConfigPage = nullptr;
    DetectPageWidget* m_pDetectPage = nullptr;
    VideoPageWidget* m_pVideoPage = nullptr;
    QStackedWidget* m_pStkPages = nullptr;
    QLabel* m_pLabConnect = nullptr;
    QWidget* m_pMainArea = nullptr;
    QLabel* m_pLabRunStatus = nullptr;
    QProgressBar* m_pPrgRun = nullptr;
    std::unique_ptr<CNetConnect> m_pNetConnect;
    std::unique_ptr<CComConnect> m_pComConnect;
    int m_nLoginHandle = -1;
    bool m_bCloseReady = false;
};
