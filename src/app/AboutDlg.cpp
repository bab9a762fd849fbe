#include "AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMap>
#include <QPushButton>

#ifndef IRBENCH_VERSION
#define IRBENCH_VERSION "0.0.0"
#endif

AboutDlg::AboutDlg(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("AboutDlg");
}

AboutDlg::~AboutDlg() = default;

QString AboutDlg::Version()
{
    return QStringLiteral(IRBENCH_VERSION);
}

QString AboutDlg::BuildDateStamp(const QString& strDate)
{
    const QStringList parts = strDate.split(' ', Qt::SkipEmptyParts);
    if (parts.size() != 3 && parts.size() != 4)
        return QString();
    static const QMap<QString, QString> months = {
        {"Jan", "01"}, {"Feb", "02"}, {"Mar", "03"}, {"Apr", "04"}, {"May", "05"}, {"Jun", "06"},
        {"Jul", "07"}, {"Aug", "08"}, {"Sep", "09"}, {"Oct", "10"}, {"Nov", "11"}, {"Dec", "12"},
    };
    const QString month = months.value(parts.first(), parts.first());
    QString day = parts.at(parts.size() - 2);
    if (day.size() == 1)
        day.prepend('0');
    return parts.last() + month + day;
}

QString AboutDlg::AboutText()
{
    return QStringLiteral("IrBench\n热像机芯配置与标定\n版本：V%1\n编译日期：%2")
        .arg(Version(), BuildDateStamp(QStringLiteral(__DATE__)));
}

bool AboutDlg::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    m_pLabIcon = new QLabel(ContentWidget());
    m_pLabIcon->setObjectName("LabIcon");
    m_pLabIcon->setFixedSize(75, 75);
    m_pLabText = new QLabel(ContentWidget());
    m_pLabText->setObjectName("LabText");
    m_pLabText->setWordWrap(true);
    auto* layout = new QHBoxLayout(ContentWidget());
    layout->setContentsMargins(12, 4, 12, 2);
    layout->setSpacing(12);
    layout->addWidget(m_pLabIcon);
    layout->addWidget(m_pLabText, 1);
    return true;
}

bool AboutDlg::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    SetTitleText(QStringLiteral("版本信息"));
    m_pLabText->setText(AboutText());
    return true;
}

bool AboutDlg::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    m_pLabIcon->setStyleSheet(QStringLiteral("#LabIcon{image: url(:/Resources/camera1.png);}"));
    SetCancelVisible(false);
    // Icon, text and the OK button within the dialog's 150 pixels.
    ButtonRow()->setContentsMargins(10, 0, 10, 4);
    setWindowModality(Qt::ApplicationModal);
    resize(300, 150);
    return true;
}

void AboutDlg::ShowRequest()
{
    Initialize();
    show();
    raise();
    activateWindow();
}

void AboutDlg::OnBtnOk()
{
    accept();
}

void AboutDlg::OnBtnCancel()
{
    reject();
}

void AboutDlg::On_Exit()
{
    OnBtnCancel();
}

void AboutDlg::On_OK()
{
    OnBtnOk();
}

void AboutDlg::On_Cancel()
{
    OnBtnCancel();
}
