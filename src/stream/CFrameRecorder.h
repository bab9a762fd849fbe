#pragma once

#include "FrameAddInfo.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <vector>

class CFindFrame;

// The recording of the live stream: every interval the newest whole frame (the
// geometry of the frame in the buffer, info rows included) is appended to
// "<date>_<time>.raw" and one log line of that same frame to the ".txt" beside it.
// Paced by its own timer on the thread it lives on, so nothing waits; a write error
// or a change of frame size stops it with its reason. The files are closed on stop
// and when the recorder goes.
class CFrameRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstFrameMs = 50; // the first frame, soon after the start
    static constexpr int kMinIntervalMs = 20;
    static constexpr int kMaxIntervalMs = 3600000;

    explicit CFrameRecorder(QObject* parent = nullptr);
    ~CFrameRecorder() override;

    // Opens a new pair of files in `dir` (made with its parents), named by the local
    // date and time; a name already taken gets "_2", "_3", ... False, with the reason
    // in `error` and no file left behind, when either cannot be opened.
    bool start(CFindFrame* frames, const QString& dir, int intervalMs, QString* error);
    // Closes both files; signalStopped with an empty reason.
    void stop();
    bool isRecording() const { return m_frames != nullptr; }
    QString rawPath() const { return m_raw.fileName(); }
    QString textPath() const { return m_text.fileName(); }
    int framesWritten() const { return m_written; }
    QSize geometry() const { return m_geometry; }
    // The log line of the last frame written (empty before the first).
    QByteArray lastLogLine() const { return m_lastLine; }

    // One step of the timer: appends the newest frame not yet recorded. False when the
    // recording stopped on it (signalStopped has been sent).
    bool recordOne();

    // "%.1f\t%d\t%d\t%d\t%d\t%d\t%d\n": tFPA, EOCC, VIEC, TINT, BVAL, BaseL, frame mean.
    static QByteArray logLine(const FrameAddInfo& info, int mean);
    // `dir`/`stamp` + ext for every ext, or the first "_2", "_3", ... for which none of
    // them exists yet.
    static QString freeName(const QString& dir, const QString& stamp, const QStringList& exts);

signals:
    // The recording has ended: empty on stop(), else why (shown to the operator).
    void signalStopped(QString strReason);

private:
    void finish(const QString& reason);

    CFindFrame* m_frames = nullptr;
    QTimer m_timer;
    int m_intervalMs = 1000;
    QFile m_raw;
    QFile m_text;
    QSize m_geometry;
    quint64 m_lastSeq = 0;
    int m_written = 0;
    QByteArray m_lastLine;
    std::vector<uint16_t> m_frame;
};

// "生成一帧": the next frame's image rows (W x (H - 2) words) into "<date>_<time>.raw" of
// `dir`, "_2", "_3", ... when that name is taken. Blocks until the frame is in (bounded
// by the buffer's stall time). False with the reason when no frame came or the file
// could not be written.
bool saveOneFrame(CFindFrame* frames, const QString& dir, QString* path, QString* error);
