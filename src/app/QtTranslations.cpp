#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations(QCoreApplication& app)
{
    // Owned by the application: it must outlive every dialog.
    auto* translator = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), dir)) {
        delete translator;
        return false;
    }
    // Dates and sizes in the choosers follow the texts.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return QCoreApplication::installTranslator(translator);
}
