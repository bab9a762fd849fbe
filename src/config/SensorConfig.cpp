#include "SensorConfig.h"

#include "HistoryRecorder.h"
#include "NotingContext.h"

#include "CFramePacker.h"
#include "DataExchange.h"
#include "ModuleInteract.h"
#include "UpgradeWriter.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <vector>

namespace sensorcfg {

namespace {

const QString kWarn = QStringLiteral("警告");
const QString kTitle = QStringLiteral("提示");

constexpr uint32_t kInitTableAddress = 0x1400000;
constexpr int kAsciiSensorType = 4;

struct ItemInfo {
    Item item;
    const char* name;
};

const ItemInfo kItems[] = {
    {Item::SensorId, "sensor-id"}, {Item::Data, "data"},         {Item::CoreType, "core-type"},
    {Item::Batch, "batch"},        {Item::Vtemp, "vtemp"},       {Item::GFidGsk, "gfid"},
    {Item::Vbs, "vbs"},            {Item::Tint, "tint"},         {Item::Response, "response"},
    {Item::Sitf, "sitf"},          {Item::Target, "target"},     {Item::Ntcc, "ntcc"},
    {Item::AutoCorrect, "auto-correct"}, {Item::PicoConfig, "pico-config"},
    {Item::InitTable, "init-table"},
};

const char* const kVendorNames[] = {"GWIC", "IRAY", "PICO", "DALI", "WY"};

// The numeric fields: register, the name in refusals, the empty-field text and the
// result texts.
struct NumberField {
    Item item;
    int reg;
    const char* name;
    const char* empty;
    const char* failed;
    const char* done;
};

const NumberField kNumbers[] = {
    {Item::Vtemp, kVtempRegister, "25 Vtemp", "25 Vtemp不能为空！", "写入IRAY 25 Vtemp值失败", "写入IRAY 25 Vtemp值成功"},
    {Item::GFidGsk, kVtempRegister, "GFid/GKS", "GFid/GKS不能为空！", "写入IRAY 25 Vtemp值失败", "写入IRAY 25 Vtemp值成功"},
    {Item::Vbs, kVbsRegister, "VBS偏压", "VBS偏压不能为空！", "写入VBS偏压值失败", "写入VBS偏压值成功"},
    {Item::Tint, kTintRegister, "TINIT积分时间", "TINIT积分时间不能为空！", "写入TINT积分时间失败", "写入TINT积分时间成功"},
    {Item::Response, kResponseRegister, "响应率", "响应率不能为空！", "写入响应率失败", "写入响应率成功"},
    {Item::Sitf, kSitfRegister, "期望响应率", "期望响应率不能为空！", "写入期望响应率失败", "写入期望响应率成功"},
    {Item::Target, kTintRegister, "目标值", "目标值不能为空！", "写入目标值失败", ""},
};

const NumberField* numberField(Item item)
{
    for (const NumberField& f : kNumbers)
        if (f.item == item)
            return &f;
    return nullptr;
}

bool separatorsWithDash(Vendor v)
{
    return v == Vendor::PICO || v == Vendor::DALI;
}

// WY identity texts go as Latin-1 bytes; every other identity text is hex.
bool latin1Identity(const Request& r)
{
    return r.vendor == Vendor::WY && (r.item == Item::SensorId || r.item == Item::Batch);
}

bool asciiSensorId(const Request& r)
{
    return r.item == Item::SensorId && r.vendor != Vendor::WY && r.sensorTypeCode == kAsciiSensorType;
}

QString cleaned(const Request& r)
{
    const QString t = r.text.trimmed();
    static const QRegularExpression dotted(QStringLiteral("[_. ]"));
    static const QRegularExpression dashed(QStringLiteral("[_.-]"));
    switch (r.item) {
    case Item::SensorId:
    case Item::Batch:
        return QString(t).remove(separatorsWithDash(r.vendor) ? dashed : dotted);
    case Item::Data:
        return QString(t).remove(QLatin1Char(' '));
    default:
        return t;
    }
}

bool allHex(const QString& t)
{
    for (QChar ch : t) {
        const char16_t u = ch.unicode();
        const bool hex = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hex)
            return false;
    }
    return true;
}

bool allBelow(const QString& t, char16_t limit)
{
    for (QChar ch : t)
        if (ch.unicode() > limit)
            return false;
    return true;
}

// Two hex digits a byte; an odd text is packed like every hex text the bench sends
// (a leading 0 nibble), giving length / 2 + 1 bytes.
QByteArray hexBytes(const QString& t)
{
    QByteArray out(int(t.size() / 2 + t.size() % 2), '\0');
    const int n = hexTextToBytes(t, reinterpret_cast<unsigned char*>(out.data()), int(out.size()));
    out.resize(n);
    return out;
}

// A short core type (4 or 5 characters) is a register value; a longer one is the core
// ID in flash.
bool shortCoreType(const QString& t)
{
    return t.size() / 2 == 2;
}

QString coreIdText(const QString& t)
{
    return t.mid(2, 4) + t;
}

bool parseWhole(const QString& t, int* value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!digits.match(t).hasMatch())
        return false;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    if (!ok || v > 0x7FFFFFFFLL)
        return false;
    *value = int(v);
    return true;
}

