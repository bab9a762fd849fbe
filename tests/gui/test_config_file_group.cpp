// The configuration page's file group, read-back buttons and OCC buttons against the
// virtual camera, run through the device runner as the operator would.
#include "CDevice.h"
#include "CWriteFileTypes.h"
#include "ConfigPageWidget.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "ModuleInteract.h"
#include "Pace.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using guitest::takeMessages;
using transfertest::TransferRig;

namespace {

using Msg = QPair<QString, QString>;
const Msg kDone{"提示", "升级完成"};

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString writeTemp(QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
    return path;
}

class FileGroup : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig = std::make_unique<TransferRig>();
        ASSERT_TRUE(rig->ok()) << rig->error();
        page = std::make_unique<ConfigPageWidget>();
        page->show();
        chooser = std::make_shared<guitest::ScriptedChooser>();
        FileChooser::setProvider(chooser);
        takeMessages();
        type = child<QComboBox>(page.get(), "m_pCbxWriteType");
        area = child<QComboBox>(page.get(), "m_pCbxWriteAddr");
        path = child<QComboBox>(page.get(), "m_pCbxFilePath");
    }
    void TearDown() override
    {
        EXPECT_TRUE(DeviceRunner::instance()->waitIdle(60000));
        FileChooser::setProvider(nullptr);
        page.reset();
        rig.reset();
        takeMessages();
    }
    // Chooses a file through the browse button, as the operator does.
    void choose(const QString& file)
    {
        chooser->nextOpen = file;
        child<QPushButton>(page.get(), "m_pBtnScanFile")->click();
    }
    void clickAndWait(const char* button)
    {
        child<QPushButton>(page.get(), button)->click();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(60000));
        EXPECT_TRUE(page->isEnabled());
    }

    std::unique_ptr<TransferRig> rig;
    std::unique_ptr<ConfigPageWidget> page;
    std::shared_ptr<guitest::ScriptedChooser> chooser;
    QComboBox* type = nullptr;
    QComboBox* area = nullptr;
    QComboBox* path = nullptr;
    QTemporaryDir dir;
};

} // namespace

TEST_F(FileGroup, TypeChangeEmptiesThePathAndOffersTheTypesAreas)
{
    EXPECT_EQ(type->count(), 4);
    EXPECT_TRUE(area->isHidden()) << "OCC files go to all four areas";
    choose(dir.filePath("a.dat"));
    choose(dir.filePath("b.dat"));
    choose(dir.filePath("a.dat")); // already listed: selected, not added again
    EXPECT_EQ(path->count(), 2);
    EXPECT_EQ(path->currentText(), dir.filePath("a.dat"));
    EXPECT_EQ(path->toolTip(), dir.filePath("a.dat"));
    EXPECT_EQ(chooser->filters.last(), QStringLiteral("OCC文件(*.dat);;全部文件(*.*)"));

    type->setCurrentIndex(CWriteFileTypes::TypeFpga);
    EXPECT_EQ(path->count(), 0);
    EXPECT_TRUE(path->currentText().isEmpty());
    EXPECT_FALSE(area->isHidden());
    ASSERT_EQ(area->count(), 6);
    EXPECT_EQ(area->itemText(3), QStringLiteral("NOIS  0"));
    type->setCurrentIndex(CWriteFileTypes::TypeIsp);
    EXPECT_EQ(area->count(), 2);
    EXPECT_EQ(area->itemText(1), QStringLiteral("初始化"));
    type->setCurrentIndex(CWriteFileTypes::TypeOcc);
    EXPECT_TRUE(area->isHidden());
}

TEST_F(FileGroup, EmptyPathAsksForAFileAndSendsNothing)
{
    clickAndWait("m_pBtnWriteFile");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "请先选择文件"}}));
    EXPECT_TRUE(rig->requests().empty());
}

// A ".dat" table and the ".bin" beside it: what the operator already has there is
// replaced only with their consent, and a table without numbers is never written.
struct DatCase {
    const char* name;
    QByteArray text;
    QByteArray existingBin; // empty: no ".bin" yet
    int answer;             // to the question, if one is asked
    bool asked;
    bool sent;
};

class DatGuard : public FileGroup, public ::testing::WithParamInterface<DatCase> {};

