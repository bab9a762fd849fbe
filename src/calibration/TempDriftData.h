#pragma once

#include "DriftFit.h"
#include "TransferContext.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// The drift sweep's files and their way into the core, without widgets: the sample
// directory ("avgFiltering<n>.bin" and "tfpa.bin"), the fit into the coefficient
// directory ("<k>.bin") and the write of those files into their flash slots.
namespace tempdrift {

QString dataDir(const QString& base); // base/data
QString retDir(const QString& base);  // base/ret
QString sampleFile(const QString& dataDir, int n);
QString temperatureFile(const QString& dataDir);
QString coefficientFile(const QString& retDir, int k);

// Flash slot of coefficient file k; the slots are 0xA000 apart.
uint32_t fileAddress(int k);
constexpr qint64 kSlotBytes = 0xA000;
constexpr int kMaxFiles = 8; // four arrays of each of two segments

// Makes the sample directory (emptied first when `clear`) and gives the next sample
// number: 1 after clearing, else the number of temperatures in "tfpa.bin" + 1, so
// that images and temperatures stay paired across program runs.
bool prepareSampleDir(const QString& dataDir, bool clear, int* nextNumber, QString* error);

// One sample: the average of the frames into "avgFiltering<number>.bin", written
// whole, and only then its temperature (truncated toward zero) appended to "tfpa.bin".
bool saveSample(const QString& dataDir, int number, const std::vector<std::vector<uint16_t>>& frames,
                size_t pixels, float temperature, uint16_t* mean, QString* error);

// What the fit of a sample directory produced.
struct FitOutcome {
    enum Status { Written, NoSamples, TypeRefused, BadSamples, WriteFailed };
    Status status = NoSamples;
    int total = 0;           // coefficient files written (4 per segment)
    int samples = 0;
    QString text;            // for the operator: refusals, empty segments, clipped values
    int saturated = 0;
    driftfit::FitConfig config;
    std::vector<float> temperatures;          // ascending, as fitted
    std::vector<double> frameMeans;           // of the samples, same order
    // The fitted frame mean of each segment (temperature, value), for the curve.
    std::vector<std::vector<std::pair<double, double>>> curves;
};

// Fits the samples of `dataDir` (at most 60, ascending temperatures) for fit type
// `type` (1 or 3) and writes coefficient files 0 .. into `retDir` (made if missing).
// `width` x `height` is the core's frame; the samples may leave out its two info rows,
// whose coefficients are then 0.
FitOutcome fitSamples(const QString& dataDir, const QString& retDir, int type, int width, int height);

// Codes of the coefficient write; -1 .. -9 are the steps of one file.
enum WriteCode {
    WriteOk = 0,
    WriteEnter = -1,
    WriteConfirm = -2,
    WriteAddress = -3,
    WriteSize = -4,
    WriteBlock = -5,
    WriteOpen = -6,
    WriteEnd = -7,
    WriteExit = -8,
    WriteEmpty = -9,
    WriteNothing = -10,   // written = total: nothing to write
    WriteTooLarge = -11,  // a file larger than its slot: nothing of the set sent
    WriteBadCounters = -12,
    NoSampleData = -13,   // the fit found no samples
    FitRefused = -14,     // type without a fit, or unusable sample files
};
QString writeCodeText(int code);

// Writes coefficient files from .. to-1 of `retDir`, each in its own upgrade mode
// through the one writer. Before the first block every file is checked against its
// slot. `written` is raised after each file; `onWritten(written, total)` follows.
// `detail` receives the sizes of a file refused for its slot.
int writeCoefficientFiles(TransferContext& ctx, const QString& retDir, int from, int to, int* written,
                          const std::function<void(int, int)>& onWritten, QString* detail);

// Resume counters as the page holds them: 0 <= written < total <= 4 x segments.
bool countersValid(int written, int total);

} // namespace tempdrift
