#include "IrBenchDlg.h"
#include "ProgramStyle.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

int main(int argc, char** argv)
{
    // Texts are UTF-8 literals throughout; no locale codec is involved.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("IrBench"));
    QApplication::setOrganizationName(QStringLiteral("IrBench"));
    installQtTranslations(app);
    ProgramStyle::apply(app);

    IrBenchDlg window;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    IrBenchDlg::ApplyPlacement(&window, available);

    window.Initialize();
    window.show();
    return app.exec();
}
