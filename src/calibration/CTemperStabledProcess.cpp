#include "CTemperStabledProcess.h"

#include "CComonFun.h"
#include "DriftFit.h"

#include <QDir>
#include <QFileInfo>

bool CTemperStabledProcess::setDirectory(const QString& stableDir, bool clear, QString* error)
{
    m_data = stablefpa::dataDir(stableDir);
    m_template = stablefpa::templateFile(stableDir);
    if (clear && QFileInfo::exists(m_data) && !CComonFun::removeTree(m_data)) {
        *error = QStringLiteral("无法清空数据目录 %1").arg(QDir::toNativeSeparators(m_data));
        return false;
    }
    if (!CComonFun::makePath(m_data)) {
        *error = QStringLiteral("无法创建数据目录 %1").arg(QDir::toNativeSeparators(m_data));
        return false;
    }
    const QString info = stablefpa::infoFile(m_data);
    m_copy = stablefpa::copyTemplate(m_template, info);
    m_lines = recording() ? stablefpa::infoLineCount(info) : 0;
    return true;
}

bool CTemperStabledProcess::averageAndSave(const std::vector<std::vector<uint16_t>>& frames, size_t pixels,
                                           QString* error)
{
    std::vector<const uint16_t*> ptrs;
    for (const auto& f : frames)
        if (f.size() >= pixels)
            ptrs.push_back(f.data());
    std::vector<uint16_t> average;
    if (ptrs.size() != frames.size()
        || !driftfit::averageFrames(ptrs.data(), int(ptrs.size()), pixels, &average, &m_mean)) {
        *error = QStringLiteral("采集的帧无法平均");
        return false;
    }
    const QString path = stablefpa::imageFile(m_data, m_k);
    if (!CComonFun::writeFrameFile(path, average.data(), average.size())) {
        *error = QStringLiteral("图像文件 %1 写入失败").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

bool CTemperStabledProcess::record(double temperature, QString* error)
{
    if (recording()
        && stablefpa::recordCollection(stablefpa::infoFile(m_data), m_k, temperature, m_mean)
               != stablefpa::RecordResult::Written) {
        *error = QStringLiteral("background_info.dat 写入失败（采集编号 %1），判稳停止").arg(m_k);
        return false;
    }
    ++m_k;
    return true;
}
