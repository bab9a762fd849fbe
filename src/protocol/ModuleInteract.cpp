#include "ModuleInteract.h"

#include "UpgradeWriter.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <iterator>

namespace {

std::atomic<int> g_lastError{0};
std::atomic<int> g_state{0};

// Start addresses of the core's flash areas, ascending. The temperature-drift
// coefficients (0x1900000..0x1946000) and the no-shutter bases (0x1B00000 + n x
// 0x36000) are packed more tightly than the larger resolutions need, so each of
// those two ranges counts as one area here.
const uint32_t kAreaStarts[] = {
    0x0000000, 0x0300000, 0x0400000, 0x0700000, 0x0800000, 0x0B00000,  // FPGA images
    0x0C00000, 0x0D00000, 0x0E00000, 0x0F00000,                        // gain tables
    0x1000000, 0x1100000, 0x1200000, 0x1300000,                        // OCC tables
    0x1400000,                                                         // bad-pixel table
    0x1420000, 0x1421000, 0x1422000, 0x1423000,                        // configuration codes
    0x1428000, 0x142A000,                                              // ISP
    0x142C000, 0x142E000, 0x142F000,                                   // sensor ID, core ID, batch
    0x1430000, 0x14E0000, 0x1590000, 0x1640000, 0x16F0000, 0x17A0000,  // TEC frames / NVFFC
    0x1900000,                                                         // drift coefficients
    0x1B00000,                                                         // no-shutter bases
};

} // namespace

ModuleInteract* ModuleInteract::instance()
{
    // Thread-safe first use; the object lives until the program ends.
    static ModuleInteract* mi = [] {
        auto* m = new ModuleInteract;
        if (QCoreApplication::instance())
            m->moveToThread(QCoreApplication::instance()->thread());
        return m;
    }();
    return mi;
}

ModuleInteract::ModuleInteract()
    : QObject(nullptr)
{
}

QString ModuleInteract::errorText(int code)
{
    switch (code) {
    case ErrEnter: return QStringLiteral("进入升级模式失败");
    case ErrConfirm: return QStringLiteral("确认进入升级模式失败");
    case ErrExit: return exitFailedText();
    case ErrAddress: return QStringLiteral("发送升级地址失败");
    case ErrSize: return QStringLiteral("发送文件大小失败");
    case ErrBlock: return QStringLiteral("写文件数据块失败");
    case ErrEnd: return QStringLiteral("升级结束失败");
    case ErrReload: return QStringLiteral("重新导入对应标定数据到内存失败");
    case ErrTooLarge: return QStringLiteral("数据超出目标存储区域，未写入");
    case ErrBadRegion: return QStringLiteral("目标存储区域无效，未写入");
    case ErrSource: return QStringLiteral("待写入的数据无法读取，未写入");
    default: return QString();
    }
}

uint32_t ModuleInteract::regionAddress(int index, int kind)
{
    switch (kind) {
    case 0:
        if (index >= 0 && index <= 3)
            return 0xC00000u + uint32_t(index) * 0x100000u;
        return kInvalidAddress;
    case 1:
        return 0x1400000u;
    case 2:
        if (index >= 0 && index < 20)
            return uint32_t(index) * 0x36000u + 0x1B00000u;
        return kInvalidAddress;
    default:
        return kInvalidAddress;
    }
}

uint32_t ModuleInteract::areaEnd(uint32_t address)
{
    // The twenty no-shutter bases lie back to back: a larger base runs into the next.
    constexpr uint32_t kBaseStart = 0x1B00000, kBaseSlot = 0x36000, kBases = 20;
    if (address >= kBaseStart && address < kBaseStart + kBases * kBaseSlot)
        return kBaseStart + ((address - kBaseStart) / kBaseSlot + 1) * kBaseSlot;
    const auto* next = std::upper_bound(std::begin(kAreaStarts), std::end(kAreaStarts), address);
    return next == std::end(kAreaStarts) ? kFlashEnd : *next;
}

bool ModuleInteract::fitsArea(uint32_t address, qint64 size)
{
    if (address >= kFlashEnd || size < 0)
        return false;
    return size <= qint64(areaEnd(address)) - qint64(address);
}

int ModuleInteract::state() const
{
    return g_state.load();
}

int ModuleInteract::lastError() const
{
    return g_lastError.load();
}

QString ModuleInteract::lastErrorText() const
{
    return errorText(g_lastError.load());
}

bool ModuleInteract::enterUpgradeMode()
{
    const int code = enterUpgradeSteps();
    if (code == ErrEnter) {
        g_lastError = ErrEnter;
        return false;
    }
    g_state = StateEntered;
    if (code == ErrConfirm) {
        g_lastError = ErrConfirm;
        return false;
    }
    g_state = StateConfirmed;
    return true;
}

bool ModuleInteract::exitUpgradeMode()
{
    if (!sendExitStep()) {
        g_lastError = ErrExit;
        return false;
    }
    g_state = StateIdle;
    return true;
}

bool ModuleInteract::beginUpgrade(int skip)
{
    if (skip != 0)
        return false;
    if (enterUpgradeMode())
        return true;
    exitUpgradeMode(); // a half-entered core is brought back to a known state
    return false;
}

bool ModuleInteract::writeFileBlocks(int mode, const unsigned char* data, int size, int region)
{
    const uint32_t address = regionAddress(region, 0);
    if (address == kInvalidAddress) {
        g_lastError = ErrBadRegion;
        return false;
    }
    return writeBlocksAt(address, mode, data, size);
}

bool ModuleInteract::writeBlocksAt(uint32_t address, int mode, const unsigned char* data, int size)
{
    if (!data || size <= 0)
        return false;

    // The routine tells nobody; its callers show lastErrorText() themselves.
    class Silent : public TransferContext {
    public:
        void message(const QString&, const QString&) override {}
    } ctx;
    UpgradeOptions options;
    options.finalEmptyBlock = false;
    options.reload = mode == 1;
    options.exitFailureFails = false; // the data is in flash once the end is acknowledged
    options.tellFailures = false;
    options.progress = [this](int percent) { emit signalFileHasWriteBlocks(percent); };
    options.stepDone = [](UpgradeStep step) {
        switch (step) {
        case UpgradeStep::Enter: g_state = StateEntered; break;
        case UpgradeStep::Confirm: g_state = StateConfirmed; break;
        case UpgradeStep::Address: g_state = StateAddressSent; break;
        case UpgradeStep::Size: g_state = StateSizeSent; break;
        case UpgradeStep::Block: g_state = StateBlockWritten; break;
        case UpgradeStep::End: g_state = StateEndSent; break;
        case UpgradeStep::Reload: g_state = StateReloadSent; break;
        case UpgradeStep::Exit: g_state = StateIdle; break;
        default: break;
        }
    };
    MemorySource source(data, size);
    const UpgradeResult r = writeUpgrade(ctx, address, source, options);
    if (r.code != 0)
        g_lastError = r.code;
    return r.ok;
}
