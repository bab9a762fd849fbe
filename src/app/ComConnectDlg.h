#pragma once

#include "CustomModalDialog.h"

#include <QStringList>
#include <QVariant>

class QComboBox;
class QLabel;

// "串口连接": port and baud rate of a serial connect. The port list holds the serial
// devices the machine has (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) and accepts a typed
// path, such as the pty of the virtual camera. OK emits SigLogin with a ComInfo.
class ComConnectDlg : public CustomModalDialog {
    Q_OBJECT
public:
    explicit ComConnectDlg(QWidget* parent = nullptr);
    ~ComConnectDlg() override;

    // Sets the dialog up (first call only), refreshes the port list keeping the
    // operator's last choice, and shows it without waiting for an answer.
    void ShowRequest();

    QComboBox* PortCombo() const { return m_pCbxPort; }
    QComboBox* BaudCombo() const { return m_pCbxBaud; }

    static QStringList BaudRates();                  // the offered rates, as text
    static int DefaultBaudIndex();                   // "115200"
    // Serial devices under `devDir` (tests point it elsewhere), naturally sorted.
    static QStringList AvailablePorts(const QString& devDir = QStringLiteral("/dev"));

signals:
    void SigLogin(QVariant varInfo);

public slots:
    void OnBtnOk();
    void OnBtnCancel();
    void On_Exit() override;
    void On_OK() override;
    void On_Cancel() override;

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool InitBkgs() override;

private:
    void refreshPorts();

    QLabel* m_pLabPort = nullptr;
    QLabel* m_pLabBaud = nullptr;
    QComboBox* m_pCbxPort = nullptr;
    QComboBox* m_pCbxBaud = nullptr;
};
