#pragma once

#include "TransferContext.h"
#include "UpgradeWriter.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Blocking device sequences that move files in and out of the core's flash. Each
// words its failures through the context (title "提示") and, whatever happens, never
// leaves the core in upgrade mode when it returns (unless the link itself is gone).

// The configuration page's read-back waits 0 ms after the read start, the video
// page's 1000 ms.
enum class ReadBackVariant { ConfigPage, VideoPage };

// A data set of length 0: refused with a message (nothing to save), or taken as an
// empty file (a bad-pixel table without records).
enum class EmptySetPolicy { Refuse, EmptyFile };

// Page-level write of a binary file to one start address through the upgrade-mode
// writer with its defaults: 1000-byte blocks read from the file as they go (a file of a
// multiple of 1000 bytes ends with one empty block), end, exit. A file that cannot be
// opened, is empty or is too large for the area at `address` is refused before
// anything is sent.
bool writeFileToCore(TransferContext& ctx, uint32_t address, const QString& path);

// Reads data set `selector` (1 bad pixels, 2-5 OCC 1-4, 6-9 K 1-4, 10 data area)
// into `path`. The file is replaced only when the whole set has arrived; a failed
// read leaves an earlier file of that name as it was.
bool readBackToFile(TransferContext& ctx, int selector, const QString& path,
                    ReadBackVariant variant = ReadBackVariant::ConfigPage,
                    EmptySetPolicy empty = EmptySetPolicy::Refuse);
bool readBackToMemory(TransferContext& ctx, int selector, QByteArray* out,
                      ReadBackVariant variant = ReadBackVariant::ConfigPage);

// Starts OCC correction n (1..4) and waits the six minutes the core needs, showing
// the remaining time. False when the core refused the start or the wait was cancelled.
bool runOccCorrection(TransferContext& ctx, int n);

// Text tables (".dat"): one decimal number per line, written big-endian with
// valueBytes (2 for OCC, 4 for ISP) bytes each.
bool isDatPath(const QString& path);
QString datBinaryPath(const QString& textPath);
bool convertDatFile(const QString& textPath, int valueBytes, QString* binPath);
// The table's bytes without writing them anywhere; numericLines counts the lines that
// held a number (a line of text without digits still gives a 0, as atoi does). False
// when the text file cannot be read.
struct DatTable {
    QByteArray bytes;
    int numericLines = 0;
};
bool readDatTable(const QString& textPath, int valueBytes, DatTable* table);
