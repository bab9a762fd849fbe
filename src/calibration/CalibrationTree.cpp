#include "CalibrationTree.h"

#include "CComonFun.h"

CalibrationTree::CalibrationTree(const QString& sensorId)
    : m_core(CComonFun::dataRoot() + QLatin1Char('/') + CComonFun::sanitizeName(sensorId))
{
}

QString CalibrationTree::rawDir(int tecN, bool high) const
{
    return QStringLiteral("%1/%2/%3").arg(rawRoot()).arg(tecN).arg(high ? QStringLiteral("HighFrame")
                                                                        : QStringLiteral("LowFrame"));
}

QString CalibrationTree::rawRoot() const { return m_core + QStringLiteral("/Raw"); }
QString CalibrationTree::compensateRoot() const { return m_core + QStringLiteral("/Compensate"); }
QString CalibrationTree::noShutterDir() const { return m_core + QStringLiteral("/noshutter"); }
QString CalibrationTree::noShutterBaseDir(int base) const
{
    return noShutterDir() + QLatin1Char('/') + QString::number(base);
}
QString CalibrationTree::nucDir() const { return m_core + QStringLiteral("/NUC"); }
QString CalibrationTree::gainFile(int tecN) const { return nucDir() + QStringLiteral("/K%1.bin").arg(tecN); }
QString CalibrationTree::pixelDir() const { return m_core + QStringLiteral("/Pixel"); }
QString CalibrationTree::pixelTable() const { return pixelDir() + QStringLiteral("/FinalPixel.bin"); }
QString CalibrationTree::pixelBackup() const { return pixelDir() + QStringLiteral("/FinalPixel.bak"); }
QString CalibrationTree::nvffcDir() const { return m_core + QStringLiteral("/NVFFC"); }
QString CalibrationTree::tempDriftDir() const { return m_core + QStringLiteral("/TempDrift"); }
QString CalibrationTree::stableFpaDir() const { return m_core + QStringLiteral("/StableFPA"); }
QString CalibrationTree::occDir() const { return m_core + QStringLiteral("/Occ"); }
QString CalibrationTree::qualityDir() const { return m_core + QStringLiteral("/Quality"); }
QString CalibrationTree::reportDir() const { return m_core + QStringLiteral("/Report"); }

QString CalibrationTree::frameFile(const QString& dir, int i)
{
    return dir + QStringLiteral("/Frame%1.frame").arg(i);
}
