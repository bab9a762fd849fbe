#include "QualityReport.h"

#include "HistoryQuery.h"
#include "HistoryRecorder.h"
#include "QualityPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QJsonObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>

namespace {

const QString kGood = QStringLiteral("#1a7f37");
const QString kBad = QStringLiteral("#c62828");
const QString kMapUrl = QStringLiteral("irbench:deviation");
const QString kHistUrl = QStringLiteral("irbench:histogram");
const QString kLegendUrl = QStringLiteral("irbench:legend");
constexpr int kPictureWidth = 460; // document pixels: both pictures on one A4 page
const QSize kLegendSize(920, 64);

// The palette bar with its scale under it, drawn as one picture so that the marks sit
// exactly under the colours they name.
QImage legendImage()
{
    QImage image(kLegendSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int bar = kLegendSize.height() / 2;
    QPainter p(&image);
    p.drawImage(0, 0, qualityDeviationLegend(QSize(kLegendSize.width(), bar)));
    QFont font;
    font.setPixelSize(kLegendSize.height() * 2 / 5);
    p.setFont(font);
    p.setPen(Qt::black);
    const QRect text(0, bar + 2, kLegendSize.width(), kLegendSize.height() - bar - 2);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("−5σ"));
    p.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("0"));
    p.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("+5σ"));
    return image;
}

// Text from the device or the operator as one line, control bytes made visible.
QString oneLine(QString text)
{
    for (QChar& ch : text)
        if (ch.category() == QChar::Other_Control)
            ch = ch == QLatin1Char('\n') || ch == QLatin1Char('\t') ? QLatin1Char(' ') : QChar(0xFFFD);
    return text;
}

// ... and as plain text in the markup.
QString cell(const QString& text)
{
    return oneLine(text).toHtmlEscaped();
}

QString dash(const QString& text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("-") : cell(text);
}

QString section(const QString& title)
{
    return QStringLiteral("<h3 style=\"margin-top:10px; margin-bottom:4px;\">%1</h3>").arg(title);
}

QString tableStart()
{
    return QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\" "
                          "style=\"border-color:#888888; border-style:solid;\">");
}

QString pairRows(const QList<QPair<QString, QString>>& rows)
{
    QString h;
    for (const auto& r : rows)
        h += QStringLiteral("<tr><td width=\"28%\" bgcolor=\"#f0f0f0\">%1</td><td>%2</td></tr>")
                 .arg(cell(r.first), dash(r.second));
    return h;
}

QString localTime(const QDateTime& t)
{
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

QString resultCell(const QString& result)
{
    if (result == QStringLiteral("通过"))
        return QStringLiteral("<span style=\"color:%1;\">%2</span>").arg(kGood, cell(result));
    if (result == QStringLiteral("未通过"))
        return QStringLiteral("<span style=\"color:%1; font-weight:bold;\">%2</span>").arg(kBad, cell(result));
    return dash(result);
}

QString imageTag(const QString& url, const QImage& image, int width)
{
    if (image.isNull())
        return QStringLiteral("(无图片)");
    const int height = std::max(1, int(double(width) * image.height() / image.width() + 0.5));
    return QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\">").arg(url).arg(width).arg(height);
}

bool isWriteKind(const QString& kind)
{
    static const QStringList kinds{HistoryKind::FlashWrite, HistoryKind::GainTable, HistoryKind::PixelTable,
                                   HistoryKind::Base,       HistoryKind::Nvffc,     HistoryKind::Drift,
                                   HistoryKind::Stabilise,  HistoryKind::DetectorConfig};
    return kinds.contains(kind);
}

