#pragma once

#include <QString>

// The operator's last network connection and the video page's detection parameters,
// kept in "<data root>/info/settings.ini" (all keys in the general section, values as
// text). The file holds the camera password in plain text, so it is created readable
// by its owner only (mode 0600). Each function returns false only when the settings
// object cannot be made; the file itself failing to write is not reported here.
namespace SettingsStore {

struct NetLogin {
    QString ip;          // "IP"
    QString user;        // "Usr"
    QString password;    // "Pwd"
    int port = 0;        // "Port"
    int channel = 0;     // "Channel"
    int deviceForm = 0;  // "Pixel": 0 标准机芯, 1 标准整机, 2 军用, 3 其他
};

struct DetectRect {
    int rectH = 0;          // "RectH"
    int rectV = 0;          // "RectV"
    float highHPos = 0.f;   // "HighHPos", a percentage divided by 100
    float highVPos = 0.f;   // "HighVPos"
    float lowHPos = 0.f;    // "LowHPos"
    float lowVPos = 0.f;    // "LowVPos"
};

QString settingsPath();

bool readNetLogin(NetLogin* login);
bool writeNetLogin(const NetLogin& login);
// Whether the file holds a "Port" key at all (the dialog keeps its default otherwise).
bool hasStoredPort();

bool readHighToLow(bool* bHighToLow);   // true only for the stored text "1"
bool writeHighToLow(bool bHighToLow);   // "1" / "0"

bool readDetectRect(DetectRect* rect);
bool writeDetectRect(const DetectRect& rect);

bool readThresholds(int* nHigh, int* nLow);   // "HThrd", "LThrd"
bool writeThresholds(int nHigh, int nLow);

bool readSampFreq(int* nCount);               // "SampFreq"
bool writeSampFreq(int nCount);

// "Pacing": "fixed" (the default, also for a missing or unknown value) or "reply".
bool readPacing(QString* pacing);
bool writePacing(const QString& pacing);

// The history database ("设置 > 数据库…"): station and operator names and the shared
// server; no host means the bench's own SQLite file only.
struct HistorySettings {
    QString station;      // "Station"; empty: the host name
    QString operatorName; // "Operator" (操作员); empty: the login name
    QString dbHost;       // "DbHost"
    int dbPort = 5432;    // "DbPort"
    QString dbName;       // "DbName"
    QString dbUser;       // "DbUser"
    QString dbPassword;   // "DbPwd", owner-only file like the camera password
};
bool readHistorySettings(HistorySettings* h);
bool writeHistorySettings(const HistorySettings& h);

} // namespace SettingsStore