uint32_t identityAddress(const Request& r)
{
    switch (r.item) {
    case Item::SensorId: return kSensorIdAddress;
    case Item::Batch: return kBatchAddress;
    case Item::CoreType: return kCoreIdAddress;
    case Item::Data: return kDataAreas[r.vendor == Vendor::IRAY && r.area == 1 ? 1 : 0];
    default: return 0;
    }
}

bool isIdentity(const Request& r)
{
    switch (r.item) {
    case Item::SensorId:
    case Item::Batch:
    case Item::Data:
        return true;
    case Item::CoreType:
        return !shortCoreType(cleaned(r));
    default:
        return false;
    }
}

QString identityName(Item item)
{
    switch (item) {
    case Item::SensorId: return QStringLiteral("Sensor编号");
    case Item::Data: return QStringLiteral("配置码Data");
    case Item::CoreType: return QStringLiteral("机芯型号");
    default: return QStringLiteral("机芯序列号");
    }
}

QString emptyText(Item item)
{
    switch (item) {
    case Item::SensorId: return QStringLiteral("Sensor编号不能为空！");
    case Item::Data: return QStringLiteral("配置码Data不能为空！");
    case Item::CoreType: return QStringLiteral("机芯型号不能为空！");
    default: return QStringLiteral("机芯序列号不能为空！");
    }
}

void tell(TransferContext& ctx, const QString& text)
{
    ctx.message(kTitle, text);
}

bool registerStep(TransferContext& ctx, int reg, int value, const QString& failed)
{
    if (DataExchange::instance()->writeRegister(reg, value))
        return true;
    tell(ctx, failed);
    return false;
}

bool writeIdentity(TransferContext& ctx, const Request& r)
{
    const QByteArray bytes = payload(r);
    UpgradeOptions options;
    // The bytes go as they are, in as many 1000-byte blocks as they need, and the end
    // step follows the last; no trailing empty block.
    options.finalEmptyBlock = false;
    QString failed, done;
    switch (r.item) {
    case Item::SensorId:
        failed = QStringLiteral("写入sensorID失败");
        done = QStringLiteral("写入sensorID成功");
        break;
    case Item::Batch:
        failed = QStringLiteral("写入生产批次失败");
        done = QStringLiteral("写入生产批次成功");
        break;
    case Item::CoreType:
        failed = QStringLiteral("写入机芯ID失败");
        done = QStringLiteral("写入机芯ID成功");
        break;
    default:
        failed = QStringLiteral("写入sensor配置码失败");
        done = QStringLiteral("写入sensor配置码成功");
        if (r.vendor != Vendor::IRAY) {
            // The detector reads its code from any of four areas; each is written in
            // the same upgrade mode, with time for the core to settle the flash.
            options.moreAddresses.assign(std::begin(kDataAreas) + 1, std::end(kDataAreas));
            options.pauseBetweenAreasMs = kDataAreaPauseMs;
        }
        break;
    }
    options.texts.block = failed;
    MemorySource source(bytes);
    if (!writeUpgrade(ctx, identityAddress(r), source, options).ok)
        return false;
    tell(ctx, done);
    return true;
}

