#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// One operation on a core, as the history keeps it. A flow makes one when it starts,
// fills the details, says how it ended and hands it to the recorder:
//
//     HistoryEvent e(HistoryKind::ReadBack);
//     e.details["selector"] = selector;
//     ...
//     e.finish(ok, code, text, step);
//     HistoryRecorder::instance()->record(std::move(e));
//
// UUID, station, operator, program version, link and core are filled in by the
// recorder when the flow leaves them empty.
namespace HistoryKind {
inline const QString Identify = QStringLiteral("identify");
inline const QString FlashWrite = QStringLiteral("flash_write");
inline const QString ReadBack = QStringLiteral("read_back");
inline const QString Capture = QStringLiteral("capture");
inline const QString GainTable = QStringLiteral("gain_table");
inline const QString PixelTable = QStringLiteral("pixel_table");
inline const QString Base = QStringLiteral("base");
inline const QString Nvffc = QStringLiteral("nvffc");
inline const QString Drift = QStringLiteral("drift");
inline const QString Stabilise = QStringLiteral("stabilise");
inline const QString DetectorConfig = QStringLiteral("detector_config");
inline const QString FileTool = QStringLiteral("file_tool");
inline const QString Quality = QStringLiteral("quality");

// Every kind in the order the history tab lists them, and its caption there.
QStringList all();
QString caption(const QString& kind);
} // namespace HistoryKind

struct HistoryEvent {
    HistoryEvent() = default;
    // Starts now (UTC).
    explicit HistoryEvent(const QString& kind);

    void succeed();
    // `step`: where it stopped ("enter", "block", ...); `text` the operator's message.
    void fail(int code, const QString& text, const QString& step = QString());
    void finish(bool ok, int code, const QString& text, const QString& step = QString());

    QString uuid;           // without braces; made by the recorder when empty
    QString kind;
    QString station;
    QString operatorName;
    QString programVersion;
    QString link;           // serial port, or camera address and channel
    QDateTime started;      // UTC
    QDateTime ended;        // UTC
    bool ok = false;
    int code = 0;
    QString message;
    QString step;
    QString sensorId;
    QString serial;
    QJsonObject details;    // what the kind adds: address, size, sha256, ...
};

// Lowercase hex of the SHA-256 of `bytes`.
QString sha256Hex(const QByteArray& bytes);
// "成功", or "失败 (code) message".
QString historyResultText(const HistoryEvent& e);
// The details as "key=value" pairs, for a line of text.
QString historyDetailsText(const QJsonObject& details);
