#pragma once

#include "TransferContext.h"

#include <QString>

#include <cstdint>

// Blocking device sequences of the calibration tables (gain tables K1..K4 and the
// bad-pixel table). Run them off the GUI thread (device runner, CLI, tests). Each words
// its failures through the context with title "提示" and, unless the link itself is
// gone, never leaves the core in upgrade mode.

// Flash address of the gain table of TEC index 0..3 (0xC00000 .. 0xF00000).
uint32_t gainTableAddress(int tecIndex);
constexpr uint32_t kPixelTableAddress = 0x1400000;

enum class GainWriteResult {
    Written,    // every block acknowledged, upgrade mode left
    MissingFile,// no K file: reported, core taken out of upgrade mode
    Failed,     // a step failed: reported, exit step sent
    Cancelled,
};

// One-key write of a gain file to the area of `tecIndex` through the upgrade-mode
// writer, with a 3 s pause after the confirm while the core erases the area. A missing,
// unreadable or empty K file is reported before upgrade mode is entered.
GainWriteResult writeGainTableToCore(TransferContext& ctx, int tecIndex, const QString& kPath);

// Sends a bad-pixel table file (4-byte records, may be empty) to the core through the
// upgrade-mode writer, with the reload into memory (0xEC 1). An empty table is sent
// after the warning "坏点表为空,请检查阈值设置". On success "写入数据完毕" is shown.
// A missing file ends the sequence silently (false) with nothing sent.
bool writePixelTableToCore(TransferContext& ctx, const QString& tablePath);

// Replaces the core's bad-pixel table with the single fixed record 00 01 01 43 and
// reloads it; "重置坏点表成功" on success.
bool resetCorePixelTable(TransferContext& ctx);

// Reads the core's bad-pixel table (read-back selector 1, video-page variant) into
// `path`; an earlier file of that name is replaced only by a complete table. A core
// that holds no table gives an empty file.
bool readCorePixelTable(TransferContext& ctx, const QString& path);

// The fixed record the one-key correction leaves as "FinalPixel.bak" and the reset
// writes: mask 0, 1-based row 16, column 323.
QByteArray fixedPixelRecord();
