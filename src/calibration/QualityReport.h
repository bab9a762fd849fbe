#pragma once

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The acceptance check's PDF report: what was measured on which core, by whom, against
// which limits, what was written into the core since it was connected, and the two
// pictures. Everything that came from the device is shown as text, never as markup.
struct QualityReportData {
    QString sensorId, serial;
    QList<QPair<QString, QString>> identity;   // caption, value (versions, class, size...)
    QDateTime started;                          // UTC; shown in local time
    QString station, operatorName;
    int frames = 0, width = 0, rows = 0;
    QString tableSource;
    QList<QPair<QString, QString>> writes;      // what was written since connected: time, text
    QString writesError;                        // the history could not be read: shown instead of the list
    QList<QStringList> figureRows;              // caption, value, limit, "通过"/"未通过"/""
    QString verdict;                            // "合格" / "不合格：..."
    bool pass = false;
    QImage deviationMap, histogram;
    QString runDir;
};

// "<reportDir>/<yyyyMMdd>_<HHmmss>.pdf" from the run's start in local time.
QString qualityReportPath(const QString& reportDir, const QDateTime& started);

// The report as QTextDocument rich text. The pictures are named "irbench:deviation",
// "irbench:histogram" and "irbench:legend"; writeQualityReport adds them as resources.
QString qualityReportHtml(const QualityReportData& d);

// An A4 PDF (QPdfWriter + QTextDocument) made in memory and written through a
// temporary file beside `path` that is renamed at the end: a report is whole or
// absent. Makes the folder. False with the reason in Chinese.
bool writeQualityReport(const QualityReportData& d, const QString& path, QString* error);

// The core's writes since it was connected: the history events of this core that wrote
// into it (flash, tables, base, NVFFC, drift, stabilisation, detector configuration;
// successful or not) newer than its newest identification. Oldest first, as (local
// time "yyyy-MM-dd HH:mm:ss", "caption result details"). Waits (bounded) for the
// recorder to put what it holds into the file, so call it off the GUI thread. False
// with the reason when the history cannot be read or has no identification of it.
bool qualityWritesSinceConnected(const QString& sensorId, QList<QPair<QString, QString>>* writes, QString* error);
