#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QTemporaryDir;

namespace irtest {

// A fresh temporary folder made the data root for the lifetime of the object.
class ScopedDataRoot {
public:
    ScopedDataRoot();
    ~ScopedDataRoot();
    QString path() const;
    QString file(const QString& name) const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previous;
};

QByteArray readAll(const QString& path);
QByteArray fromHex(const char* hex);

} // namespace irtest
