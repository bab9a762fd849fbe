#include "CComonFun.h"
#include "Pace.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <chrono>

TEST(SanitizeName, HostileDeviceNamesStayInsideTheirFolder)
{
    EXPECT_EQ(CComonFun::sanitizeName("12ab000"), "12ab000");
    EXPECT_EQ(CComonFun::sanitizeName(".."), "__");
    EXPECT_EQ(CComonFun::sanitizeName("."), "_");
    EXPECT_EQ(CComonFun::sanitizeName("../../etc/passwd"), ".._.._etc_passwd");
    EXPECT_EQ(CComonFun::sanitizeName(QString("a\x01" "b\nc\\d")), "a_b_c_d");
    EXPECT_EQ(CComonFun::sanitizeName(""), "_");
    EXPECT_EQ(CComonFun::sanitizeName(QString(300, 'x')).size(), 128);
    // Whatever comes out is one path component that stays below its parent.
    for (const char* evil : {"..", "/", "a/../../b", "\x7f..", " .. "}) {
        const QString n = CComonFun::sanitizeName(evil);
        EXPECT_FALSE(n.contains('/')) << evil;
        EXPECT_NE(n, "..");
        EXPECT_NE(n, ".");
        QDir base("/tmp/base");
        EXPECT_TRUE(QDir::cleanPath(base.filePath(n)).startsWith("/tmp/base/")) << evil;
    }
}

TEST(FileHelpers, WriteReadAppendAndReportFailures)
{
    irtest::ScopedDataRoot root;
    const QString p = root.file("a/b/c.bin");
    EXPECT_FALSE(CComonFun::writeFile(p, "xyz")) << "missing folder must be reported";
    ASSERT_TRUE(CComonFun::makePath(root.file("a/b")));
    ASSERT_TRUE(CComonFun::writeFile(p, QByteArray("xyz")));
    ASSERT_TRUE(CComonFun::appendFile(p, "12", 2));
    QByteArray back;
    ASSERT_TRUE(CComonFun::readFile(p, &back));
    EXPECT_EQ(back, QByteArray("xyz12"));
    EXPECT_FALSE(CComonFun::readFile(root.file("nope"), &back));
    EXPECT_TRUE(CComonFun::removeTree(root.file("a")));
    EXPECT_FALSE(CComonFun::fileExists(p));
    EXPECT_EQ(CComonFun::dateStamp().size(), 8);
    EXPECT_EQ(CComonFun::timeStamp().size(), 6);
}

TEST(Pace, ScalesEveryPause)
{
    const double old = Pace::scale();
    Pace::setScale(0.001);
    EXPECT_DOUBLE_EQ(Pace::scaledMs(200), 0.2);
    const auto t0 = std::chrono::steady_clock::now();
    Pace::sleepMs(60000); // one minute nominal
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    Pace::setScale(-3);
    EXPECT_DOUBLE_EQ(Pace::scaledMs(200), 0.0);
    Pace::setScale(old);
}