TEST_P(DatGuard, BinBesideTheTable)
{
    const DatCase& c = GetParam();
    const QByteArray converted = QByteArray::fromHex("00010100ffff");
    const QString bin = dir.filePath("occ_small.bin");
    if (!c.existingBin.isEmpty())
        writeTemp(dir, "occ_small.bin", c.existingBin);
    guitest::setMessageAnswer(c.answer);
    choose(writeTemp(dir, "occ_small.dat", c.text));
    clickAndWait("m_pBtnWriteFile");
    guitest::setMessageAnswer(1);
    const auto msgs = takeMessages();
    const bool asked = !msgs.isEmpty() && msgs[0].second.startsWith(QStringLiteral("转换结果与已有的同名文件不同"));
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(!rig->requests().empty(), c.sent);
    if (c.sent) {
        EXPECT_EQ(irtest::readAll(bin), converted);
        EXPECT_EQ(rig->flash(0x1300000, 6), converted);
        EXPECT_EQ(msgs.last(), Msg("提示", "升级完成\n文件：" + QDir::toNativeSeparators(bin)));
    } else {
        EXPECT_EQ(irtest::readAll(bin), c.existingBin) << "the operator's file stays as it was";
        if (!c.asked)
            EXPECT_TRUE(!msgs.isEmpty() && msgs[0].second.startsWith(QStringLiteral("文件中没有数值")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileGroup, DatGuard,
    ::testing::Values(DatCase{"NoBinYet", "1\n256\n-1\n", {}, 1, false, true},
                      DatCase{"SameBin", "1\n256\n-1\n", QByteArray::fromHex("00010100ffff"), 1, false, true},
                      DatCase{"OtherBinReplaced", "1\n256\n-1\n", QByteArray(5000, 'x'), 1, true, true},
                      DatCase{"OtherBinKept", "1\n256\n-1\n", QByteArray(5000, 'x'), 0, true, false},
                      DatCase{"NoNumberRefused", "abc\n\nxyz\n", QByteArray(5000, 'x'), 1, false, false},
                      DatCase{"NoNumberNoBin", "# none\n", {}, 1, false, false}),
    [](const ::testing::TestParamInfo<DatCase>& info) { return std::string(info.param.name); });

TEST_F(FileGroup, Logic0SendsAddressZeroAndTheFileUnchanged)
{
    type->setCurrentIndex(CWriteFileTypes::TypeFpga);
    area->setCurrentIndex(0);
    // An FPGA image named ".dat" is still an image: sent as it is, no ".bin" made.
    const QByteArray image = transfertest::pattern(2345, 4);
    choose(writeTemp(dir, "logic.dat", image));
    clickAndWait("m_pBtnWriteFile");
    EXPECT_EQ(takeMessages(), QList<Msg>{kDone});
    EXPECT_EQ(rig->blockData(0xE3).at(0), QByteArray(4, '\0'));
    EXPECT_EQ(rig->flash(0, image.size()), image);
    EXPECT_FALSE(QFile::exists(dir.filePath("logic.bin")));
    EXPECT_EQ(child<QProgressBar>(page.get(), "m_pPgbWriteFile")->value(), 100);
}

TEST_F(FileGroup, OccTextFileGoesToAllFourAreasThenOneMessage)
{
    choose(writeTemp(dir, "occ.dat", "1\n256\n-1\n"));
    clickAndWait("m_pBtnWriteFile");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{kDone.first, kDone.second + "\n文件：" + QDir::toNativeSeparators(dir.filePath("occ.bin"))}}));
    const QByteArray expected = QByteArray::fromHex("00010100ffff");
    EXPECT_EQ(QDir(dir.path()).entryList({"occ.bin"}).size(), 1);
    const auto addresses = rig->blockData(0xE3);
    ASSERT_EQ(addresses.size(), 4u);
    const QVector<uint32_t> occ = CWriteFileTypes::occAddresses();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(addresses[size_t(i)], QByteArray::fromHex(QByteArray::number(occ[i], 16).rightJustified(8, '0')));
        EXPECT_EQ(rig->flash(occ[i], 6), expected);
    }
    EXPECT_EQ(rig->core().commitCount(), 4);
}

