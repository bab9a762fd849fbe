#include "CustomDialog.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QSizeGrip>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

CustomDialog::CustomDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinMaxButtonsHint)
{
    setObjectName("CustomDialog");
    setAttribute(Qt::WA_StyledBackground, true);

    m_pFrameLayout = new QVBoxLayout(this);
    m_pFrameLayout->setContentsMargins(1, 1, 1, 1);
    m_pFrameLayout->setSpacing(0);

    m_pTitleBar = new QWidget(this);
    m_pTitleBar->setObjectName("TitleBar");
    m_pTitleBar->setAttribute(Qt::WA_StyledBackground, true);
    m_pTitleBar->setFixedHeight(30);
    m_pTitleBar->installEventFilter(this);

    m_pLabTitleIcon = new QLabel(m_pTitleBar);
    m_pLabTitleIcon->setObjectName("TitleIcon");
    m_pLabTitleIcon->hide();
    m_pLabTitleText = new QLabel(m_pTitleBar);
    m_pLabTitleText->setObjectName("TitleText");
    m_pLabTitleText->installEventFilter(this);

    auto makeButton = [this](const char* name, const QString& tip) {
        auto* btn = new QPushButton(m_pTitleBar);
        btn->setObjectName(name);
        btn->setFixedSize(30, 24);
        btn->setFocusPolicy(Qt::NoFocus);
        btn->setToolTip(tip);
        return btn;
    };
    m_pBtnMin = makeButton("TitleBtnMin", QStringLiteral("最小化"));
    m_pBtnMax = makeButton("TitleBtnMax", QStringLiteral("最大化"));
    m_pBtnClose = makeButton("TitleBtnClose", QStringLiteral("关闭"));

    auto* titleLayout = new QHBoxLayout(m_pTitleBar);
    titleLayout->setContentsMargins(8, 0, 4, 0);
    titleLayout->setSpacing(6);
    titleLayout->addWidget(m_pLabTitleIcon);
    titleLayout->addWidget(m_pLabTitleText, 1);
    titleLayout->addWidget(m_pBtnMin);
    titleLayout->addWidget(m_pBtnMax);
    titleLayout->addWidget(m_pBtnClose);

    m_pContent = new QWidget(this);
    m_pContent->setObjectName("DialogContent");

    m_pFrameLayout->addWidget(m_pTitleBar);
    m_pFrameLayout->addWidget(m_pContent, 1);

    m_pSizeGrip = new QSizeGrip(this);
    m_pSizeGrip->setFixedSize(12, 12);
    m_pSizeGrip->hide();

    // The title-bar buttons work from construction on, whatever the subclass does.
    connect(m_pBtnMin, &QPushButton::clicked, this, &CustomDialog::On_Minimize);
    connect(m_pBtnMax, &QPushButton::clicked, this, &CustomDialog::On_MaxRestore);
    connect(m_pBtnClose, &QPushButton::clicked, this, &CustomDialog::On_Exit);
    updateMaxButton();
}

CustomDialog::~CustomDialog() = default;

bool CustomDialog::Initialize()
{
    if (m_bInitialized)
        return m_bInitResult;
    m_bInitialized = true;
    m_bInitResult = SetupUI() && ReTranslateUI() && ConnectSignals() && InitBkgs();
    return m_bInitResult;
}

bool CustomDialog::SetupUI()
{
    return true;
}

bool CustomDialog::ReTranslateUI()
{
    return true;
}

bool CustomDialog::ConnectSignals()
{
    return true;
}

bool CustomDialog::InitBkgs()
{
    return true;
}

void CustomDialog::SetTitleText(const QString& strText)
{
    m_pLabTitleText->setText(strText);
    setWindowTitle(strText);
}

QString CustomDialog::TitleText() const
{
    return m_pLabTitleText->text();
}

void CustomDialog::SetTitleIcon(const QString& strResource, const QSize& size)
{
    QPixmap pix(strResource);
    if (pix.isNull()) {
        m_pLabTitleIcon->hide();
        return;
    }
    m_pLabTitleIcon->setPixmap(pix.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_pLabTitleIcon->setFixedSize(size);
    m_pLabTitleIcon->show();
}

void CustomDialog::SetTitleButtons(bool bMin, bool bMax, bool bClose)
{
    m_pBtnMin->setVisible(bMin);
    m_pBtnMax->setVisible(bMax);
    m_pBtnClose->setVisible(bClose);
}

void CustomDialog::SetResizable(bool bResizable)
{
    m_pSizeGrip->setVisible(bResizable);
    if (bResizable)
        m_pSizeGrip->raise();
}

void CustomDialog::On_OK()
{
    accept();
}

void CustomDialog::On_Cancel()
{
    reject();
}

void CustomDialog::On_Apply()
{
}

void CustomDialog::On_Minimize()
{
    showMinimized();
}

void CustomDialog::On_MaxRestore()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
    updateMaxButton();
}

void CustomDialog::On_Exit()
{
    On_Cancel();
}

void CustomDialog::updateMaxButton()
{
    const bool bMax = isMaximized();
    m_pBtnMax->setProperty("windowMaximized", bMax);
    m_pBtnMax->setToolTip(bMax ? QStringLiteral("还原") : QStringLiteral("最大化"));
    // Re-evaluate the style sheet's [windowMaximized="true"] rule.
    m_pBtnMax->style()->unpolish(m_pBtnMax);
    m_pBtnMax->style()->polish(m_pBtnMax);
}

void CustomDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange)
        updateMaxButton();
    QDialog::changeEvent(event);
}

void CustomDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_pSizeGrip->move(width() - m_pSizeGrip->width() - 1, height() - m_pSizeGrip->height() - 1);
}

bool CustomDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_pTitleBar && watched != m_pLabTitleText)
        return QDialog::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (m_pBtnMax->isVisible()) {
            On_MaxRestore();
            return true;
        }
        break;
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton || isMaximized())
            break;
        // Let the window manager move the window where it can; otherwise move it
        // ourselves while the button is held.
        if (windowHandle() && windowHandle()->startSystemMove())
            return true;
        m_bDragging = true;
        m_dragOffset = me->globalPosition().toPoint() - frameGeometry().topLeft();
        return true;
    }
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (m_bDragging && (me->buttons() & Qt::LeftButton)) {
            move(me->globalPosition().toPoint() - m_dragOffset);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (m_bDragging) {
            m_bDragging = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
