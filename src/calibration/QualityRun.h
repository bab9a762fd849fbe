#pragma once

#include "QualityFigures.h"
#include "TransferContext.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

class CFindFrame;

// The acceptance check of a corrected core: N frames of a uniform blackbody, the
// core's bad-pixel table, the figures and the verdict, kept in a run folder of the
// calibration tree and in the core's history. Blocking; run it off the GUI thread.

constexpr int kDefaultQualityFrames = 16;
constexpr int kMinQualityFrames = 2;
constexpr int kMaxQualityFrames = 128;

struct QualityJob {
    QString sensorId;          // safe or not; folders use CalibrationTree
    QString serial;
    int frames = kDefaultQualityFrames;   // 2..128
    QualityLimits limits;
    QString tablePath;         // empty: read the core's bad-pixel table back
    QString runDir;            // empty: CalibrationTree(sensorId).qualityDir() + "/<yyyyMMdd_HHmmss>"
};

struct QualityRunResult {
    enum class Outcome { Failed, Judged, RecordLost };
    Outcome outcome = Outcome::Failed;
    QString error;             // operator text when not Judged
    QString sensorId, serial;
    QDateTime started;         // UTC
    QString runDir;
    int width = 0, rows = 0, frames = 0;   // rows = image rows (info rows left out)
    QualityFigures figures;
    QualityLimits limits;      // what it was judged against
    QualityVerdict verdict;
    std::vector<float> meanImage;  // width x rows
    std::vector<uint8_t> badMap;   // width x rows, 1 = in the table
    QString tableSource;       // "机芯" (read back) or the table file's path
    QString historyUuid;       // of the recorded event
};

// Captures the frames into the run folder ("Frame1.frame".., width x image rows), takes
// the core's bad-pixel table back into "BadPixel.bin" unless a table file is given,
// judges, writes "Quality.txt" (figures, "verdict: ...", then the limits under a
// "# limits" line in the form `irbench-cli quality --limits` reads) and records one
// history event of kind Quality, waiting until it is in the local file. True only
// for the outcome Judged; every refusal is worded through the context ("提示").
bool runQualityCheck(TransferContext& ctx, CFindFrame* frames, const QualityJob& job, QualityRunResult* result);

// Operator captions of the figure keys (mean 均值 .. unflagged_outliers 漏检坏点);
// the key itself for an unknown one.
QString qualityCaption(const char* key);
// The figure's value with its unit ("0.0123 %", "3.01", "4"); empty for an unknown key.
QString qualityValueText(const QualityFigures& f, const char* key);
// The limit as "≤ 1.0 %" / "≥ 99.5 %" / "= 0"; empty for mean, spatial_noise.
QString qualityLimitText(const QualityLimits& l, const char* key);
// Whether that figure failed in the verdict.
bool qualityFailed(const QualityVerdict& v, const char* key);
// "合格", or "不合格：非均匀性、漏检坏点".
QString qualityVerdictCaption(const QualityVerdict& v);

// The limits and frame count in "<data root>/info/settings.ini" (QualityNonuniformity,
// QualityCorrectability, QualityOperability, QualityCluster, QualityOutliers,
// QualityNoise, QualityFrames). A missing value, or one that is not a number or is
// out of range, leaves the default. Read: false only when the settings cannot be
// opened; write: false when the file was not written.
bool readQualityLimits(QualityLimits* limits, int* frames);
bool writeQualityLimits(const QualityLimits& limits, int frames);
