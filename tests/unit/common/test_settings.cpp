// The settings store: keys, text forms, defaults and the file's access mode.
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString rawValue(const QString& key)
{
    QSettings s(SettingsStore::settingsPath(), QSettings::IniFormat);
    return s.value(key).toString();
}

void writeRaw(const QString& path, const QByteArray& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

int modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return st.st_mode & 0777;
}

} // namespace

TEST(SettingsStore, MissingFileGivesEmptyTextsAndZeros)
{
    irtest::ScopedDataRoot root;
    SettingsStore::NetLogin login;
    login.ip = "x";
    login.port = 9;
    login.deviceForm = 3;
    ASSERT_TRUE(SettingsStore::readNetLogin(&login));
    EXPECT_EQ(login.ip, "");
    EXPECT_EQ(login.user, "");
    EXPECT_EQ(login.password, "");
    EXPECT_EQ(login.port, 0);
    EXPECT_EQ(login.channel, 0);
    EXPECT_EQ(login.deviceForm, 0);
    bool h2l = true;
    ASSERT_TRUE(SettingsStore::readHighToLow(&h2l));
    EXPECT_FALSE(h2l);
    EXPECT_FALSE(SettingsStore::hasStoredPort());
    // Reading never creates the file.
    EXPECT_FALSE(QFileInfo::exists(SettingsStore::settingsPath()));
}

TEST(SettingsStore, NetLoginRoundTripsAsTextInTheInfoFolder)
{
    irtest::ScopedDataRoot root;
    EXPECT_EQ(SettingsStore::settingsPath(), root.path() + "/info/settings.ini");
    SettingsStore::NetLogin in;
    in.ip = "192.168.1.64";
    in.user = "admin";
    in.password = "p@ss, word=1"; // kept in plain text, commas and all
    in.port = 8000;
    in.channel = 2;
    in.deviceForm = 1;
    ASSERT_TRUE(SettingsStore::writeNetLogin(in)); // creates the missing "info" folder

    EXPECT_EQ(rawValue("IP"), "192.168.1.64");
    EXPECT_EQ(rawValue("Pwd"), "p@ss, word=1");
    EXPECT_EQ(rawValue("Port"), "8000");
    EXPECT_EQ(rawValue("Channel"), "2");
    EXPECT_EQ(rawValue("Pixel"), "1");

    SettingsStore::NetLogin out;
    ASSERT_TRUE(SettingsStore::readNetLogin(&out));
    EXPECT_EQ(out.ip, in.ip);
    EXPECT_EQ(out.user, in.user);
    EXPECT_EQ(out.password, in.password);
    EXPECT_EQ(out.port, 8000);
    EXPECT_EQ(out.channel, 2);
    EXPECT_EQ(out.deviceForm, 1);
    EXPECT_TRUE(SettingsStore::hasStoredPort());
}

TEST(SettingsStore, FileHoldingThePasswordIsOwnerOnly)
{
    irtest::ScopedDataRoot root;
    SettingsStore::NetLogin in;
    in.password = "secret";
    ASSERT_TRUE(SettingsStore::writeNetLogin(in));
    EXPECT_EQ(modeOf(SettingsStore::settingsPath()), 0600);

    // A file made readable by others is tightened again on the next write.
    ::chmod(QFile::encodeName(SettingsStore::settingsPath()).constData(), 0644);
    ASSERT_TRUE(SettingsStore::writeSampFreq(5));
    EXPECT_EQ(modeOf(SettingsStore::settingsPath()), 0600);
}

TEST(SettingsStore, HighToLowIsTrueOnlyForTheTextOne)
{
    irtest::ScopedDataRoot root;
    ASSERT_TRUE(SettingsStore::writeHighToLow(true));
    EXPECT_EQ(rawValue("HighToLow"), "1");
    bool b = false;
    SettingsStore::readHighToLow(&b);
    EXPECT_TRUE(b);
    ASSERT_TRUE(SettingsStore::writeHighToLow(false));
    EXPECT_EQ(rawValue("HighToLow"), "0");
    SettingsStore::readHighToLow(&b);
    EXPECT_FALSE(b);

    writeRaw(SettingsStore::settingsPath(), "[General]\nHighToLow=true\n");
    b = true;
    SettingsStore::readHighToLow(&b);
    EXPECT_FALSE(b);
}

TEST(SettingsStore, RealsUseSixSignificantDigitsAndBadNumbersReadAsZero)
{
    irtest::ScopedDataRoot root;
    SettingsStore::DetectRect in;
    in.rectH = 12;
    in.rectV = 12;
    in.highHPos = 0.35f;
    in.highVPos = 0.0000001f;
    in.lowHPos = 0.123456789f;
    in.lowVPos = 1234567.f;
    ASSERT_TRUE(SettingsStore::writeDetectRect(in));
    EXPECT_EQ(rawValue("RectH"), "12");
    EXPECT_EQ(rawValue("HighHPos"), "0.35");
    EXPECT_EQ(rawValue("HighVPos"), "1e-07");
    EXPECT_EQ(rawValue("LowHPos"), "0.123457");
    EXPECT_EQ(rawValue("LowVPos"), "1.23457e+06");

    SettingsStore::DetectRect out;
    ASSERT_TRUE(SettingsStore::readDetectRect(&out));
    EXPECT_EQ(out.rectH, 12);
    EXPECT_EQ(out.rectV, 12);
    EXPECT_FLOAT_EQ(out.highHPos, 0.35f);
    EXPECT_FLOAT_EQ(out.highVPos, 1e-07f);
    EXPECT_FLOAT_EQ(out.lowHPos, 0.123457f);

    ASSERT_TRUE(SettingsStore::writeThresholds(300, 50));
    ASSERT_TRUE(SettingsStore::writeSampFreq(16));
    int hi = 0, lo = 0, n = 0;
    SettingsStore::readThresholds(&hi, &lo);
    SettingsStore::readSampFreq(&n);
    EXPECT_EQ(hi, 300);
    EXPECT_EQ(lo, 50);
    EXPECT_EQ(n, 16);

    writeRaw(SettingsStore::settingsPath(), "[General]\nPort=abc\nHThrd=12x\nRectH=\nHighHPos=zz\n");
    SettingsStore::NetLogin login;
    SettingsStore::readNetLogin(&login);
    EXPECT_EQ(login.port, 0);
    SettingsStore::readThresholds(&hi, &lo);
    EXPECT_EQ(hi, 0);
    SettingsStore::readDetectRect(&out);
    EXPECT_EQ(out.rectH, 0);
    EXPECT_FLOAT_EQ(out.highHPos, 0.f);
}

TEST(SettingsStore, FollowsTheDataRootWhenItMoves)
{
    irtest::ScopedDataRoot first;
    SettingsStore::writeSampFreq(7);
    {
        irtest::ScopedDataRoot second;
        int n = -1;
        SettingsStore::readSampFreq(&n);
        EXPECT_EQ(n, 0);
    }
    int n = -1;
    SettingsStore::readSampFreq(&n);
    EXPECT_EQ(n, 7);
}
