#include "CustomMessageBox.h"

#include "CustomModalDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

namespace {

QMutex g_sinkLock;
CustomMessageBox::Sink g_sink;

// The modal box itself: an icon chosen by the title, the word-wrapped text, OK and
// (style 1) Cancel.
class MessageBoxDialog : public CustomModalDialog {
public:
    MessageBoxDialog(QWidget* parent, const QString& title, const QString& text, int style)
        : CustomModalDialog(parent)
        , m_title(title)
        , m_text(text)
        , m_style(style)
    {
        setObjectName("CustomMessageBox");
    }

protected:
    bool SetupUI() override
    {
        if (!CustomModalDialog::SetupUI())
            return false;
        m_pLabIcon = new QLabel(ContentWidget());
        m_pLabIcon->setObjectName("MsgIcon");
        m_pLabText = new QLabel(ContentWidget());
        m_pLabText->setObjectName("MsgText");
        m_pLabText->setWordWrap(true);
        m_pLabText->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_pLabText->setMinimumWidth(220);
        auto* layout = new QHBoxLayout(ContentWidget());
        layout->setContentsMargins(16, 16, 16, 8);
        layout->setSpacing(12);
        layout->addWidget(m_pLabIcon, 0, Qt::AlignTop);
        layout->addWidget(m_pLabText, 1);
        return true;
    }

    bool ReTranslateUI() override
    {
        if (!CustomModalDialog::ReTranslateUI())
            return false;
        SetTitleText(m_title);
        m_pLabText->setText(m_text);
        // A line naming a file should not break at every "/": as wide as the longest
        // line, up to a width that still fits a small screen.
        int nWidest = 0;
        m_pLabText->ensurePolished(); // the style sheet's font
        const QFontMetrics fm(m_pLabText->font());
        for (const QString& line : m_text.split(QLatin1Char('\n')))
            nWidest = qMax(nWidest, fm.horizontalAdvance(line) + 8);
        m_pLabText->setMinimumWidth(qBound(220, nWidest, 520));
        return true;
    }

    bool InitBkgs() override
    {
        if (!CustomModalDialog::InitBkgs())
            return false;
        QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
        if (m_title == QStringLiteral("警告"))
            icon = QStyle::SP_MessageBoxWarning;
        else if (m_title == QStringLiteral("错误"))
            icon = QStyle::SP_MessageBoxCritical;
        else if (m_style == 1)
            icon = QStyle::SP_MessageBoxQuestion;
        m_pLabIcon->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
        SetCancelVisible(m_style == 1);
        setMinimumWidth(300);
        adjustSize();
        return true;
    }

private:
    QString m_title;
    QString m_text;
    int m_style;
    QLabel* m_pLabIcon = nullptr;
    QLabel* m_pLabText = nullptr;
};

int showOnGuiThread(QWidget* parent, const QString& title, const QString& text, int style)
{
    MessageBoxDialog box(parent, title, text, style);
    return box.RunModal() == QDialog::Accepted ? 1 : 0;
}

} // namespace

int CustomMessageBox::MsgBox(QWidget* parent, const QString& title, const QString& text, int style)
{
    {
        // The sink answers on the caller's thread; calls are serialised so a test's
        // recorder needs no lock of its own.
        QMutexLocker lock(&g_sinkLock);
        if (g_sink)
            return g_sink(title, text, style);
    }

    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app))
        return 0; // no GUI to show it on: answer Cancel rather than hang

    if (QThread::currentThread() == app->thread())
        return showOnGuiThread(parent, title, text, style);

    // From a worker: hand the box to the GUI thread and wait for the answer. The
    // parent belongs to the GUI thread and is not touched here.
    int answer = 0;
    QMetaObject::invokeMethod(
        app, [&]() { answer = showOnGuiThread(nullptr, title, text, style); },
        Qt::BlockingQueuedConnection);
    return answer;
}

void CustomMessageBox::setSink(Sink sink)
{
    QMutexLocker lock(&g_sinkLock);
    g_sink = std::move(sink);
}
