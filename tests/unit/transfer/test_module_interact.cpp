// The reusable upgrade-mode write against the virtual camera: blocks, progress, every
// error code with the fault that causes it, and the exit that follows each failure.
#include "ModuleInteract.h"
#include "UpgradeWriter.h"
#include "TransferRig.h"

#include <QObject>
#include <gtest/gtest.h>

using namespace transfertest;

namespace {

struct Progress {
    QObject context;
    QVector<int> values;
    Progress()
    {
        QObject::connect(ModuleInteract::instance(), &ModuleInteract::signalFileHasWriteBlocks, &context,
                         [this](int p) { values.append(p); }, Qt::DirectConnection);
    }
};

bool write(const QByteArray& data, int mode, uint32_t address)
{
    return ModuleInteract::instance()->writeBlocksAt(
        address, mode, reinterpret_cast<const unsigned char*>(data.constData()), data.size());
}

} // namespace

TEST(ModuleInteract, WritesBlocksOfAThousandWithProgressAndReload)
{
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    ModuleInteract* mi = ModuleInteract::instance();
    const QByteArray data = pattern(2500, 5);
    Progress progress;
    ASSERT_TRUE(mi->writeFileBlocks(0, reinterpret_cast<const unsigned char*>(data.constData()), data.size(), 2));

    EXPECT_EQ(progress.values, (QVector<int>{0, 33, 66, 100}));
    const auto blocks = rig.blockData(0xEE);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].size(), 1000);
    EXPECT_EQ(blocks[1].size(), 1000);
    EXPECT_EQ(blocks[2].size(), 500);
    EXPECT_EQ(rig.blockData(0xE3).at(0), QByteArray::fromHex("00e00000")); // region 2: TEC3 gain table
    EXPECT_EQ(rig.blockData(0xE4).at(0), QByteArray::fromHex("000009c4"));
    EXPECT_EQ(rig.flash(0xE00000, 2500), data);
    EXPECT_TRUE(rig.blockData(0xEC).empty()) << "mode 0 never reloads";
    EXPECT_EQ(rig.blockCommands(), (std::vector<int>{0xE3, 0xE4, 0xEE, 0xEE, 0xEE, 0xE5, 0xE6}));
    EXPECT_EQ(mi->state(), ModuleInteract::StateIdle);
    EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);

    // Mode 1 reloads after the end; 3000 bytes are exactly three full blocks.
    rig.core().clearLog();
    ASSERT_TRUE(write(pattern(3000, 9), 1, 0xC00000));
    EXPECT_EQ(rig.blockCommands(), (std::vector<int>{0xE3, 0xE4, 0xEE, 0xEE, 0xEE, 0xE5, 0xEC, 0xE6}));
    EXPECT_EQ(rig.blockData(0xEC).at(0), QByteArray(1, '\x01'));
    EXPECT_EQ(rig.core().reloadCount(), 1);
    EXPECT_EQ(rig.flash(0xC00000, 3000), pattern(3000, 9));
}

TEST(ModuleInteract, EveryFailingStepGivesItsCodeAndLeavesUpgradeMode)
{
    struct Case {
        const char* fault;
        int mode;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"zero@0xF0E0", 0, -1, "进入升级模式失败"},
        {"zero@0xF0E1", 0, -2, "确认进入升级模式失败"},
        {"zero@block:0xE3", 0, -4, "发送升级地址失败"},
        {"zero@block:0xE4", 0, -5, "发送文件大小失败"},
        {"zero@block:0xEE#2", 0, -6, "写文件数据块失败"},
        {"zero@block:0xE5", 0, -7, "升级结束失败"},
        {"zero@block:0xEC", 1, -8, "重新导入对应标定数据到内存失败"},
        {"noreply@block:0xE3", 0, -4, "发送升级地址失败"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault(c.fault));
        ModuleInteract* mi = ModuleInteract::instance();
        EXPECT_FALSE(write(pattern(2500, 1), c.mode, 0x1000000));
        EXPECT_EQ(mi->lastError(), c.code);
        EXPECT_EQ(mi->lastErrorText(), QString::fromUtf8(c.text));
        EXPECT_TRUE(rig.lastRequestIsExit());
        EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
        if (c.code != -8) {
            EXPECT_FALSE(rig.core().lastWrite(2).valid) << "nothing committed";
        }
    }
}

