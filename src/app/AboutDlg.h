#pragma once

#include "CustomModalDialog.h"

class QLabel;

// "版本信息": program version and build date.
class AboutDlg : public CustomModalDialog {
    Q_OBJECT
public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

    // Sets the dialog up on its first showing only, then shows it.
    void ShowRequest();

    static QString Version();   // the project version, e.g. "0.1.0"
    // "Jun 22 2018" (the compiler's date form, one-digit days padded with a space)
    // -> "20180622"; empty when the text has neither 3 nor 4 parts.
    static QString BuildDateStamp(const QString& strDate);
    static QString AboutText();

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
    QLabel* m_pLabIcon = nullptr;
    QLabel* m_pLabText = nullptr;
};
