#pragma once

#include "CoreCommands.h"
#include "TransferContext.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class CFindFrame;
class CTwoPointNuc;

// Blocking steps of the calibration page's two-point correction and bad-pixel table:
// frame capture into the calibration tree, the gain computation from the frame files,
// the core's own one-key commands and the gain-based table. They run off the GUI
// thread (device runner, tests) and word their failures through the context with
// the title "提示".

constexpr int kMaxCaptureFrames = 128;

// Frames written from the capture store into one directory.
struct FrameWriteResult {
    int width = 0;   // of the captured images (info rows excluded)
    int height = 0;
    int captured = 0;
    int written = 0;
    QStringList failed; // files that could not be written
};

// Writes the run the frame buffer holds as "Frame1.frame" .. "FrameN.frame" (16-bit
// little-endian, width x image rows, no header) into `dir`, made with its parents.
// Files numbered above the run are left alone. False when nothing was captured, the
// directory cannot be made or any frame failed (the others are still written).
// `progress`, when given, goes from 50 to 100 over the files.
bool writeCapturedFrames(const CFindFrame* frames, const QString& dir, FrameWriteResult* result,
                         TransferContext* progress = nullptr);

// Captures the next `count` frames of the stream (1..128) and writes them into `dir`.
// Failures are worded through the context: no frame buffer or no frames within the
// buffer's stall time, directory or file errors.
bool captureRunToDir(TransferContext& ctx, CFindFrame* frames, int count, const QString& dir,
                     FrameWriteResult* result);

// Integer mean of the newest frame as the core's geometry `coreSize` says (info rows
// included). A frame smaller than that geometry is averaged over its own words
// instead of being read past its end. False without a frame or geometry.
bool newestFrameMean(const CFindFrame* frames, const QSize& coreSize, int* mean);

// Mode 0/1 one-key correction of TEC n from the frame files of the last capture:
// "FinalPixel.bak" (the one fixed record), then both sets averaged one frame at a time
// (at most `count` frames of each are read, never held together), the gains and
// "K<n>.bin". `nuc` receives the result only when every step succeeded.
struct GainJob {
    QString lowDir;
    QString highDir;
    QString backupPath; // Pixel/FinalPixel.bak
    QString gainPath;   // NUC/K<n>.bin
    int width = 0;
    int height = 0;
    int count = 0;
};
// Why a correction failed, for the guide: the captured sets (missing, of another size,
// the blackbody unchanged) call for a new capture, anything else for another try.
enum class GainFailure { None, Captures, Other };
bool runGainCorrection(TransferContext& ctx, const GainJob& job, CTwoPointNuc* nuc,
                       GainFailure* failure = nullptr);

// A command register of the core's own workflow (one-key 0xF023, bad pixels 0xF03D),
// then the core's completion reply: acknowledgement polls until it answers 1, for at
// most `limitMs` (nominal, through Pace). "操作完成,机芯正常返回!" on success; a core
// that answers with another value has failed the step (reported at once); silence
// ends in a time-out message.
constexpr int kBadPixelV30Register = 0xF057;
constexpr double kCoreWaitLimitMs = 120000.0;
enum class CoreWaitResult { Completed, Refused, TimedOut, Cancelled };
CoreWaitResult waitCoreCompletion(TransferContext& ctx, double limitMs = kCoreWaitLimitMs);
CoreWaitResult runCoreCommand(TransferContext& ctx, int reg, int value, double limitMs = kCoreWaitLimitMs);

// Gain-based bad-pixel table: every pixel whose gain reached a clamp limit, as table
// records in scan order, written to `path` (replaced whole or not at all).
enum class GainTableResult { Written, NoGains, UnsupportedSize, WriteFailed };
GainTableResult writeGainPixelTable(const uint16_t* gains, int width, int height, const QString& path,
                                    int* badCount);

// The history event of a bad-pixel table made on this bench: its records' count and
// SHA-256, the detector that found them and its thresholds (-1: none); a non-empty
// `failure` says why it was not saved.
void recordPixelTable(const QString& detector, const QByteArray& records, int width, int height,
                      const QString& path, const QString& failure = QString(), int brightThreshold = -1,
                      int darkThreshold = -1);