TEST_F(FileGroup, OccWriteStopsAtTheFirstFailingArea)
{
    ASSERT_TRUE(rig->fault("zero@block:0xE3#2"));
    choose(writeTemp(dir, "occ.bin", transfertest::pattern(1500, 2)));
    clickAndWait("m_pBtnWriteFile");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"提示", "发送升级地址失败"}}));
    EXPECT_EQ(rig->blockData(0xE3).size(), 2u);
    EXPECT_EQ(rig->core().commitCount(), 1) << "the first area stays written";
    EXPECT_TRUE(rig->lastRequestIsExit());
}

TEST_F(FileGroup, ReadBackButtonsFillReadBackFiles)
{
    struct Button {
        const char* name;
        uint32_t address;
        const char* file;
    };
    const Button buttons[] = {
        {"m_pBtnReadPixelFromFPGA", 0x1400000, "Pixel.bin"}, {"m_pBtnReadOcc1FromFPGA", 0x1000000, "Occ1.bin"},
        {"m_pBtnReadOcc2FromFPGA", 0x1100000, "Occ2.bin"},   {"m_pBtnReadOcc3FromFPGA", 0x1200000, "Occ3.bin"},
        {"m_pBtnReadOcc4FromFPGA", 0x1300000, "Occ4.bin"},   {"m_pBtnReadk1FromFPGA", 0xC00000, "K1.bin"},
        {"m_pBtnReadk2FromFPGA", 0xD00000, "K2.bin"},         {"m_pBtnReadk3FromFPGA", 0xE00000, "K3.bin"},
        {"m_pBtnReadk4FromFPGA", 0xF00000, "K4.bin"},         {"m_pBtnReadCustomDataFromFPGA", 0x1A00000, "Data.bin"},
    };
    irtest::ScopedDataRoot root;
    int seed = 1;
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.name);
        const QByteArray data = transfertest::pattern(300 * seed + 7, seed);
        ++seed;
        ASSERT_TRUE(ModuleInteract::instance()->writeBlocksAt(
            b.address, 0, reinterpret_cast<const unsigned char*>(data.constData()), data.size()));
        clickAndWait(b.name);
        const QString out = ConfigPageWidget::readBackFolder() + "/" + b.file;
        EXPECT_EQ(takeMessages(), (QList<Msg>{{kDone.first, kDone.second + "\n文件：" + QDir::toNativeSeparators(out)}}));
        EXPECT_EQ(irtest::readAll(out), data);
    }
    EXPECT_EQ(ConfigPageWidget::readBackFolder(), root.path() + "/ReadBackFiles");
}

TEST_F(FileGroup, OccButtonShowsTheRemainingTimeAndCompletes)
{
    struct FastClock {
        double scale = Pace::scale();
        FastClock()
        {
            Pace::setScale(0.0005);
            DataExchange::setPollIntervalMs(transfertest::kPollMs * scale / 0.0005);
        }
        ~FastClock()
        {
            Pace::setScale(scale);
            DataExchange::setPollIntervalMs(transfertest::kPollMs);
        }
    } fast;
    QStringList status;
    QObject receiver;
    QObject::connect(DeviceRunner::instance(), &DeviceRunner::signalStatus, &receiver,
                     [&status](const QString& s) { status << s; });
    QLabel* label = child<QLabel>(page.get(), "m_pLabOccStatus");
    bool sawCountdown = false;
    child<QPushButton>(page.get(), "m_pBtnDoOcc2")->click();
    EXPECT_FALSE(page->isEnabled());
    guitest::waitUntil([&] {
        sawCountdown = sawCountdown || label->text().contains(QStringLiteral("剩余"));
        return !DeviceRunner::instance()->busy();
    }, 60000);
    EXPECT_TRUE(sawCountdown) << "the page shows the countdown while the core works";
    EXPECT_TRUE(status.contains(QStringLiteral("Occ2 校正中，剩余 6 分 00 秒")));
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"提示", "occ2完成"}}));
    EXPECT_EQ(rig->core().longRegister(0xF020), 0x102u);
    EXPECT_TRUE(label->text().isEmpty());
}

TEST_F(FileGroup, WithoutADeviceNothingStarts)
{
    CDevice::SetConnect(nullptr);
    child<QPushButton>(page.get(), "m_pBtnReadOcc1FromFPGA")->click();
    EXPECT_FALSE(DeviceRunner::instance()->busy());
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "未连接任何设备!"}}));
}
