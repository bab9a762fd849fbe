#pragma once

#include <QString>

// The calibration tree of one core under the data root: one subtree per core, named
// by its sensor ID made safe as a single path component (a device-supplied ID may
// hold separators or ".."). Builds paths only; nothing is created on disk.
class CalibrationTree {
public:
    explicit CalibrationTree(const QString& sensorId);

    QString coreDir() const { return m_core; }
    // Raw/<n>/HighFrame or Raw/<n>/LowFrame, n = TEC index + 1 (1..4).
    QString rawDir(int tecN, bool high) const;
    QString rawRoot() const;        // Raw
    QString compensateRoot() const; // Compensate
    QString noShutterDir() const;   // noshutter
    QString noShutterBaseDir(int base) const; // noshutter/<base>, base 1..20
    QString nucDir() const;         // NUC
    QString gainFile(int tecN) const; // NUC/K<n>.bin
    QString pixelDir() const;       // Pixel
    QString pixelTable() const;     // Pixel/FinalPixel.bin
    QString pixelBackup() const;    // Pixel/FinalPixel.bak
    QString nvffcDir() const;       // NVFFC
    QString tempDriftDir() const;   // TempDrift
    QString stableFpaDir() const;   // StableFPA
    QString occDir() const;         // Occ
    QString qualityDir() const;     // Quality: one folder per acceptance run
    QString reportDir() const;      // Report: the acceptance reports (PDF)

    // "Frame<i>.frame" in `dir`, i 1-based.
    static QString frameFile(const QString& dir, int i);

private:
    QString m_core;
};
