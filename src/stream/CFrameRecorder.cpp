#include "CFrameRecorder.h"

#include "CComonFun.h"
#include "CFindFrame.h"
#include "PixelMath.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

namespace {

QString stampNow()
{
    return CComonFun::dateStamp() + QLatin1Char('_') + CComonFun::timeStamp();
}

} // namespace

CFrameRecorder::CFrameRecorder(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, [this] { recordOne(); });
}

CFrameRecorder::~CFrameRecorder()
{
    m_timer.stop();
    m_raw.close();
    m_text.close();
    if (m_frames) {
        m_frames->SetRecording(false);
        m_frames->SetRecordFiles(nullptr, nullptr);
    }
}

QString CFrameRecorder::freeName(const QString& dir, const QString& stamp, const QStringList& exts)
{
    for (int k = 1;; ++k) {
        const QString base = dir + QLatin1Char('/') + stamp + (k > 1 ? QStringLiteral("_%1").arg(k) : QString());
        const bool taken = std::any_of(exts.begin(), exts.end(),
                                       [&](const QString& ext) { return QFileInfo::exists(base + ext); });
        if (!taken)
            return base;
    }
}

QByteArray CFrameRecorder::logLine(const FrameAddInfo& info, int mean)
{
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%.1f\t%d\t%d\t%d\t%d\t%d\t%d\n", double(info.tFPA), int(info.EOCC),
                                int(info.VIEC), int(info.TINT), int(info.BVAL), int(info.BaseL), mean);
    return QByteArray(line, std::clamp(n, 0, int(sizeof line) - 1));
}

bool CFrameRecorder::start(CFindFrame* frames, const QString& dir, int intervalMs, QString* error)
{
    if (isRecording())
        stop();
    auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!frames)
        return refuse(QStringLiteral("未收到视频流,请先开启取流!"));
    if (!CComonFun::makePath(dir))
        return refuse(QStringLiteral("创建目录失败:\n%1").arg(QDir::toNativeSeparators(dir)));
    const QString base = freeName(dir, stampNow(), {QStringLiteral(".raw"), QStringLiteral(".txt")});
    m_raw.setFileName(base + QStringLiteral(".raw"));
    m_text.setFileName(base + QStringLiteral(".txt"));
    if (!m_raw.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !m_text.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString why = m_raw.isOpen() ? m_text.errorString() : m_raw.errorString();
        const QString failed = m_raw.isOpen() ? m_text.fileName() : m_raw.fileName();
        // Nothing half-made stays behind.
        if (m_raw.isOpen())
            m_raw.remove();
        return refuse(QStringLiteral("无法创建录像文件:\n%1\n%2").arg(QDir::toNativeSeparators(failed), why));
    }
    m_frames = frames;
    m_intervalMs = std::clamp(intervalMs, kMinIntervalMs, kMaxIntervalMs);
    m_geometry = QSize();
    m_lastSeq = 0;
    m_written = 0;
    m_lastLine.clear();
    frames->SetRecordInterval(m_intervalMs);
    frames->SetRecordFiles(&m_raw, &m_text);
    frames->SetRecording(true);
    m_timer.start(std::min(kFirstFrameMs, m_intervalMs));
    return true;
}

void CFrameRecorder::stop()
{
    if (isRecording())
        finish(QString());
}

void CFrameRecorder::finish(const QString& reason)
{
    m_timer.stop();
    m_raw.close();
    m_text.close();
    m_frames->SetRecording(false);
    m_frames->SetRecordFiles(nullptr, nullptr);
    m_frames = nullptr;
    emit signalStopped(reason);
}

bool CFrameRecorder::recordOne()
{
    if (!isRecording())
        return false;
    if (m_timer.interval() != m_intervalMs)
        m_timer.setInterval(m_intervalMs);
    int w = 0, h = 0;
    FrameAddInfo info;
    quint64 seq = 0;
    // The frame, its record and its mean are all of one frame, copied under one lock.
    if (!m_frames->GetWholeFrame(&m_frame, &w, &h, &info, &seq) || seq == m_lastSeq)
        return true; // no new frame yet
    const QSize size(w, h);
    if (m_geometry.isEmpty()) {
        m_geometry = size;
    } else if (size != m_geometry) {
        finish(QStringLiteral("图像尺寸由 %1x%2 变为 %3x%4,录制已停止。\n已录制 %5 帧:\n%6")
                   .arg(m_geometry.width()).arg(m_geometry.height()).arg(w).arg(h).arg(m_written)
                   .arg(QDir::toNativeSeparators(m_raw.fileName())));
        return false;
    }
    m_lastSeq = seq;
    double exact = 0;
    pixelmath::frameMean(m_frame.data(), m_frame.size(), w, h, &exact);
    QByteArray bytes(qsizetype(m_frame.size() * 2), Qt::Uninitialized);
    qToLittleEndian<uint16_t>(m_frame.data(), qsizetype(m_frame.size()), bytes.data());
    const QByteArray line = logLine(info, int(exact));
    if (m_raw.write(bytes) != bytes.size() || m_text.write(line) != line.size() || !m_raw.flush()
        || !m_text.flush()) {
        finish(QStringLiteral("写入录像文件失败(磁盘已满或无写权限),录制已停止。\n已录制 %1 帧:\n%2")
                   .arg(m_written).arg(QDir::toNativeSeparators(m_raw.fileName())));
        return false;
    }
    ++m_written;
    m_lastLine = line;
    return true;
}

bool saveOneFrame(CFindFrame* frames, const QString& dir, QString* path, QString* error)
{
    auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!frames)
        return refuse(QStringLiteral("未收到视频流,请先开启取流!"));
    std::vector<std::vector<uint16_t>> images;
    int w = 0, h = 0;
    if (!frames->StartCapture(1) || !frames->GetCapturedFrames(&images, &w, &h) || images.empty())
        return refuse(QStringLiteral("采集图像失败,视频流中断,未收到视频帧!"));
    if (!CComonFun::makePath(dir))
        return refuse(QStringLiteral("创建目录失败:\n%1").arg(QDir::toNativeSeparators(dir)));
    const QString file = CFrameRecorder::freeName(dir, stampNow(), {QStringLiteral(".raw")}) + QStringLiteral(".raw");
    if (!CComonFun::writeFrameFile(file, images.front().data(), images.front().size()))
        return refuse(QStringLiteral("写入文件失败:\n%1").arg(QDir::toNativeSeparators(file)));
    if (path)
        *path = file;
    return true;
}
