#pragma once

#include "TransferContext.h"

#include <QString>

#include <cstdint>

// The detector (sensor) configuration of the five vendors, without widgets: the
// configuration page's panel and `irbench-cli sensor-config` both validate, clean and
// write through these functions, so both say and send exactly the same. Identity
// strings go through the one upgrade-mode writer, numeric parameters are register
// writes. Validation failures are told with the title "警告", device results with
// "提示", through the context.
namespace sensorcfg {

// The order of the "Sensor Type：" list.
enum class Vendor { GWIC = 0, IRAY = 1, PICO = 2, DALI = 3, WY = 4 };

// The vendor page for a core's sensor type code: 0 GWIC, 1 IRAY, 2 PICO, 4 DALI,
// 5 WY, anything else GWIC.
Vendor vendorForSensorType(int sensorTypeCode);
// "GWIC", ...; from a name in any case ("gwic", "Pico").
QString vendorName(Vendor vendor);
bool vendorFromName(const QString& name, Vendor* vendor);

enum class Item {
    SensorId,     // "Sensor 编号：" (all five)
    Data,         // configuration code (GWIC and WY: four areas; IRAY: one, by `area`)
    CoreType,     // "机芯型号：" (all five)
    Batch,        // "机芯序列号：" production batch (all five)
    Vtemp,        // IRAY 25 Vtemp, register 0xF040
    GFidGsk,      // PICO GFid/GSK, register 0xF040
    Vbs,          // DALI VBS bias, 0xF02C
    Tint,         // DALI integration time, 0xF02A
    Response,     // DALI response ratio, 0xF02D
    Sitf,         // DALI expected response ratio, 0xF02E
    Target,       // PICO "目标值：" then automatic correction ("校正")
    Ntcc,         // IRAY NTCC, 0xF021 = 1
    AutoCorrect,  // DALI "自动矫正", 0xF029 = 1
    PicoConfig,   // PICO one-key configuration ("PICO 配置")
    InitTable,    // PICO initial bad-pixel table; `text` is the table file's path
};
// "sensor-id", "data", "core-type", "batch", "vtemp", "gfid", "vbs", "tint",
// "response", "sitf", "target", "ntcc", "auto-correct", "pico-config", "init-table".
QString itemName(Item item);
bool itemFromName(const QString& name, Item* item);
// Whether the vendor's page has the item.
bool vendorHasItem(Vendor vendor, Item item);

// Flash areas and registers.
constexpr uint32_t kSensorIdAddress = 0x0142C000;
constexpr uint32_t kCoreIdAddress = 0x0142E000;
constexpr uint32_t kBatchAddress = 0x0142F000;
constexpr uint32_t kDataAreas[4] = {0x01420000, 0x01421000, 0x01422000, 0x01423000};
constexpr double kDataAreaPauseMs = 3000;
constexpr int kCoreTypeRegister = 0xF027;
constexpr int kVtempRegister = 0xF040; // also PICO GFid/GSK
constexpr int kVbsRegister = 0xF02C;
constexpr int kTintRegister = 0xF02A; // also the PICO target value
constexpr int kResponseRegister = 0xF02D;
constexpr int kSitfRegister = 0xF02E;
constexpr int kNtccRegister = 0xF021;
constexpr int kAutoCorrectRegister = 0xF029;
constexpr int kPicoConfigRegisters[4] = {0x7012, 0x7080, 0x70C6, 0x7015};

struct Request {
    Vendor vendor = Vendor::GWIC;
    Item item = Item::SensorId;
    QString text;            // the field as typed (blanks at both ends are ignored)
    int sensorTypeCode = 0;  // of the identified core: 4 writes sensor IDs as ASCII
    int area = 0;            // IRAY configuration code: 0 "0空间", 1 "1空间"
};

// The "警告" text that refuses the request before anything is sent, or empty when it
// can be written (empty fields after cleaning, numbers that are not whole or out of
// range, hex text with other characters, a core type of 1 to 3 characters, WY text
// outside Latin-1, an item the vendor does not have, a missing or empty table file).
QString validate(const Request& request);

// The bytes an identity item sends (after cleaning), for tests and the CLI's dry look.
// Empty for register items.
QByteArray payload(const Request& request);

// Validates (a refusal is told as "警告" and returns false), then writes, telling each
// failure and the final success ("提示"). Blocking: run it off the GUI thread.
bool write(TransferContext& ctx, const Request& request);

// The two long calibration commands on their own (200-poll budget), without messages,
// for the page's worker thread; `write` with Item::Ntcc / AutoCorrect adds the texts
// "NTCC校正完成" / "NTCC校正失败" and "机芯自动校正成功" / "机芯自动校正失败".
bool runNtcc();
bool runAutoCorrect();

} // namespace sensorcfg