// What identifies a write at a glance; hashes and timings stay in the history.
QString keyDetails(const QJsonObject& details)
{
    static const char* const keys[] = {"what",  "address", "file",   "vendor", "item",     "value",
                                       "area",  "detector", "count", "frames", "size",     "verified"};
    QStringList parts;
    for (const char* key : keys) {
        const QString k = QString::fromLatin1(key);
        if (details.contains(k))
            parts << historyDetailsText(QJsonObject{{k, details.value(k)}});
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString qualityReportPath(const QString& reportDir, const QDateTime& started)
{
    const QString stamp = started.toLocalTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    return QDir(reportDir).filePath(stamp + QStringLiteral(".pdf"));
}

QString qualityReportHtml(const QualityReportData& d)
{
    QString h = QStringLiteral("<html><body>");
    h += QStringLiteral("<p align=\"center\" style=\"font-size:18pt; font-weight:bold;\">机芯质量检验报告</p>");

    // The verdict first and large: "合格", or "不合格" with the failed items under it.
    QString word = d.verdict.trimmed();
    QString items;
    const int colon = std::max(word.indexOf(QStringLiteral("：")), word.indexOf(QLatin1Char(':')));
    if (colon > 0) {
        items = word.mid(colon + 1).trimmed();
        word = word.left(colon).trimmed();
    }
    if (word.isEmpty())
        word = d.pass ? QStringLiteral("合格") : QStringLiteral("不合格");
    h += QStringLiteral("<p align=\"center\" style=\"font-size:30pt; font-weight:bold; color:%1; "
                        "margin-bottom:0px;\">%2</p>")
             .arg(d.pass ? kGood : kBad, cell(word));
    if (!items.isEmpty())
        h += QStringLiteral("<p align=\"center\" style=\"font-size:12pt; color:%1;\">未通过项目：%2</p>")
                 .arg(kBad, cell(items));

    h += section(QStringLiteral("机芯"));
    QList<QPair<QString, QString>> identity{{QStringLiteral("传感器ID"), d.sensorId},
                                            {QStringLiteral("序列号"), d.serial}};
    identity += d.identity;
    h += tableStart() + pairRows(identity) + QStringLiteral("</table>");

    h += section(QStringLiteral("检验"));
    const QList<QPair<QString, QString>> run{
        {QStringLiteral("检验时间"), localTime(d.started)},
        {QStringLiteral("工位"), d.station},
        {QStringLiteral("操作员"), d.operatorName},
        {QStringLiteral("帧数"), QString::number(d.frames)},
        {QStringLiteral("图像尺寸"), QStringLiteral("%1 × %2").arg(d.width).arg(d.rows)},
        {QStringLiteral("坏点表来源"), d.tableSource},
        {QStringLiteral("运行文件夹"), QDir::toNativeSeparators(d.runDir)},
    };
    h += tableStart() + pairRows(run) + QStringLiteral("</table>");

    h += section(QStringLiteral("指标"));
    h += tableStart();
    h += QStringLiteral("<tr bgcolor=\"#f0f0f0\"><th align=\"left\">项目</th><th align=\"left\">测量值</th>"
                        "<th align=\"left\">标准</th><th align=\"left\">结果</th></tr>");
    for (const QStringList& r : d.figureRows)
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                 .arg(dash(r.value(0)), dash(r.value(1)), dash(r.value(2)), resultCell(r.value(3)));
    h += QStringLiteral("</table>");

    h += section(QStringLiteral("连接以来的写入"));
    if (!d.writesError.isEmpty()) {
        h += QStringLiteral("<p style=\"color:%1;\">无法列出写入记录：%2</p>").arg(kBad, cell(d.writesError));
    } else if (d.writes.isEmpty()) {
        h += QStringLiteral("<p>连接以来未写入</p>");
    } else {
        h += tableStart();
        for (const auto& w : d.writes)
            h += QStringLiteral("<tr><td width=\"24%\">%1</td><td>%2</td></tr>").arg(dash(w.first), dash(w.second));
        h += QStringLiteral("</table>");
    }

    // The pictures on a page of their own, one above the other.
    h += QStringLiteral("<h3 style=\"page-break-before:always; margin-bottom:4px;\">图片</h3>");
    h += QStringLiteral("<p align=\"center\">%1</p>").arg(imageTag(kMapUrl, d.deviationMap, kPictureWidth));
    h += QStringLiteral("<p align=\"center\"><img src=\"%1\" width=\"%2\" height=\"%3\"></p>")
             .arg(kLegendUrl)
             .arg(kPictureWidth)
             .arg(kPictureWidth * kLegendSize.height() / kLegendSize.width());
    h += QStringLiteral("<p align=\"center\" style=\"font-size:9pt;\">像元均值偏差图（每像元均值减总均值）：蓝低于均值，"
                        "白等于均值，红高于均值，超出 ±5σ 按 ±5σ 显示；黑为坏点表中的像元</p>");
    h += QStringLiteral("<p align=\"center\">%1</p>").arg(imageTag(kHistUrl, d.histogram, kPictureWidth));
    h += QStringLiteral("<p align=\"center\" style=\"font-size:9pt;\">像元均值直方图（好像元，像元数为对数坐标）</p>");

    h += QStringLiteral("<p style=\"font-size:8pt; color:#666666;\">由 IrBench %1 生成于 %2</p>")
             .arg(cell(programVersion()), localTime(QDateTime::currentDateTimeUtc()));
    h += QStringLiteral("</body></html>");
    return h;
}

bool writeQualityReport(const QualityReportData& d, const QString& path, QString* error)
{
    QString local;
    QString& why = error ? *error : local;
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        why = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }

    QTextDocument doc;
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK"), QStringLiteral("sans-serif")});
    font.setPointSize(10);
    doc.setDefaultFont(font);
    // The map drawn a few times larger so that the PDF keeps its pixels sharp.
    doc.addResource(QTextDocument::ImageResource, QUrl(kMapUrl), qualityMapForDisplay(d.deviationMap));
    doc.addResource(QTextDocument::ImageResource, QUrl(kHistUrl), d.histogram);
    doc.addResource(QTextDocument::ImageResource, QUrl(kLegendUrl), legendImage());
    doc.setHtml(qualityReportHtml(d));

    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Portrait);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("机芯质量检验报告 %1").arg(oneLine(d.sensorId)));
        writer.setCreator(QStringLiteral("IrBench %1").arg(programVersion()));
        doc.print(&writer);
    }
    if (!bytes.startsWith("%PDF")) {
        why = QStringLiteral("无法生成报告 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        why = QStringLiteral("无法写入 %1 (%2)").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

bool qualityWritesSinceConnected(const QString& sensorId, QList<QPair<QString, QString>>* writes, QString* error)
{
    QString local;
    QString& why = error ? *error : local;
    if (sensorId.isEmpty()) {
        why = QStringLiteral("机芯未识别，无法查询写入记录");
        return false;
    }
    HistoryRecorder* recorder = HistoryRecorder::instance();
    // A write made a moment ago may still be in the recorder's queue.
    if (!recorder->flushLocal(5000)) {
        const QString reason = recorder->state().localError;
        why = QStringLiteral("历史记录未能写入文件：%1")
                  .arg(reason.isEmpty() ? QStringLiteral("等待超时") : reason);
        return false;
    }
    const HistoryConfig cfg = recorder->config();
    HistoryFilter f;
    f.sensorId = sensorId;
    f.kind = HistoryKind::Identify;
    f.limit = 1;
    QList<HistoryEvent> ids;
    QString dbError;
    if (!queryHistory(cfg, HistorySource::Local, f, &ids, &dbError)) {
        why = QStringLiteral("无法读取历史记录：%1").arg(dbError);
        return false;
    }
    if (ids.isEmpty()) {
        why = QStringLiteral("历史记录中没有机芯 %1 的识别记录").arg(oneLine(sensorId));
        return false;
    }
    const HistoryEvent& connected = ids.front();

    HistoryFilter since;
    since.sensorId = sensorId;
    since.since = connected.started.toUTC().date();
    since.limit = 100000;
    QList<HistoryEvent> events;
    if (!queryHistory(cfg, HistorySource::Local, since, &events, &dbError)) {
        why = QStringLiteral("无法读取历史记录：%1").arg(dbError);
        return false;
    }
    // Newest first: everything before the identification itself in this order is newer.
    QList<QPair<QString, QString>> out;
    for (const HistoryEvent& e : events) {
        if (e.uuid == connected.uuid || e.started < connected.started)
            break;
        if (!isWriteKind(e.kind))
            continue;
        QString text = HistoryKind::caption(e.kind) + QLatin1Char(' ') + historyResultText(e);
        const QString details = keyDetails(e.details);
        if (!details.isEmpty())
            text += QLatin1Char(' ') + details;
        out.prepend({localTime(e.started), oneLine(text)});
    }
    if (writes)
        *writes = out;
    return true;
}
