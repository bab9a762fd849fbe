#pragma once

#include "CustomModalDialog.h"
#include "SettingsStore.h"

class QLineEdit;

// "数据库": station and operator names and the shared PostgreSQL server of the line
// (empty address: this bench's own file only), kept in the owner-only settings file.
class HistoryDbDialog : public CustomModalDialog {
    Q_OBJECT
public:
    explicit HistoryDbDialog(QWidget* parent = nullptr);
    ~HistoryDbDialog() override;

    SettingsStore::HistorySettings Settings() const { return m_settings; }

public slots:
    void On_OK() override;

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool InitBkgs() override;

private:
    QLineEdit* m_pEdtStation = nullptr;
    QLineEdit* m_pEdtOperator = nullptr;
    QLineEdit* m_pEdtDbHost = nullptr;
    QLineEdit* m_pEdtDbPort = nullptr;
    QLineEdit* m_pEdtDbName = nullptr;
    QLineEdit* m_pEdtDbUser = nullptr;
    QLineEdit* m_pEdtDbPwd = nullptr;
    SettingsStore::HistorySettings m_settings;
};
