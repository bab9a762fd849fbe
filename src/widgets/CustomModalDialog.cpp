#include "CustomModalDialog.h"

#include <QHBoxLayout>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QMutex g_driverLock;
CustomModalDialog::Driver g_driver;

CustomModalDialog::Driver currentDriver()
{
    QMutexLocker lock(&g_driverLock);
    return g_driver;
}
} // namespace

CustomModalDialog::CustomModalDialog(QWidget* parent)
    : CustomDialog(parent)
{
    setModal(true);
    SetTitleButtons(false, false, true);

    m_pButtonBar = new QWidget(this);
    m_pButtonBar->setObjectName("DialogButtonBar");
    m_pButtonRow = new QHBoxLayout(m_pButtonBar);
    m_pButtonRow->setContentsMargins(10, 6, 10, 10);
    m_pButtonRow->addStretch(1);
    m_pBtnOk = new QPushButton(m_pButtonBar);
    m_pBtnOk->setObjectName("m_pBtnOk");
    m_pBtnOk->setDefault(true);
    m_pBtnCancel = new QPushButton(m_pButtonBar);
    m_pBtnCancel->setObjectName("m_pBtnCancel");
    m_pButtonRow->addWidget(m_pBtnOk);
    m_pButtonRow->addWidget(m_pBtnCancel);
    FrameLayout()->addWidget(m_pButtonBar);

    m_pBtnOk->setText(QStringLiteral("确定"));
    m_pBtnCancel->setText(QStringLiteral("取消"));
    // Wired here rather than in ConnectSignals so that a dialog works even when a
    // subclass's set-up stopped early.
    connect(m_pBtnOk, &QPushButton::clicked, this, &CustomModalDialog::On_OK);
    connect(m_pBtnCancel, &QPushButton::clicked, this, &CustomModalDialog::On_Cancel);
}

CustomModalDialog::~CustomModalDialog() = default;

bool CustomModalDialog::SetupUI()
{
    return CustomDialog::SetupUI();
}

bool CustomModalDialog::ReTranslateUI()
{
    if (!CustomDialog::ReTranslateUI())
        return false;
    m_pBtnOk->setText(QStringLiteral("确定"));
    m_pBtnCancel->setText(QStringLiteral("取消"));
    return true;
}

bool CustomModalDialog::ConnectSignals()
{
    return CustomDialog::ConnectSignals();
}

void CustomModalDialog::SetCancelVisible(bool bVisible)
{
    m_pBtnCancel->setVisible(bVisible);
}

int CustomModalDialog::RunModal()
{
    Initialize();
    Driver driver = currentDriver();
    if (!driver)
        return exec();

    setResult(QDialog::Rejected);
    show();
    driver(this);
    if (isVisible())
        reject();
    return result();
}

void CustomModalDialog::setDriver(Driver driver)
{
    QMutexLocker lock(&g_driverLock);
    g_driver = std::move(driver);
}

bool CustomModalDialog::hasDriver()
{
    QMutexLocker lock(&g_driverLock);
    return static_cast<bool>(g_driver);
}
