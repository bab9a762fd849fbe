// The configuration page's command console: history lines from any thread, custom
// commands kept in LocalCmd.ini, and the checks before anything is sent.
#include "ConfigPageWidget.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "LocalCommands.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

using guitest::takeMessages;
using guitest::waitUntil;

namespace {

using Msg = QPair<QString, QString>;

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<ConfigPageWidget>();
        history = child<QTextBrowser>(page.get(), "m_pTbrCmdHistory");
        table = child<QTableWidget>(page.get(), "m_pTabCustomCmd");
        desc = child<QLineEdit>(page.get(), "m_pEdtInputCmdDesc");
        addr = child<QLineEdit>(page.get(), "m_pEdtInputCmdAddr");
        value = child<QLineEdit>(page.get(), "m_pEdtInputCmdValue");
        takeMessages();
    }
    void TearDown() override
    {
        EXPECT_TRUE(DeviceRunner::instance()->waitIdle(30000));
        page.reset();
        takeMessages();
    }
    void send(const QString& a, const QString& v)
    {
        addr->setText(a);
        value->setText(v);
        child<QPushButton>(page.get(), "m_pBtnSendCmd")->click();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    }
    void add(const QString& d, const QString& a, const QString& v)
    {
        desc->setText(d);
        addr->setText(a);
        value->setText(v);
        child<QPushButton>(page.get(), "m_pBtnNewCmd")->click();
    }
    QColor lineColour(const QTextBlock& block) const
    {
        return block.begin().fragment().charFormat().foreground().color();
    }

    irtest::ScopedDataRoot root;
    std::unique_ptr<ConfigPageWidget> page;
    QTextBrowser* history = nullptr;
    QTableWidget* table = nullptr;
    QLineEdit* desc = nullptr;
    QLineEdit* addr = nullptr;
    QLineEdit* value = nullptr;
};

} // namespace

TEST_F(Console, HistoryLinesFromAWorkerThreadAreStampedAndColoured)
{
    const unsigned char sent[] = {0xF0, 0x0B, 0x36};
    const unsigned char recv[] = {0xF0, 0x07, 0x36, 0xFE};
    std::thread worker([&] {
        DataExchange::instance()->emitCommand(sent, 0, 3);
        DataExchange::instance()->emitCommand(recv, 1, 4);
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return history->document()->blockCount() == 2; }));

    const QTextBlock first = history->document()->firstBlock();
    const QRegularExpression stamp("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\]-");
    EXPECT_TRUE(stamp.match(first.text()).hasMatch()) << first.text().toStdString();
    EXPECT_TRUE(first.text().endsWith("-[S][f00b36]")) << first.text().toStdString();
    EXPECT_EQ(lineColour(first), QColor(Qt::blue));
    const QTextBlock second = first.next();
    EXPECT_TRUE(stamp.match(second.text()).hasMatch());
    EXPECT_TRUE(second.text().endsWith("-[R][f00736fe]")) << second.text().toStdString();
    EXPECT_EQ(lineColour(second), QColor(Qt::red));

    page->clearCmdHistory();
    EXPECT_TRUE(history->toPlainText().isEmpty());
}

TEST_F(Console, CustomCommandsPersistAndDeleteWithoutARowKeepsThem)
{
    add("", "F010", "1");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "描述或地址不能为空！"}}));
    add("desc only", "", "1");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "描述或地址不能为空！"}}));
    EXPECT_EQ(table->rowCount(), 0);

    add("打开快门", "F010", "1");
    add("原始命令", "F00B36FE000000F0100000000236FF", "");
    add("第三条", "F012", "3");
    const QVector<LocalCmdEntry> expected = {{"打开快门", "F010", "1"},
                                             {"原始命令", "F00B36FE000000F0100000000236FF", ""},
                                             {"第三条", "F012", "3"}};
    EXPECT_EQ(page->customCommands(), expected);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), QStringLiteral("新建列"));

    // A page built later reads the same list back.
    {
        ConfigPageWidget again;
        EXPECT_EQ(again.customCommands(), expected);
    }

    // Delete with no row: table unchanged, the file rewritten with the same list.
    table->setCurrentCell(-1, -1);
    QFile::remove(localCommandsPath());
    page->OnActionDelList();
    EXPECT_EQ(page->customCommands(), expected);
    QVector<LocalCmdEntry> stored;
    loadLocalCommands(stored);
    EXPECT_EQ(stored, expected);

    // Delete the middle row through the menu's action.
    table->setCurrentCell(1, 0);
    page->findChild<QAction*>("m_pActDelList")->trigger();
    stored.clear();
    loadLocalCommands(stored);
    EXPECT_EQ(stored, (QVector<LocalCmdEntry>{expected[0], expected[2]}));
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_TRUE(takeMessages().isEmpty());
}

TEST_F(Console, SendChecksTheInputAndRunsStoredCommands)
{
    transfertest::TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();

    send("", "1");
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "地址不能为空！"}}));
    send("F0 0B 36", "");  // separators
    send("F00G", "");      // not hex
    send(QString(66, 'A'), ""); // 33 bytes
    send("F010", "zz");    // value not hex
    send("F010", "123456789"); // more than 32 bits
    const auto refused = takeMessages();
    ASSERT_EQ(refused.size(), 5);
    for (const Msg& m : refused)
        EXPECT_EQ(m.first, QStringLiteral("警告"));
    EXPECT_TRUE(refused[2].second.contains("32")) << refused[2].second.toStdString();
    EXPECT_TRUE(rig.requests().empty()) << "nothing refused reaches the core";

    // Address and value: a register write; a whole frame typed as hex goes as it is.
    send("F010", "1");
    EXPECT_EQ(rig.core().longRegister(0xF010), 1u);
    send("0xF011", "0x2A");
    EXPECT_EQ(rig.core().longRegister(0xF011), 0x2Au);
    send("F00B36FE000000F0100000000236FF", "");
    EXPECT_EQ(rig.core().longRegister(0xF010), 2u);
    EXPECT_TRUE(takeMessages().isEmpty());
    EXPECT_GE(history->document()->blockCount(), 6) << "each frame sent and received is in the history";

    // Double-click runs a stored row.
    add("写F012", "F012", "7");
    page->OnTableDoubleClicked(table->model()->index(0, 0));
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    EXPECT_EQ(rig.core().longRegister(0xF012), 7u);
}

// A command the core leaves unanswered, or refuses with 0, gets its own history line
// after the frame that went out; no box interrupts the operator.
TEST_F(Console, UnansweredAndRefusedCommandsSaySoInTheHistory)
{
    transfertest::TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    ASSERT_TRUE(rig.fault("noreply@0xF010"));
    ASSERT_TRUE(rig.fault("zero@0xF011"));
    const QString budget = QString::number(DataExchange::pollIntervalMs() * DataExchange::kCommandPolls / 1000.0, 'g', 3);

    send("F010", "1");
    QString last = history->document()->lastBlock().text();
    EXPECT_TRUE(last.endsWith(QStringLiteral("-机芯未确认: %1 秒内未收到应答").arg(budget))) << last.toStdString();
    EXPECT_TRUE(history->document()->lastBlock().previous().text().contains("[S]"));

    send("F011", "1");
    last = history->document()->lastBlock().text();
    EXPECT_TRUE(last.endsWith(QStringLiteral("-机芯拒绝了该命令(应答值 0)"))) << last.toStdString();

    const int lines = history->document()->blockCount();
    send("F012", "1"); // answered: only its frames
    EXPECT_EQ(history->document()->blockCount(), lines + 2);
    EXPECT_TRUE(takeMessages().isEmpty());
}
