#include "UpgradeWriter.h"

#include <vector>

#include "CFramePacker.h"
#include "CoreCommands.h"
#include "DataExchange.h"
#include "HistoryRecorder.h"
#include "ModuleInteract.h"
#include "Pace.h"
#include "RemainingTime.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using namespace corecmd;

const QString kTitle = QStringLiteral("提示");
constexpr int kBlock = ModuleInteract::kBlockSize;
constexpr double kPauseTickMs = 100.0;

bool sendWord(int cmd, uint32_t value)
{
    unsigned char word[4];
    writeU32BE(value, word);
    return DataExchange::instance()->writeBlock(cmd, word, 4);
}

QString hexAddress(uint32_t a)
{
    return QStringLiteral("0x") + QString::number(a, 16).toUpper().rightJustified(7, QLatin1Char('0'));
}

// Fills `buf` with exactly `want` bytes of the source; false when it ends early or fails
// (a file that shrank since its size was taken).
bool readExactly(UpgradeSource& source, char* buf, qint64 want)
{
    qint64 got = 0;
    while (got < want) {
        const qint64 n = source.read(buf + got, want - got);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// One run of the sequence; keeps what it tells and reports.
class Run {
public:
    Run(TransferContext& ctx, const UpgradeOptions& options)
        : m_ctx(ctx)
        , m_opt(options)
    {
    }

    UpgradeResult write(uint32_t address, UpgradeSource& source);
    QString sha256() const { return QString::fromLatin1(m_hash.result().toHex()); }
    qint64 bytesSent() const { return m_bytesSent; }

private:
    void done(UpgradeStep step)
    {
        if (m_opt.stepDone)
            m_opt.stepDone(step);
    }
    void progress(int percent)
    {
        m_lastPercent = percent;
        if (m_opt.progress)
            m_opt.progress(percent);
        else
            m_ctx.setProgress(percent);
    }
    void tell(const QString& text)
    {
        if (m_opt.tellFailures && !text.isEmpty())
            m_ctx.message(kTitle, text);
    }
    // Before upgrade mode: nothing has been sent, nothing to leave.
    UpgradeResult refuse(UpgradeStep step, int code, const QString& text)
    {
        m_result.failedStep = step;
        m_result.code = code;
        tell(text);
        return m_result;
    }
    // In upgrade mode: the step's message, then the exit.
    UpgradeResult fail(UpgradeStep step, int code, const QString& text)
    {
        m_result.failedStep = step;
        m_result.code = code;
        tell(text);
        leave();
        return m_result;
    }
    // The program is closing or the operator stopped: no message, just the exit.
    UpgradeResult cancel()
    {
        m_result.cancelled = true;
        leave();
        return m_result;
    }
    void leave()
    {
        if (sendExitStep())
            done(UpgradeStep::Exit);
        else
            m_result.code = ModuleInteract::ErrExit;
    }

    TransferContext& m_ctx;
    const UpgradeOptions& m_opt;
    UpgradeResult m_result;
    int m_lastPercent = -1;
    // Of the first area's bytes as they went out (the further areas get the same).
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_bytesSent = 0;
};

UpgradeResult Run::write(uint32_t address, UpgradeSource& source)
{
    const UpgradeTexts& t = m_opt.texts;
    if (address >= ModuleInteract::kFlashEnd)
        return refuse(UpgradeStep::TooLarge, ModuleInteract::ErrTooLarge, upgradeTooLargeText(address, 0));
    if (!source.open())
        return refuse(UpgradeStep::Open, ModuleInteract::ErrSource, t.open);
    const qint64 size = source.size();
    if (size == 0 && !m_opt.allowEmpty)
        return refuse(UpgradeStep::Empty, ModuleInteract::ErrSource, t.empty);
    std::vector<uint32_t> areas{address};
    areas.insert(areas.end(), m_opt.moreAddresses.begin(), m_opt.moreAddresses.end());
    // Refused before upgrade mode: the next area must not be overwritten.
    for (uint32_t a : areas)
        if (!ModuleInteract::fitsArea(a, size))
            return refuse(UpgradeStep::TooLarge, ModuleInteract::ErrTooLarge,
                          t.tooLarge.isEmpty() ? upgradeTooLargeText(a, size) : t.tooLarge);

    DataExchange* dx = DataExchange::instance();
    if (!dx->writeRegister(kEnterRegister, 1))
        return fail(UpgradeStep::Enter, ModuleInteract::ErrEnter, t.enter);
    done(UpgradeStep::Enter);
    if (!dx->writeRegister(kConfirmRegister, 1))
        return fail(UpgradeStep::Confirm, ModuleInteract::ErrConfirm, t.confirm);
    done(UpgradeStep::Confirm);

    for (double waited = 0; waited < m_opt.pauseBeforeAddressMs; waited += kPauseTickMs) {
        if (m_ctx.cancelled())
            return cancel();
        Pace::sleepMs(std::min(kPauseTickMs, m_opt.pauseBeforeAddressMs - waited));
    }

    const qint64 blocks = (size + kBlock - 1) / kBlock;
    const bool emptyLast = m_opt.finalEmptyBlock && size > 0 && size % kBlock == 0;
    const qint64 perArea = blocks + (emptyLast ? 1 : 0);
    const qint64 allBlocks = perArea * qint64(areas.size());
    // The pauses between areas count as work on the bar and in the remaining time: a
    // short configuration code into four areas is mostly waiting.
    const qint64 ticksPerPause = qint64(std::ceil(std::max(0.0, m_opt.pauseBetweenAreasMs) / kPauseTickMs));
    const qint64 allTicks = ticksPerPause * qint64(areas.size() - 1);
    const qint64 units = blocks * qint64(areas.size()) + allTicks;
    progress(0);
    RemainingTime remaining;
    remaining.start(allBlocks + allTicks);
    qint64 sent = 0;
    qint64 ticks = 0;
    auto advance = [&]() {
        progress(int(std::min<qint64>(100, (sent + ticks) * 100 / std::max<qint64>(units, 1))));
        bool changed = false;
        const QString left = remaining.after(sent + ticks, &changed);
        if (changed)
            m_ctx.setStatus(left);
    };
    for (size_t area = 0; area < areas.size(); ++area) {
        if (area > 0) {
            // The same bytes again, from the start, into the next area.
            for (double waited = 0; waited < m_opt.pauseBetweenAreasMs; waited += kPauseTickMs) {
                if (m_ctx.cancelled())
                    return cancel();
                Pace::sleepMs(std::min(kPauseTickMs, m_opt.pauseBetweenAreasMs - waited));
                ++ticks;
                advance();
            }
            if (!source.open())
                return fail(UpgradeStep::Block, ModuleInteract::ErrSource, t.read);
        }
        if (!sendWord(kCmdAddress, areas[area]))
            return fail(UpgradeStep::Address, ModuleInteract::ErrAddress, t.address);
        done(UpgradeStep::Address);
        if (!sendWord(kCmdSize, uint32_t(size)))
            return fail(UpgradeStep::Size, ModuleInteract::ErrSize, t.size);
        done(UpgradeStep::Size);

        char buf[kBlock];
        for (qint64 k = 0; k < perArea; ++k) {
            if (m_ctx.cancelled())
                return cancel(); // without the end step the core discards what it got
            const qint64 n = std::min<qint64>(kBlock, size - k * kBlock);
            if (n > 0 && !readExactly(source, buf, n))
                return fail(UpgradeStep::Block, ModuleInteract::ErrSource, t.read);
            if (!dx->writeBlock(kCmdData, buf, int(std::max<qint64>(n, 0))))
                return fail(UpgradeStep::Block, ModuleInteract::ErrBlock, t.block);
            if (area == 0 && n > 0) {
                m_hash.addData(QByteArrayView(buf, n));
                m_bytesSent += n;
            }
            done(UpgradeStep::Block);
            ++sent;
            advance();
        }

        if (!dx->writeBlock(kCmdEnd, nullptr, 0))
            return fail(UpgradeStep::End, ModuleInteract::ErrEnd, t.end);
        done(UpgradeStep::End);
        if (m_opt.reload) {
            const unsigned char one = 1;
            if (!dx->writeBlock(kCmdReload, &one, 1))
                return fail(UpgradeStep::Reload, ModuleInteract::ErrReload, t.reload);
            done(UpgradeStep::Reload);
        }
    }
    if (m_lastPercent != 100)
        progress(100);

    if (!sendExitStep()) {
        // The data is in flash once the end is acknowledged; whether a failing exit
        // fails the write is the caller's choice.
        m_result.code = ModuleInteract::ErrExit;
        if (m_opt.exitFailureFails) {
            m_result.failedStep = UpgradeStep::Exit;
            tell(t.exit);
            return m_result;
        }
        m_result.ok = true;
        return m_result;
    }
    done(UpgradeStep::Exit);
    m_result.ok = true;
    return m_result;
}

} // namespace

MemorySource::MemorySource(const void* data, qint64 size)
    : m_data(static_cast<const char*>(data))
    , m_size(data ? std::max<qint64>(size, 0) : 0)
{
}

MemorySource::MemorySource(const QByteArray& bytes)
    : m_keep(bytes)
    , m_data(m_keep.constData())
    , m_size(m_keep.size())
{
}

bool MemorySource::open()
{
    m_pos = 0;
    return true;
}

qint64 MemorySource::read(char* buf, qint64 max)
{
    const qint64 n = std::min(max, m_size - m_pos);
    if (n <= 0)
        return 0;
    std::memcpy(buf, m_data + m_pos, size_t(n));
    m_pos += n;
    return n;
}

FileSource::FileSource(const QString& path)
    : m_file(path)
{
}

bool FileSource::open()
{
    return m_file.isOpen() || m_file.open(QIODevice::ReadOnly);
}

qint64 FileSource::size() const
{
    return m_file.isOpen() ? m_file.size() : -1;
}

qint64 FileSource::read(char* buf, qint64 max)
{
    return m_file.read(buf, max);
}

UpgradeResult writeUpgrade(TransferContext& ctx, uint32_t address, UpgradeSource& source,
                           const UpgradeOptions& options)
{
    HistoryEvent e(HistoryKind::FlashWrite);
    QElapsedTimer clock;
    clock.start();
    Run run(ctx, options);
    UpgradeResult r = run.write(address, source);

    QJsonObject& d = e.details;
    d["address"] = hexAddress(address);
    if (!options.moreAddresses.empty()) {
        QJsonArray more;
        for (uint32_t a : options.moreAddresses)
            more.append(hexAddress(a));
        d["more_addresses"] = more;
    }
    if (!options.what.isEmpty())
        d["what"] = options.what;
    d["size"] = double(std::max<qint64>(source.size(), 0));
    d["bytes_sent"] = double(run.bytesSent());
    d["sha256"] = run.sha256();
    d["pacing"] = DataExchange::pacingName(DataExchange::pacing());
    d["poll_ms"] = DataExchange::pollIntervalMs();
    d["reload"] = options.reload;
    d["duration_ms"] = double(clock.elapsed());
    d["verified"] = QJsonValue::Null;
    if (r.ok && r.code == ModuleInteract::ErrExit)
        d["exit_failed"] = true;
    if (r.ok)
        e.succeed();
    else if (r.cancelled)
        e.fail(-1, QStringLiteral("已取消"), QStringLiteral("cancelled"));
    else
        e.fail(r.code, ModuleInteract::errorText(r.code), upgradeStepName(r.failedStep));
    r.history = e;
    if (!options.recordLater)
        HistoryRecorder::instance()->record(std::move(e));
    return r;
}

void recordVerifiedWrite(HistoryEvent e, int selector, bool verified)
{
    e.details["verified"] = verified;
    e.details["verify_selector"] = selector;
    if (e.ok && !verified)
        e.fail(ModuleInteract::ErrBlock, QStringLiteral("读回校验不一致"), QStringLiteral("verify"));
    HistoryRecorder::instance()->record(std::move(e));
}

QString upgradeStepName(UpgradeStep step)
{
    switch (step) {
    case UpgradeStep::None: return QString();
    case UpgradeStep::Open: return QStringLiteral("open");
    case UpgradeStep::Empty: return QStringLiteral("empty");
    case UpgradeStep::TooLarge: return QStringLiteral("too_large");
    case UpgradeStep::Enter: return QStringLiteral("enter");
    case UpgradeStep::Confirm: return QStringLiteral("confirm");
    case UpgradeStep::Address: return QStringLiteral("address");
    case UpgradeStep::Size: return QStringLiteral("size");
    case UpgradeStep::Block: return QStringLiteral("block");
    case UpgradeStep::End: return QStringLiteral("end");
    case UpgradeStep::Reload: return QStringLiteral("reload");
    case UpgradeStep::Exit: return QStringLiteral("exit");
    }
    return QString();
}

int enterUpgradeSteps()
{
    DataExchange* dx = DataExchange::instance();
    if (!dx->writeRegister(kEnterRegister, 1))
        return ModuleInteract::ErrEnter;
    if (!dx->writeRegister(kConfirmRegister, 1))
        return ModuleInteract::ErrConfirm;
    return 0;
}

bool sendExitStep()
{
    // A refused exit is asked again: a core left in upgrade mode ignores everything
    // else. A silent one is not: each try would cost the whole block budget.
    DataExchange* dx = DataExchange::instance();
    for (int attempt = 0;; ++attempt) {
        if (dx->writeBlock(kCmdExit, nullptr, 0))
            return true;
        if (attempt == kExitRetries || !dx->lastReplyReceived())
            return false;
        Pace::sleepMs(DataExchange::pollIntervalMs());
    }
}

QString exitFailedText()
{
    return QStringLiteral("退出升级失败\n机芯可能仍处于升级模式，请重新上电后再试");
}

bool failAndExitUpgrade(TransferContext& ctx, const QString& text)
{
    ctx.message(kTitle, text);
    sendExitStep();
    return false;
}

bool enterUpgradeMode(TransferContext& ctx)
{
    const UpgradeTexts texts;
    switch (enterUpgradeSteps()) {
    case 0: return true;
    case ModuleInteract::ErrEnter: return failAndExitUpgrade(ctx, texts.enter);
    default: return failAndExitUpgrade(ctx, texts.confirm);
    }
}

QString upgradeTooLargeText(uint32_t address, qint64 size)
{
    if (address >= ModuleInteract::kFlashEnd)
        return QStringLiteral("目标地址 %1 超出机芯存储范围，未写入").arg(hexAddress(address));
    const qint64 room = qint64(ModuleInteract::areaEnd(address)) - qint64(address);
    return QStringLiteral("文件大小 %1 字节超出目标区域（%2 起最多 %3 字节），未写入")
        .arg(size).arg(hexAddress(address)).arg(room);
}
