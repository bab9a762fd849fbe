#include "ProgramStyle.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QPushButton>
#include <QStyle>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerCompiledResources()
{
    Q_INIT_RESOURCE(irbench);
}

namespace ProgramStyle {

void initResources()
{
    static const bool s_done = [] {
        registerCompiledResources();
        return true;
    }();
    (void)s_done;
}

QString styleSheet()
{
    initResources();
    QFile f(":/Resources/irbench.qss");
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

bool apply(QApplication& app)
{
    initResources();
    // Prefer a font that has the Chinese glyphs; fall back to the platform default.
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Source Han Sans SC", "Noto Sans SC"}) {
        if (families.contains(QString::fromLatin1(name))) {
            QFont font(QString::fromLatin1(name));
            font.setPointSize(10);
            app.setFont(font);
            break;
        }
    }
    const QString qss = styleSheet();
    if (qss.isEmpty())
        return false;
    app.setStyleSheet(qss);
    return true;
}

void setStepState(QPushButton* button, StepState state)
{
    if (!button)
        return;
    const char* value = state == StepState::Next ? "next" : (state == StepState::Finished ? "finished" : "");
    button->setProperty("step", QString::fromLatin1(value));
    button->style()->unpolish(button);
    button->style()->polish(button);
    button->update();
}

StepState stepState(const QPushButton* button)
{
    if (!button)
        return StepState::Plain;
    const QString value = button->property("step").toString();
    if (value == QLatin1String("next"))
        return StepState::Next;
    if (value == QLatin1String("finished"))
        return StepState::Finished;
    return StepState::Plain;
}

} // namespace ProgramStyle