bool writeInitTable(TransferContext& ctx, const Request& r)
{
    UpgradeOptions options;
    // Like every bad-pixel table: into the table region, then loaded into the core's
    // working memory.
    options.reload = true;
    FileSource source(r.text.trimmed());
    if (!writeUpgrade(ctx, kInitTableAddress, source, options).ok)
        return false;
    tell(ctx, QStringLiteral("写入初始坏点表完成"));
    return true;
}

} // namespace

Vendor vendorForSensorType(int sensorTypeCode)
{
    switch (sensorTypeCode) {
    case 1: return Vendor::IRAY;
    case 2: return Vendor::PICO;
    case 4: return Vendor::DALI;
    case 5: return Vendor::WY;
    default: return Vendor::GWIC;
    }
}

QString vendorName(Vendor vendor)
{
    const int i = int(vendor);
    return (i >= 0 && i < 5) ? QString::fromLatin1(kVendorNames[i]) : QString();
}

bool vendorFromName(const QString& name, Vendor* vendor)
{
    for (int i = 0; i < 5; ++i) {
        if (name.compare(QLatin1String(kVendorNames[i]), Qt::CaseInsensitive) == 0) {
            if (vendor)
                *vendor = Vendor(i);
            return true;
        }
    }
    return false;
}

QString itemName(Item item)
{
    for (const ItemInfo& i : kItems)
        if (i.item == item)
            return QString::fromLatin1(i.name);
    return QString();
}

bool itemFromName(const QString& name, Item* item)
{
    for (const ItemInfo& i : kItems) {
        if (name.compare(QLatin1String(i.name), Qt::CaseInsensitive) == 0) {
            if (item)
                *item = i.item;
            return true;
        }
    }
    return false;
}

bool vendorHasItem(Vendor vendor, Item item)
{
    switch (item) {
    case Item::SensorId:
    case Item::CoreType:
    case Item::Batch:
        return true;
    case Item::Data:
        return vendor == Vendor::GWIC || vendor == Vendor::IRAY || vendor == Vendor::WY;
    case Item::Vtemp:
    case Item::Ntcc:
        return vendor == Vendor::IRAY;
    case Item::GFidGsk:
    case Item::Target:
    case Item::PicoConfig:
    case Item::InitTable:
        return vendor == Vendor::PICO;
    case Item::Vbs:
    case Item::Tint:
    case Item::Response:
    case Item::Sitf:
    case Item::AutoCorrect:
        return vendor == Vendor::DALI;
    }
    return false;
}

QString validate(const Request& r)
{
    if (!vendorHasItem(r.vendor, r.item))
        return QStringLiteral("%1 没有此配置项：%2").arg(vendorName(r.vendor), itemName(r.item));

    if (const NumberField* f = numberField(r.item)) {
        const QString t = cleaned(r);
        if (t.isEmpty())
            return QString::fromUtf8(f->empty);
        int v = 0;
        if (!parseWhole(t, &v))
            return QStringLiteral("%1必须是 0 到 2147483647 之间的整数！").arg(QString::fromUtf8(f->name));
        return QString();
    }

    switch (r.item) {
    case Item::Ntcc:
    case Item::AutoCorrect:
    case Item::PicoConfig:
        return QString();
    case Item::InitTable: {
        const QString path = r.text.trimmed();
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists() || !info.isFile())
            return QStringLiteral("初始坏点表文件不存在");
        if (info.size() == 0)
            return QStringLiteral("初始坏点表文件为空，未写入");
        if (!ModuleInteract::fitsArea(kInitTableAddress, info.size()))
            return upgradeTooLargeText(kInitTableAddress, info.size());
        return QString();
    }
    default:
        break;
    }

    // Identity texts and the core type.
    const QString t = cleaned(r);
    if (t.isEmpty())
        return emptyText(r.item);
    if (r.item == Item::Data && r.vendor == Vendor::IRAY && r.area != 0 && r.area != 1)
        return QStringLiteral("配置码空间只能是 0空间 或 1空间！");
    if (latin1Identity(r)) {
        if (!allBelow(t, 0xFF))
            return QStringLiteral("%1只能包含 Latin-1 字符！").arg(identityName(r.item));
    } else if (asciiSensorId(r)) {
        if (!allBelow(t, 0x7F))
            return QStringLiteral("%1只能包含 ASCII 字符！").arg(identityName(r.item));
    } else if (!allHex(t)) {
        return QStringLiteral("%1只能包含十六进制字符（0-9、A-F）！").arg(identityName(r.item));
    }
    if (r.item == Item::CoreType && t.size() < 4)
        return QStringLiteral("机芯型号至少需要 4 个十六进制字符！");
    if (isIdentity(r)) {
        // Refused before upgrade mode: a longer text would run into the next area.
        const qint64 size = payload(r).size();
        if (!ModuleInteract::fitsArea(identityAddress(r), size))
            return upgradeTooLargeText(identityAddress(r), size);
    }
    return QString();
}

