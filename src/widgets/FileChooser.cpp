#include "FileChooser.h"

#include <QFileDialog>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_providerLock;
std::shared_ptr<FileChooser::Provider> g_provider;

std::shared_ptr<FileChooser::Provider> currentProvider()
{
    QMutexLocker lock(&g_providerLock);
    return g_provider;
}
} // namespace

QString FileChooser::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter)
{
    if (auto p = currentProvider())
        return p->openFile(parent, caption, dir, filter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileChooser::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter)
{
    if (auto p = currentProvider())
        return p->saveFile(parent, caption, dir, filter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString FileChooser::getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    if (auto p = currentProvider())
        return p->folder(parent, caption, dir);
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

void FileChooser::setProvider(std::shared_ptr<Provider> provider)
{
    QMutexLocker lock(&g_providerLock);
    g_provider = std::move(provider);
}
