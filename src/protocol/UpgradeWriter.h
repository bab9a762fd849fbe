#pragma once

#include "HistoryEvent.h"
#include "TransferContext.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// The one upgrade-mode write into the core's flash. Every sequence that writes flash
// goes through it, none writes the steps again: the configuration page's file write,
// ModuleInteract's routine, the gain tables, the bad-pixel table and its reset, and
// those still to come (detector identity and configuration-code areas, file sending,
// no-shutter bases, NVFFC models, drift coefficient files). The steps:
//
//   enter 0xF0E0 = 1, confirm 0xF0E1 = 1, [pause], address E3, size E4,
//   data blocks EE of 1000 bytes [+ one empty block after a multiple of 1000],
//   end E5, [reload EC 1], [pause, address .. end for each further area], exit E6
//
// each acknowledged with 1 before the next. What the callers differ in are options,
// not copies. Whatever fails, the core is sent the exit step; the end step never
// follows a failed or cancelled data block, because ending commits what the core has
// received so far into flash.

// The bytes to write, read block by block: memory, or a file that is never read whole.
class UpgradeSource {
public:
    virtual ~UpgradeSource() = default;
    virtual bool open() = 0;
    virtual qint64 size() const = 0;
    // The next bytes, at most `max`, into `buf`; -1 when reading fails.
    virtual qint64 read(char* buf, qint64 max) = 0;
};

class MemorySource : public UpgradeSource {
public:
    MemorySource(const void* data, qint64 size);
    explicit MemorySource(const QByteArray& bytes);
    bool open() override;
    qint64 size() const override { return m_size; }
    qint64 read(char* buf, qint64 max) override;

private:
    QByteArray m_keep; // holds a QByteArray's bytes for the writer's lifetime
    const char* m_data;
    qint64 m_size;
    qint64 m_pos = 0;
};

class FileSource : public UpgradeSource {
public:
    explicit FileSource(const QString& path);
    bool open() override;
    qint64 size() const override;
    qint64 read(char* buf, qint64 max) override;

private:
    QFile m_file;
};

enum class UpgradeStep {
    None, Open, Empty, TooLarge, Enter, Confirm, Address, Size, Block, End, Reload, Exit,
};

// What the operator is told when a step fails (title "提示"). An empty text fails the
// step without a message.
// "退出升级失败" and that the core may still be in upgrade mode.
QString exitFailedText();

struct UpgradeTexts {
    QString open = QStringLiteral("文件打开失败");
    QString empty = QStringLiteral("文件为空，未写入");
    QString tooLarge; // empty: the size, the start address and the room of the area
    QString enter = QStringLiteral("进入升级模式失败");
    QString confirm = QStringLiteral("进入升级模式写入失败");
    QString address = QStringLiteral("发送升级地址失败");
    QString size = QStringLiteral("发送升级包个数失败");
    QString read = QStringLiteral("文件读取失败");
    QString block = QStringLiteral("文件写入失败");
    QString end = QStringLiteral("升级结束失败");
    QString reload = QStringLiteral("重新导入对应标定数据到内存失败");
    QString exit = exitFailedText();
};

struct UpgradeOptions {
    // A size that is a multiple of 1000 ends with one data block that carries nothing.
    bool finalEmptyBlock = true;
    // Reload the written calibration data into the core's working memory (EC 1).
    bool reload = false;
    // An empty source goes out as size 0 and no data block (a bad-pixel table without
    // records); otherwise it is refused before upgrade mode.
    bool allowEmpty = false;
    // Nominal wait between the confirm and the address (Pace, cancellable): the core
    // erases the gain area there, and blocks sent earlier are lost.
    double pauseBeforeAddressMs = 0;
    // The same bytes into further areas inside the same upgrade mode: address, size,
    // blocks, end [, reload] for each, after a pause (Pace, cancellable); the exit after
    // the last (a detector's configuration code goes into four areas).
    std::vector<uint32_t> moreAddresses;
    double pauseBetweenAreasMs = 0;
    // A failing exit after a complete write: a failure (the page tells the operator),
    // or only the code (the data is in flash all the same).
    bool exitFailureFails = true;
    // Failures are told through the context; off, they are only the result's code.
    bool tellFailures = true;
    UpgradeTexts texts;
    // Progress 0 before the first data block, then blocks sent x 100 / blocks, and 100
    // at the end. Unset: the context's setProgress.
    std::function<void(int percent)> progress;
    // Each step as the core acknowledges it.
    std::function<void(UpgradeStep)> stepDone;
    // The history event of the write is left in the result for the caller, who reads
    // it back and records it with recordVerifiedWrite (otherwise recorded at once).
    bool recordLater = false;
    // What the history calls the data ("gain_table K1", "pixel_table", a file name).
    QString what;
};

struct UpgradeResult {
    bool ok = false;
    bool cancelled = false;
    UpgradeStep failedStep = UpgradeStep::None;
    // ModuleInteract's code of the failure (0 none; a failing exit after a failure
    // turns it into the exit's code). Set on success too when the exit failed.
    int code = 0;
    // Address, size, SHA-256 of the bytes sent, pacing, duration, failing step.
    HistoryEvent history;
};

UpgradeResult writeUpgrade(TransferContext& ctx, uint32_t address, UpgradeSource& source,
                           const UpgradeOptions& options = UpgradeOptions());

// Records a write's event with the read-back's verdict: a mismatch fails it at the
// step "verify".
void recordVerifiedWrite(HistoryEvent event, int selector, bool verified);
// "enter", "block", ...: the step's name in the history.
QString upgradeStepName(UpgradeStep step);

// The enter and exit steps on their own, for the read-back, which is the mirror
// sequence. enterUpgradeSteps gives 0, or ModuleInteract's code of the failing step.
int enterUpgradeSteps();
// Retried up to kExitRetries times when the core refuses it (not when it is silent).
constexpr int kExitRetries = 3;
bool sendExitStep();


// The read-back's enter: a refusal is told ("进入升级模式失败" / "进入升级模式写入失败")
// and the exit step sent.
bool enterUpgradeMode(TransferContext& ctx);
// A failed step: its message (title "提示"), then the exit step; always false.
bool failAndExitUpgrade(TransferContext& ctx, const QString& text);

// "文件大小 … 超出目标区域 …": why `size` bytes cannot be written at `address`.
QString upgradeTooLargeText(uint32_t address, qint64 size);
