#pragma once

#include "SheetWorkbook.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

// A detector vendor's datasheet: the parameters the detector configuration needs and
// the initial bad-pixel list, turned into the core's bad-pixel table.
//
// Worksheet 1: GFid/GSK from (22, 8) and (21, 8), response ratio (32, 6), bias (23, 5),
// integration time (20, 5). Worksheet 3 from row 2: column 1 the row number, column 2
// the column number of a bad pixel (1-based), until column 1 reads 0 or is empty.
namespace specsheet {

constexpr int kParamSheet = 1;
constexpr int kListSheet = 3;
constexpr int kListFirstRow = 2;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 512;

struct Values {
    bool hasGfid = false;   // read for sensor type code 2
    QString gfidGsk;        // round(H22 x 1000) then round(H21 x 1000), as decimal text
    bool hasDali = false;   // read for sensor type code 4
    qint64 response = 0;    // round(F32 x 100)
    qint64 bias = 0;        // round(E23 x 1000)
    qint64 tint = 0;        // round(E20)
};

struct Result {
    Values values;
    QByteArray table;   // 4-byte records of the listed pixels, in list order
    int listed = 0;     // list rows read (up to the end mark)
    int skipped = 0;    // rows not written: outside the frame, not whole, repeated
    QString tablePath;  // the file written (parseFile)
    QString error;      // why the parse stopped without a table
    bool writeFailed = false; // the workbook was read but the table file not written
};

// Each log line ends with "\n".
using LogFn = std::function<void(const QString& line)>;

// Reads the values of the sensor type code and builds the table for a width x height
// frame. A neighbour that is listed, or outside the frame, sets its mask bit. False
// (result->error set, nothing built) when a worksheet is missing, the frame size is
// unusable or `cancel` was set.
bool extract(SheetWorkbook& book, int sensorTypeCode, int width, int height, Result* result, const LogFn& log,
             const std::atomic<bool>* cancel = nullptr);

// "<data root>/Pixel/FinalPixel_<sanitised sensor ID>.bin"
QString tablePath(const QString& sensorId);
// Makes the folder, writes the whole file or nothing.
bool writeTable(const QString& path, const QByteArray& table, QString* error);

// Open, extract and write `outPath`, telling every step through `log` in the texts the
// dialog shows. False on any failure: no file is written and nothing is to be used.
bool parseFile(const QString& workbookPath, int sensorTypeCode, int width, int height, const QString& outPath,
               Result* result, const LogFn& log, const std::atomic<bool>* cancel = nullptr);

struct SearchResult {
    QString match;        // the last workbook whose name holds the sensor ID; empty: none
    int matches = 0;      // workbooks whose name holds it
    int workbooks = 0;    // "*.xls" / "*.xlsx" files seen
    bool cancelled = false;
};
// Walks `dir` and every folder below it: in each folder its files by name, then its
// subfolders by name (folders reached through symbolic links are not entered, so a
// link loop ends). File names match "*.xls" and "*.xlsx" in any case; the sensor ID
// must appear in the name exactly (case-sensitive); Office's "~$" owner files and
// hidden files and folders are passed over. `seen` gets each workbook's name
// as it is found. An empty sensor ID matches nothing.
SearchResult findSheet(const QString& dir, const QString& sensorId, const std::function<void(const QString&)>& seen,
                       const std::atomic<bool>* cancel = nullptr);

} // namespace specsheet
