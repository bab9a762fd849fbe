#include "TestSupport.h"

#include "CComonFun.h"

#include <QFile>
#include <QTemporaryDir>

namespace irtest {

ScopedDataRoot::ScopedDataRoot()
    : m_dir(std::make_unique<QTemporaryDir>())
    , m_previous(CComonFun::dataRoot())
{
    CComonFun::setDataRoot(m_dir->path());
}

ScopedDataRoot::~ScopedDataRoot()
{
    CComonFun::setDataRoot(m_previous);
}

QString ScopedDataRoot::path() const
{
    return m_dir->path();
}

QString ScopedDataRoot::file(const QString& name) const
{
    return m_dir->path() + "/" + name;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray fromHex(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}

} // namespace irtest