QByteArray payload(const Request& r)
{
    if (!isIdentity(r))
        return QByteArray();
    const QString t = cleaned(r);
    if (latin1Identity(r))
        return t.toLatin1();
    if (asciiSensorId(r))
        return t.toLatin1();
    if (r.item == Item::CoreType)
        return hexBytes(coreIdText(t));
    return hexBytes(t);
}

namespace {
bool writeSteps(TransferContext& ctx, const Request& r);
} // namespace

bool write(TransferContext& ctx, const Request& r)
{
    HistoryEvent e(HistoryKind::DetectorConfig);
    NotingContext noting(ctx);
    const bool ok = writeSteps(noting, r);
    e.details["vendor"] = vendorName(r.vendor);
    e.details["item"] = itemName(r.item);
    e.details["value"] = cleaned(r);
    if (r.vendor == Vendor::IRAY)
        e.details["area"] = r.area;
    if (ok)
        e.succeed();
    else
        e.fail(1, noting.last, QStringLiteral("detector_config"));
    HistoryRecorder::instance()->record(std::move(e));
    return ok;
}

namespace {

bool writeSteps(TransferContext& ctx, const Request& r)
{
    const QString refusal = validate(r);
    if (!refusal.isEmpty()) {
        ctx.message(kWarn, refusal);
        return false;
    }
    const QString t = cleaned(r);

    if (const NumberField* f = numberField(r.item)) {
        int value = 0;
        parseWhole(t, &value);
        if (!registerStep(ctx, f->reg, value, QString::fromUtf8(f->failed)))
            return false;
        if (r.item == Item::Target) {
            if (!registerStep(ctx, kAutoCorrectRegister, 1, QStringLiteral("自动校正失败")))
                return false;
            tell(ctx, QStringLiteral("自动校正成功"));
            return true;
        }
        tell(ctx, QString::fromUtf8(f->done));
        return true;
    }

    switch (r.item) {
    case Item::Ntcc: {
        const bool ok = runNtcc();
        tell(ctx, ok ? QStringLiteral("NTCC校正完成") : QStringLiteral("NTCC校正失败"));
        return ok;
    }
    case Item::AutoCorrect: {
        const bool ok = runAutoCorrect();
        tell(ctx, ok ? QStringLiteral("机芯自动校正成功") : QStringLiteral("机芯自动校正失败"));
        return ok;
    }
    case Item::PicoConfig: {
        const char* const failed[4] = {"关闭去坏点失败", "关闭去竖线失败", "关闭去锅盖失败", "关闭NUC失败"};
        for (int i = 0; i < 4; ++i)
            if (!registerStep(ctx, kPicoConfigRegisters[i], 0, QString::fromUtf8(failed[i])))
                return false;
        tell(ctx, QStringLiteral("一键配置成功"));
        return true;
    }
    case Item::InitTable:
        return writeInitTable(ctx, r);
    case Item::CoreType:
        if (shortCoreType(t)) {
            if (!registerStep(ctx, kCoreTypeRegister, int(t.toUInt(nullptr, 16)),
                              QStringLiteral("写入机芯型号失败")))
                return false;
            tell(ctx, QStringLiteral("写入机芯型号成功"));
            return true;
        }
        return writeIdentity(ctx, r);
    default:
        return writeIdentity(ctx, r);
    }
}

} // namespace

bool runNtcc()
{
    return DataExchange::instance()->writeRegister(kNtccRegister, 1);
}

bool runAutoCorrect()
{
    return DataExchange::instance()->writeRegister(kAutoCorrectRegister, 1);
}

} // namespace sensorcfg
