#include "CModuleRecord.h"

#include "CComonFun.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QStringList kVersions{"1.2.3", "20241105", "2.0.1", "20240920", "20240301", "20231212"};

TEST(ModuleRecord, ExactBytes)
{
    const QByteArray text = CModuleRecord::recordText("2024a001", "1022", "20240815", kVersions);
    const QByteArray expected =
        "SerialNum:    2024a001\r\n"
        "ModuleInfo:    1022\r\n"
        "SensorID:    20240815\r\n"
        "SoftWareVerNum:    1.2.3\r\n"
        "SoftWareVerTime:    20241105\r\n"
        "FPGAVerNum:    2.0.1\r\n"
        "FPGAVerTime:    20240920\r\n"
        "ProcessVerTime:    20240301\r\n"
        "HardwareVerTime:    20231212\r\n";
    EXPECT_EQ(text, expected);
}

TEST(ModuleRecord, MissingVersionsAndLineBreaksInValuesKeepNineLines)
{
    const QByteArray text = CModuleRecord::recordText("a\r\nb", "", "id\x01", {"1.0.0"});
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 10); // nine lines and the empty rest after the last "\n"
    EXPECT_EQ(lines[0], "SerialNum:    a__b\r");
    EXPECT_EQ(lines[2], "SensorID:    id_\r");
    EXPECT_EQ(lines[3], "SoftWareVerNum:    1.0.0\r");
    EXPECT_EQ(lines[8], "HardwareVerTime:    \r");
    EXPECT_TRUE(lines[9].isEmpty());
}

TEST(ModuleRecord, WriteReplacesAndListsBaseNames)
{
    irtest::ScopedDataRoot root;
    const QString folder = CModuleRecord::folderFor(root.path(), "20250102");
    EXPECT_EQ(folder, root.path() + "/module_info/20250102");
    // The folder is made on demand.
    ASSERT_TRUE(CModuleRecord::write(folder, "b2", "a much longer first record\r\n"));
    ASSERT_TRUE(CModuleRecord::write(folder, "b2", "short\r\n"));
    ASSERT_TRUE(CModuleRecord::write(folder, "a1.v2", "x"));
    EXPECT_EQ(irtest::readAll(folder + "/b2.txt"), QByteArray("short\r\n"));
    EXPECT_EQ(CModuleRecord::list(folder), QStringList({"a1.v2", "b2"}));
    EXPECT_TRUE(CModuleRecord::list(folder + "/missing").isEmpty());
}

TEST(ModuleRecord, HostileSerialStaysInsideTheFolder)
{
    irtest::ScopedDataRoot root;
    const QString folder = CModuleRecord::folderFor(root.path(), "20250102");
    const QStringList hostile{"../../escape", "..", "/etc/passwd", "a/../../b", "..\x01/sn", "\x1b[2J", "..\\x"};
    for (const QString& serial : hostile) {
        const QString path = CModuleRecord::filePath(folder, serial);
        EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(folder).absolutePath()) << serial.toStdString();
        ASSERT_TRUE(CModuleRecord::write(folder, serial, "x")) << serial.toStdString();
    }
    // Everything written lies in the dated folder, nothing above it.
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        const QString f = it.next();
        EXPECT_EQ(QFileInfo(f).absolutePath(), QDir(folder).absolutePath()) << f.toStdString();
        ++count;
    }
    EXPECT_GE(count, 1);
    EXPECT_EQ(CModuleRecord::list(folder).size(), count);
}

TEST(ModuleRecord, WriteFailureIsReported)
{
    irtest::ScopedDataRoot root;
    // A file where the folder should be: neither the folder nor the record can be made.
    const QString blocker = root.file("module_info");
    ASSERT_TRUE(CComonFun::writeFile(blocker, "not a folder"));
    EXPECT_FALSE(CModuleRecord::write(CModuleRecord::folderFor(root.path(), "20250102"), "sn", "x"));
}

} // namespace
