#pragma once

#include "CustomModalDialog.h"
#include "SettingsStore.h"

class QComboBox;
class QLabel;
class QLineEdit;

// "网络连接": address, port, user, password, channel and device form of a networked
// camera, filled from the settings store when the dialog is set up.
class NetConnectDialog : public CustomModalDialog {
    Q_OBJECT
public:
    explicit NetConnectDialog(QWidget* parent = nullptr);
    ~NetConnectDialog() override;

    // The six values the dialog last returned: address, user name, password, port,
    // channel and device-form index.
    SettingsStore::NetLogin LoginInfo() const { return m_info; }

public slots:
    void On_OK() override;

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool InitBkgs() override;

private:
    QLabel* m_pLabIp = nullptr;
    QLabel* m_pLabPort = nullptr;
    QLabel* m_pLabUsr = nullptr;
    QLabel* m_pLabPwd = nullptr;
    QLabel* m_pLabChannel = nullptr;
    QLabel* m_pLabPwd_2 = nullptr;
    QLineEdit* m_pEdtIp = nullptr;
    QLineEdit* m_pEdtPort = nullptr;
    QLineEdit* m_pEdtUsr = nullptr;
    QLineEdit* m_pEdtPwd = nullptr;
    QLineEdit* m_pEdtChannel = nullptr;
    QComboBox* m_pCmBxDeviceModu = nullptr;
    SettingsStore::NetLogin m_info;
};
