// The acceptance figures for the operator (captions, values, limits, verdict) and the
// limits kept in the settings file; declared in QualityRun.h.
#include "QualityRun.h"

#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QStringList>

#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct KeyText {
    const char* key;
    const char* caption;
};

const KeyText kCaptions[] = {
    {"mean", "均值"},
    {"temporal_noise", "时域噪声"},
    {"spatial_noise", "空间噪声"},
    {"nonuniformity_percent", "非均匀性"},
    {"correctability", "可校正度"},
    {"operability_percent", "有效像元率"},
    {"largest_cluster", "最大坏点簇"},
    {"unflagged_outliers", "漏检坏点"},
};

bool is(const char* key, const char* name)
{
    return key && std::strcmp(key, name) == 0;
}

QString number(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

// A limit as the operator reads it: at most four decimals, no trailing zeros, but
// one decimal kept for percentages ("1.0 %", "99.5 %").
QString limitNumber(double v, bool percent)
{
    QString t = QString::number(v, 'f', 4);
    while (t.contains(QLatin1Char('.')) && t.endsWith(QLatin1Char('0')))
        t.chop(1);
    if (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    if (percent && !t.contains(QLatin1Char('.')))
        t += QStringLiteral(".0");
    return t;
}

} // namespace

QString qualityCaption(const char* key)
{
    for (const KeyText& k : kCaptions)
        if (is(key, k.key))
            return QString::fromUtf8(k.caption);
    return key ? QString::fromLatin1(key) : QString();
}

QString qualityValueText(const QualityFigures& f, const char* key)
{
    if (is(key, "mean"))
        return number(f.mean, 1);
    if (is(key, "temporal_noise"))
        return number(f.temporalNoise, 2);
    if (is(key, "spatial_noise"))
        return number(f.spatialNoise, 2);
    if (is(key, "nonuniformity_percent"))
        return number(f.nonuniformityPercent, 4) + QStringLiteral(" %");
    if (is(key, "correctability"))
        return std::isfinite(f.correctability) ? number(f.correctability, 2) : QStringLiteral("∞");
    if (is(key, "operability_percent"))
        return number(f.operabilityPercent, 3) + QStringLiteral(" %");
    if (is(key, "largest_cluster"))
        return QString::number(f.largestCluster);
    if (is(key, "unflagged_outliers"))
        return QString::number(f.unflaggedOutliers);
    return QString();
}

QString qualityLimitText(const QualityLimits& l, const char* key)
{
    const QString le = QStringLiteral("≤ "), ge = QStringLiteral("≥ ");
    if (is(key, "temporal_noise"))
        return le + limitNumber(l.maxTemporalNoise, false);
    if (is(key, "nonuniformity_percent"))
        return le + limitNumber(l.maxNonuniformityPercent, true) + QStringLiteral(" %");
    if (is(key, "correctability"))
        return le + limitNumber(l.maxCorrectability, false);
    if (is(key, "operability_percent"))
        return ge + limitNumber(l.minOperabilityPercent, true) + QStringLiteral(" %");
    if (is(key, "largest_cluster"))
        return (l.maxLargestCluster == 0 ? QStringLiteral("= ") : le) + QString::number(l.maxLargestCluster);
    if (is(key, "unflagged_outliers"))
        return (l.maxUnflaggedOutliers == 0 ? QStringLiteral("= ") : le) + QString::number(l.maxUnflaggedOutliers);
    return QString();
}

bool qualityFailed(const QualityVerdict& v, const char* key)
{
    for (const auto& k : v.failed)
        if (is(key, k.c_str()))
            return true;
    return false;
}

QString qualityVerdictCaption(const QualityVerdict& v)
{
    if (v.pass)
        return QStringLiteral("合格");
    QStringList names;
    for (const auto& k : v.failed)
        names << qualityCaption(k.c_str());
    return QStringLiteral("不合格：") + names.join(QStringLiteral("、"));
}

namespace {

// The settings file is shared with SettingsStore, which keeps it owner-only (it holds
// the camera password): the same here for a file this side makes or rewrites.
QMutex g_qualityLock;

// Made owner-only before the first write (a rewrite keeps the mode) and kept so after.
void ownerOnly(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), S_IRUSR | S_IWUSR);
}

// A stored number, or nothing when it is missing, not a number or outside [lo, hi].
bool storedNumber(QSettings& s, const char* key, double lo, double hi, double* v)
{
    const QString text = s.value(QLatin1String(key)).toString().trimmed();
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d < lo || d > hi)
        return false;
    *v = d;
    return true;
}

bool storedCount(QSettings& s, const char* key, int lo, int hi, int* v)
{
    double d = 0;
    if (!storedNumber(s, key, lo, hi, &d) || d != std::floor(d))
        return false;
    *v = int(d);
    return true;
}

QString text(double v)
{
    return QString::number(v, 'g', 10);
}

} // namespace

bool readQualityLimits(QualityLimits* limits, int* frames)
{
    QMutexLocker g(&g_qualityLock);
    QSettings s(SettingsStore::settingsPath(), QSettings::IniFormat);
    QualityLimits l;
    int n = kDefaultQualityFrames;
    const double big = 1e9;
    storedNumber(s, "QualityNonuniformity", 0, big, &l.maxNonuniformityPercent);
    storedNumber(s, "QualityCorrectability", 0, big, &l.maxCorrectability);
    storedNumber(s, "QualityOperability", 0, 100, &l.minOperabilityPercent);
    storedCount(s, "QualityCluster", 0, int(big), &l.maxLargestCluster);
    storedCount(s, "QualityOutliers", 0, int(big), &l.maxUnflaggedOutliers);
    storedNumber(s, "QualityNoise", 0, big, &l.maxTemporalNoise);
    storedCount(s, "QualityFrames", kMinQualityFrames, kMaxQualityFrames, &n);
    if (limits)
        *limits = l;
    if (frames)
        *frames = n;
    return s.status() != QSettings::AccessError;
}

bool writeQualityLimits(const QualityLimits& limits, int frames)
{
    // What a later read would throw away is not stored at all.
    const auto fine = [](double v) { return std::isfinite(v) && v >= 0; };
    if (!fine(limits.maxNonuniformityPercent) || !fine(limits.maxCorrectability) || !fine(limits.maxTemporalNoise)
        || !fine(limits.minOperabilityPercent) || limits.minOperabilityPercent > 100 || limits.maxLargestCluster < 0
        || limits.maxUnflaggedOutliers < 0 || frames < kMinQualityFrames || frames > kMaxQualityFrames)
        return false;
    QMutexLocker g(&g_qualityLock);
    const QString path = SettingsStore::settingsPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    ownerOnly(path);
    QSettings s(path, QSettings::IniFormat);
    s.setValue("QualityNonuniformity", text(limits.maxNonuniformityPercent));
    s.setValue("QualityCorrectability", text(limits.maxCorrectability));
    s.setValue("QualityOperability", text(limits.minOperabilityPercent));
    s.setValue("QualityCluster", QString::number(limits.maxLargestCluster));
    s.setValue("QualityOutliers", QString::number(limits.maxUnflaggedOutliers));
    s.setValue("QualityNoise", text(limits.maxTemporalNoise));
    s.setValue("QualityFrames", QString::number(frames));
    s.sync();
    ownerOnly(path);
    return s.status() == QSettings::NoError;
}
