#pragma once

#include <QDialog>
#include <QPoint>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QSizeGrip;
class QVBoxLayout;
class QWidget;

// Frameless window with its own title bar (icon, title text, minimise,
// maximise/restore, close) that can be dragged by the title bar. Subclasses build
// themselves in four steps, each calling the base version first and returning a
// success flag: SetupUI (widgets), ReTranslateUI (texts), ConnectSignals, InitBkgs
// (icons and initial state). Initialize() runs the steps once.
class CustomDialog : public QDialog {
    Q_OBJECT
public:
    explicit CustomDialog(QWidget* parent = nullptr);
    ~CustomDialog() override;

    // Runs the four set-up steps on the first call only; stops at the first that
    // fails. Later calls return the first call's outcome.
    bool Initialize();
    bool IsInitialized() const { return m_bInitialized; }

    void SetTitleText(const QString& strText);
    QString TitleText() const;
    void SetTitleIcon(const QString& strResource, const QSize& size);
    // Which title-bar buttons are shown (all three by default).
    void SetTitleButtons(bool bMin, bool bMax, bool bClose);

    // The area below the title bar; subclasses put their layout here.
    QWidget* ContentWidget() const { return m_pContent; }
    QWidget* TitleBar() const { return m_pTitleBar; }

    // Frameless windows cannot be resized by the window manager's border; a size
    // grip in the bottom-right corner does it instead (off by default).
    void SetResizable(bool bResizable);

public slots:
    virtual void On_OK();
    virtual void On_Cancel();
    virtual void On_Apply();
    void On_Minimize();
    void On_MaxRestore();
    // Title-bar close button; behaves like Cancel unless overridden.
    virtual void On_Exit();

protected:
    virtual bool SetupUI();
    virtual bool ReTranslateUI();
    virtual bool ConnectSignals();
    virtual bool InitBkgs();

    // Title bar, content, and whatever subclasses append below the content.
    QVBoxLayout* FrameLayout() const { return m_pFrameLayout; }

    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMaxButton();

    QVBoxLayout* m_pFrameLayout = nullptr;
    QWidget* m_pTitleBar = nullptr;
    QLabel* m_pLabTitleIcon = nullptr;
    QLabel* m_pLabTitleText = nullptr;
    QPushButton* m_pBtnMin = nullptr;
    QPushButton* m_pBtnMax = nullptr;
    QPushButton* m_pBtnClose = nullptr;
    QWidget* m_pContent = nullptr;
    QSizeGrip* m_pSizeGrip = nullptr;

    bool m_bInitialized = false;
    bool m_bInitResult = false;
    bool m_bDragging = false;
    QPoint m_dragOffset;
};
