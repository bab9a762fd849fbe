#pragma once

#include <cstdint>

// Limits the workbook readers hold a vendor's file to. A datasheet is a few
// kilobytes; these are far above any real one and keep a broken or hostile file from
// taking the machine's memory or time.
namespace sheetlimits {

// The workbook file itself.
constexpr int64_t kMaxFileBytes = 64ll * 1024 * 1024;
// One part of an .xlsx package once inflated (a worksheet, the shared strings).
constexpr int64_t kMaxPartBytes = 64ll * 1024 * 1024;
// All parts read from one package together.
constexpr int64_t kMaxInflatedBytes = 256ll * 1024 * 1024;
// Cells held for one worksheet, and the worksheet's declared area (rows x columns).
constexpr int64_t kMaxCells = 1'000'000;
constexpr int64_t kMaxDeclaredArea = 4'194'304; // 65536 rows x 64 columns
// Sheet coordinates (1-based), the largest any spreadsheet format names.
constexpr int kMaxRow = 1'048'576;
constexpr int kMaxColumn = 16'384;
// Shared strings of one package, and the characters of one string.
constexpr int64_t kMaxSharedStrings = 2'000'000;
constexpr int kMaxStringChars = 32'767;
// Parts in one .xlsx package, worksheets in one workbook.
constexpr int kMaxParts = 10'000;
constexpr int kMaxSheets = 4096;

} // namespace sheetlimits
