#pragma once

#include "CustomDialog.h"

#include <functional>

class QHBoxLayout;
class QPushButton;

// Modal variant of CustomDialog with an OK and a Cancel button under the content.
// OK calls On_OK() (accepts), Cancel and the title-bar close call On_Cancel()
// (rejects). RunModal() runs the dialog modally; tests install a driver that fills
// and answers the dialog instead of a modal loop, so no test ever blocks.
class CustomModalDialog : public CustomDialog {
    Q_OBJECT
public:
    explicit CustomModalDialog(QWidget* parent = nullptr);
    ~CustomModalDialog() override;

    // Initialises (first call only) and runs the dialog; returns QDialog::Accepted
    // or QDialog::Rejected.
    int RunModal();

    QPushButton* OkButton() const { return m_pBtnOk; }
    QPushButton* CancelButton() const { return m_pBtnCancel; }
    // Hides the Cancel button (message boxes with OK only).
    void SetCancelVisible(bool bVisible);

    // The driver is called with the shown dialog instead of a modal loop; it may
    // edit fields and click the buttons. A dialog it leaves open counts as
    // cancelled. An empty driver restores real modal loops.
    using Driver = std::function<void(CustomModalDialog* dialog)>;
    static void setDriver(Driver driver);
    static bool hasDriver();

protected:
    bool SetupUI() override;
    bool ReTranslateUI() override;
    bool ConnectSignals() override;

    // Layout under the content area that holds the buttons (right-aligned).
    QHBoxLayout* ButtonRow() const { return m_pButtonRow; }

private:
    QWidget* m_pButtonBar = nullptr;
    QHBoxLayout* m_pButtonRow = nullptr;
    QPushButton* m_pBtnOk = nullptr;
    QPushButton* m_pBtnCancel = nullptr;
};
