#include "SettingsStore.h"

#include "CComonFun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace SettingsStore {

namespace {

QMutex g_lock;
QString g_path;
std::unique_ptr<QSettings> g_settings;

// The settings object for the current data root; made again when the root moved.
QSettings* settingsObject()
{
    const QString path = settingsPath();
    if (!g_settings || g_path != path) {
        g_settings.reset();
        g_path = path;
        g_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
    return g_settings.get();
}

// The file holds the password: make sure it exists with owner-only access before
// anything is written into it, and keep it so after the settings object rewrote it.
void restrictFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), S_IRUSR | S_IWUSR);
}

// Runs the writes, then syncs the file with owner-only access.
template <typename Fn>
bool writeKeys(Fn fn)
{
    QMutexLocker lock(&g_lock);
    const QString path = settingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    restrictFile(path);
    QSettings* s = settingsObject();
    if (!s)
        return false;
    fn(*s);
    s->sync();
    restrictFile(path);
    return true;
}

template <typename Fn>
bool readKeys(Fn fn)
{
    QMutexLocker lock(&g_lock);
    QSettings* s = settingsObject();
    if (!s)
        return false;
    // Pick up changes made by another settings object or by hand.
    s->sync();
    fn(*s);
    return true;
}

QString text(QSettings& s, const char* key)
{
    return s.value(QLatin1String(key), QString()).toString();
}

int integer(QSettings& s, const char* key)
{
    return text(s, key).trimmed().toInt(); // not a number: 0
}

float real(QSettings& s, const char* key)
{
    return text(s, key).trimmed().toFloat(); // not a number: 0
}

QString realText(float v)
{
    return QString::number(static_cast<double>(v), 'g', 6);
}

} // namespace

QString settingsPath()
{
    return CComonFun::dataRoot() + QStringLiteral("/info/settings.ini");
}

bool readNetLogin(NetLogin* login)
{
    return readKeys([login](QSettings& s) {
        if (!login)
            return;
        login->ip = text(s, "IP");
        login->user = text(s, "Usr");
        login->password = text(s, "Pwd");
        login->port = integer(s, "Port");
        login->channel = integer(s, "Channel");
        login->deviceForm = integer(s, "Pixel");
    });
}

bool writeNetLogin(const NetLogin& login)
{
    return writeKeys([&login](QSettings& s) {
        s.setValue("IP", login.ip);
        s.setValue("Usr", login.user);
        s.setValue("Pwd", login.password);
        s.setValue("Port", QString::number(login.port));
        s.setValue("Channel", QString::number(login.channel));
        s.setValue("Pixel", QString::number(login.deviceForm));
    });
}

bool hasStoredPort()
{
    bool has = false;
    readKeys([&has](QSettings& s) { has = s.contains("Port"); });
    return has;
}

bool readHighToLow(bool* bHighToLow)
{
    return readKeys([bHighToLow](QSettings& s) {
        if (bHighToLow)
            *bHighToLow = text(s, "HighToLow") == QLatin1String("1");
    });
}

bool writeHighToLow(bool bHighToLow)
{
    return writeKeys([bHighToLow](QSettings& s) { s.setValue("HighToLow", bHighToLow ? "1" : "0"); });
}

bool readDetectRect(DetectRect* rect)
{
    return readKeys([rect](QSettings& s) {
        if (!rect)
            return;
        rect->rectH = integer(s, "RectH");
        rect->rectV = integer(s, "RectV");
        rect->highHPos = real(s, "HighHPos");
        rect->highVPos = real(s, "HighVPos");
        rect->lowHPos = real(s, "LowHPos");
        rect->lowVPos = real(s, "LowVPos");
    });
}

bool writeDetectRect(const DetectRect& rect)
{
    return writeKeys([&rect](QSettings& s) {
        s.setValue("RectH", QString::number(rect.rectH));
        s.setValue("RectV", QString::number(rect.rectV));
        s.setValue("HighHPos", realText(rect.highHPos));
        s.setValue("HighVPos", realText(rect.highVPos));
        s.setValue("LowHPos", realText(rect.lowHPos));
        s.setValue("LowVPos", realText(rect.lowVPos));
    });
}

bool readThresholds(int* nHigh, int* nLow)
{
    return readKeys([nHigh, nLow](QSettings& s) {
        if (nHigh)
            *nHigh = integer(s, "HThrd");
        if (nLow)
            *nLow = integer(s, "LThrd");
    });
}

bool writeThresholds(int nHigh, int nLow)
{
    return writeKeys([nHigh, nLow](QSettings& s) {
        s.setValue("HThrd", QString::number(nHigh));
        s.setValue("LThrd", QString::number(nLow));
    });
}

bool readSampFreq(int* nCount)
{
    return readKeys([nCount](QSettings& s) {
        if (nCount)
            *nCount = integer(s, "SampFreq");
    });
}

bool writeSampFreq(int nCount)
{
    return writeKeys([nCount](QSettings& s) { s.setValue("SampFreq", QString::number(nCount)); });
}

bool readPacing(QString* pacing)
{
    return readKeys([pacing](QSettings& s) {
        const QString v = s.value("Pacing").toString().trimmed().toLower();
        if (pacing)
            *pacing = v == "reply" ? v : QStringLiteral("fixed");
    });
}

bool writePacing(const QString& pacing)
{
    return writeKeys([pacing](QSettings& s) { s.setValue("Pacing", pacing); });
}

bool readHistorySettings(HistorySettings* h)
{
    return readKeys([h](QSettings& s) {
        if (!h)
            return;
        h->station = text(s, "Station");
        h->operatorName = text(s, "Operator");
        h->dbHost = text(s, "DbHost").trimmed();
        const int port = integer(s, "DbPort");
        h->dbPort = port > 0 && port < 65536 ? port : 5432;
        h->dbName = text(s, "DbName");
        h->dbUser = text(s, "DbUser");
        h->dbPassword = text(s, "DbPwd");
    });
}

bool writeHistorySettings(const HistorySettings& h)
{
    return writeKeys([&h](QSettings& s) {
        s.setValue("Station", h.station);
        s.setValue("Operator", h.operatorName);
        s.setValue("DbHost", h.dbHost);
        s.setValue("DbPort", QString::number(h.dbPort));
        s.setValue("DbName", h.dbName);
        s.setValue("DbUser", h.dbUser);
        s.setValue("DbPwd", h.dbPassword);
    });
}

} // namespace SettingsStore
