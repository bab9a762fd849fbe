#pragma once

#include <QString>
#include <memory>

class QWidget;

// File and folder choosers: the real dialogs by default; tests install a provider
// that answers with prepared paths.
class FileChooser {
public:
    class Provider {
    public:
        virtual ~Provider() = default;
        virtual QString openFile(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) = 0;
        virtual QString saveFile(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) = 0;
        virtual QString folder(QWidget* parent, const QString& caption, const QString& dir) = 0;
    };

    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir = QString(),
                                   const QString& filter = QString());
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir = QString(),
                                   const QString& filter = QString());
    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir = QString());

    static void setProvider(std::shared_ptr<Provider> provider); // null: real dialogs
};
