#include "CComonFun.h"
#include "LocalCommands.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(LocalCommands, SaveAndLoadKeepTextAndOrder)
{
    irtest::ScopedDataRoot root;
    EXPECT_EQ(localCommandsPath(), root.file("info/LocalCmd.ini"));
    const QVector<LocalCmdEntry> list{
        {QString::fromUtf8("打开快门"), "F010", "1"},
        {"raw, with = signs; and \"quotes\"", "F00703FE", ""},
        {"", "1F2", "0x10"},
    };
    ASSERT_TRUE(saveLocalCommands(list)) << "creates the missing info folder";
    QVector<LocalCmdEntry> back{{"kept", "1", "2"}};
    loadLocalCommands(back);
    ASSERT_EQ(back.size(), 4) << "load appends";
    EXPECT_EQ(back.mid(1), list);

    // Saving a shorter list drops the entries behind it.
    ASSERT_TRUE(saveLocalCommands(list.mid(2)));
    back.clear();
    loadLocalCommands(back);
    EXPECT_EQ(back, list.mid(2));
    ASSERT_TRUE(saveLocalCommands({}));
    back.clear();
    loadLocalCommands(back);
    EXPECT_TRUE(back.isEmpty());
}

TEST(LocalCommands, LoadStopsAtTheFirstGap)
{
    irtest::ScopedDataRoot root;
    ASSERT_TRUE(CComonFun::makePath(root.file("info")));
    ASSERT_TRUE(CComonFun::writeFile(localCommandsPath(),
                                     "[Cmd0]\nDesc=a\nAddr=F010\nValue=1\n"
                                     "[Cmd2]\nDesc=c\nAddr=F011\nValue=2\n"));
    QVector<LocalCmdEntry> back;
    loadLocalCommands(back);
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0], (LocalCmdEntry{"a", "F010", "1"}));

    // An all-empty entry cannot survive a save: it ends the list.
    ASSERT_TRUE(saveLocalCommands({{"a", "1", ""}, {"", "", ""}, {"b", "2", ""}}));
    back.clear();
    loadLocalCommands(back);
    EXPECT_EQ(back, (QVector<LocalCmdEntry>{{"a", "1", ""}}));
}

TEST(LocalCommands, MissingFileAndWriteFailures)
{
    irtest::ScopedDataRoot root;
    QVector<LocalCmdEntry> back{{"x", "y", "z"}};
    loadLocalCommands(back);
    EXPECT_EQ(back.size(), 1);
    // "info" taken by a plain file: nothing can be written and the save says so.
    ASSERT_TRUE(CComonFun::writeFile(root.file("info"), "not a folder"));
    EXPECT_FALSE(saveLocalCommands(back));
}