TEST(ModuleInteract, FailingExitTurnsTheCodeIntoExitFailure)
{
    {
        // The address is refused and so is the exit that follows.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault("zero@block:0xE3"));
        ASSERT_TRUE(rig.fault("zero@block:0xE6"));
        EXPECT_FALSE(write(pattern(10, 1), 0, 0x1000000));
        EXPECT_EQ(ModuleInteract::instance()->lastError(), -3);
        EXPECT_EQ(ModuleInteract::instance()->lastErrorText(), exitFailedText());
    }
    {
        // Everything written and committed, only the exit refused: the data is in
        // flash, but the state tells the caller the core did not leave.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault("zero@block:0xE6"));
        EXPECT_TRUE(write(pattern(10, 2), 0, 0x1000000));
        EXPECT_EQ(ModuleInteract::instance()->lastError(), -3);
        EXPECT_NE(ModuleInteract::instance()->state(), ModuleInteract::StateIdle);
        EXPECT_EQ(rig.flash(0x1000000, 10), pattern(10, 2));
    }
    {
        // The serial channel drops instead of acknowledging the second data block:
        // nothing reaches flash, and the exit goes out once the link has reopened it.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault("drop@block:0xEE#2"));
        EXPECT_FALSE(write(pattern(5000, 3), 0, 0x1000000));
        EXPECT_EQ(ModuleInteract::instance()->lastError(), -6);
        EXPECT_EQ(rig.blockData(0xEE).size(), 2u);
        EXPECT_TRUE(rig.lastRequestIsExit());
        EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
        EXPECT_FALSE(rig.core().lastWrite(2).valid);
    }
}

TEST(ModuleInteract, RefusesWithoutSendingAnything)
{
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    ModuleInteract* mi = ModuleInteract::instance();
    const QByteArray data = pattern(100, 1);
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData());

    EXPECT_FALSE(mi->beginUpgrade(1));
    EXPECT_FALSE(mi->writeFileBlocks(0, nullptr, 10, 0));
    EXPECT_FALSE(mi->writeFileBlocks(0, p, 0, 0));
    EXPECT_FALSE(mi->writeFileBlocks(0, p, data.size(), 4));
    EXPECT_EQ(mi->lastError(), ModuleInteract::ErrBadRegion);
    // One byte more than the room up to the next area (the NOIS 0 image at 0x300000).
    const QByteArray big(0x300001, '\x5a');
    EXPECT_FALSE(write(big, 0, 0x000000));
    EXPECT_EQ(mi->lastError(), ModuleInteract::ErrTooLarge);
    EXPECT_FALSE(mi->lastErrorText().isEmpty());
    EXPECT_TRUE(rig.requests().empty());
}

TEST(ModuleInteract, RegionsAndAreaLimits)
{
    EXPECT_EQ(ModuleInteract::regionAddress(0, 0), 0xC00000u);
    EXPECT_EQ(ModuleInteract::regionAddress(3, 0), 0xF00000u);
    EXPECT_EQ(ModuleInteract::regionAddress(4, 0), ModuleInteract::kInvalidAddress);
    EXPECT_EQ(ModuleInteract::regionAddress(7, 1), 0x1400000u);
    EXPECT_EQ(ModuleInteract::regionAddress(19, 2), 0x1B00000u + 19u * 0x36000u);
    EXPECT_EQ(ModuleInteract::regionAddress(20, 2), ModuleInteract::kInvalidAddress);

    EXPECT_EQ(ModuleInteract::areaEnd(0x000000), 0x300000u);  // Logic 0 up to NOIS 0
    EXPECT_EQ(ModuleInteract::areaEnd(0x1300000), 0x1400000u); // OCC 4 up to the bad-pixel table
    EXPECT_EQ(ModuleInteract::areaEnd(0x1428000), 0x142A000u); // ISP factory up to ISP init
    EXPECT_EQ(ModuleInteract::areaEnd(0x17A0000), 0x1900000u);
    // Each no-shutter base ends where the next begins; after the twentieth, the flash.
    EXPECT_EQ(ModuleInteract::areaEnd(0x1B00000 + 5 * 0x36000), 0x1B00000u + 6 * 0x36000);
    EXPECT_EQ(ModuleInteract::areaEnd(0x1B00000 + 19 * 0x36000 + 1), 0x1B00000u + 20 * 0x36000);
    EXPECT_EQ(ModuleInteract::areaEnd(0x1B00000 + 20 * 0x36000), ModuleInteract::kFlashEnd);
    EXPECT_FALSE(ModuleInteract::fitsArea(0x1B00000, 640 * 510 * 2)); // a 640 x 512 core's base
    EXPECT_TRUE(ModuleInteract::fitsArea(0x1428000, 0x2000));
    EXPECT_FALSE(ModuleInteract::fitsArea(0x1428000, 0x2001));
    EXPECT_TRUE(ModuleInteract::fitsArea(0x1430000, 640 * 512 * 2)); // a full-size TEC frame
    EXPECT_FALSE(ModuleInteract::fitsArea(ModuleInteract::kFlashEnd, 1));
    EXPECT_FALSE(ModuleInteract::fitsArea(0x1FFFFFF, 2));
}
