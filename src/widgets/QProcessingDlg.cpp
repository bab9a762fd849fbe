#include "QProcessingDlg.h"

#include <QLabel>
#include <QMovie>
#include <QVBoxLayout>

namespace {
const char* const kDefaultText = "正在处理,请稍候...";
}

QProcessingDlg::QProcessingDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("QProcessingDlg");
    setModal(false);
    setWindowModality(Qt::NonModal);
    setWindowTitle(QStringLiteral("处理中"));
    m_pMovie = new QMovie(QStringLiteral(":/Resources/processing.gif"), QByteArray(), this);
    m_pLabMovie = new QLabel(this);
    m_pLabMovie->setObjectName("m_pLabMovie");
    m_pLabMovie->setAlignment(Qt::AlignCenter);
    m_pLabMovie->setMovie(m_pMovie);
    m_pLabText = new QLabel(this);
    m_pLabText->setObjectName("m_pLabText");
    m_pLabText->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(m_pLabMovie);
    layout->addWidget(m_pLabText);
    Reset();
}

QProcessingDlg::~QProcessingDlg() = default;

void QProcessingDlg::Reset()
{
    m_pMovie->stop();
    m_pMovie->jumpToFrame(0);
    m_pLabText->setText(QString::fromUtf8(kDefaultText));
}

void QProcessingDlg::SetText(const QString& strText)
{
    m_pLabText->setText(strText);
}

QString QProcessingDlg::Text() const
{
    return m_pLabText->text();
}

void QProcessingDlg::Start()
{
    show();
    raise();
    m_pMovie->start();
}

void QProcessingDlg::Stop()
{
    m_pMovie->stop();
    hide();
}

bool QProcessingDlg::IsAnimating() const
{
    return m_pMovie->state() == QMovie::Running;
}

void QProcessingDlg::reject()
{
    // Escape must not hide the window while the core is still working.
}
