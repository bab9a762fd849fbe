#include "XlsxReader.h"

#include "SheetLimits.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <quazip.h>
#include <quazipfile.h>

#include <cmath>

namespace {

qint64 cellKey(int row, int column)
{
    return qint64(row) * (sheetlimits::kMaxColumn + 1) + column;
}

// "xl/worksheets/../sharedStrings.xml" -> "xl/sharedStrings.xml"; targets starting
// with "/" are package-absolute.
QString resolvePart(const QString& sourcePart, const QString& target)
{
    QString path;
    if (target.startsWith(QLatin1Char('/'))) {
        path = target.mid(1);
    } else {
        const int slash = sourcePart.lastIndexOf(QLatin1Char('/'));
        path = (slash >= 0 ? sourcePart.left(slash + 1) : QString()) + target;
    }
    QStringList out;
    for (const QString& seg : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (seg == QLatin1String("."))
            continue;
        if (seg == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out << seg;
    }
    return out.join(QLatin1Char('/'));
}

QString relsPartOf(const QString& partName)
{
    const int slash = partName.lastIndexOf(QLatin1Char('/'));
    const QString dir = slash >= 0 ? partName.left(slash + 1) : QString();
    return dir + QStringLiteral("_rels/") + partName.mid(slash + 1) + QStringLiteral(".rels");
}

// "AB12" -> row 12, column 28. False for anything else or beyond the format's range.
bool parseRef(QStringView ref, int* row, int* column)
{
    int i = 0;
    int col = 0;
    while (i < ref.size() && ref[i] >= QLatin1Char('A') && ref[i] <= QLatin1Char('Z')) {
        col = col * 26 + (ref[i].unicode() - 'A' + 1);
        if (col > sheetlimits::kMaxColumn)
            return false;
        ++i;
    }
    if (i == 0 || i == ref.size())
        return false;
    int r = 0;
    for (; i < ref.size(); ++i) {
        if (ref[i] < QLatin1Char('0') || ref[i] > QLatin1Char('9'))
            return false;
        r = r * 10 + (ref[i].unicode() - '0');
        if (r > sheetlimits::kMaxRow)
            return false;
    }
    if (r < 1)
        return false;
    *row = r;
    *column = col;
    return true;
}

// Text of an <si> or <is> element: its <t> children and those of its <r> runs,
// phonetic runs (<rPh>) left out.
QString richText(QXmlStreamReader& xml)
{
    QString text;
    int depth = 0;
    bool inPhonetic = false;
    while (!xml.atEnd()) {
        const auto tok = xml.readNext();
        if (tok == QXmlStreamReader::StartElement) {
            ++depth;
            if (xml.name() == QLatin1String("rPh"))
                inPhonetic = true;
            else if (xml.name() == QLatin1String("t") && !inPhonetic) {
                text += xml.readElementText();
                --depth;
                if (text.size() > sheetlimits::kMaxStringChars)
                    text.truncate(sheetlimits::kMaxStringChars);
            }
        } else if (tok == QXmlStreamReader::EndElement) {
            if (depth == 0)
                break;
            if (xml.name() == QLatin1String("rPh"))
                inPhonetic = false;
            --depth;
        }
    }
    return text;
}

QString xmlProblem(const QString& part, const QXmlStreamReader& xml)
{
    return QStringLiteral("部件 %1 的XML损坏 (第%2行: %3)").arg(part).arg(xml.lineNumber()).arg(xml.errorString());
}

} // namespace

XlsxReader::XlsxReader() = default;
XlsxReader::~XlsxReader() = default;

bool XlsxReader::openFile(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.isFile())
        return fail(QStringLiteral("文件不存在或不是普通文件"));
    if (fi.size() > sheetlimits::kMaxFileBytes)
        return fail(QStringLiteral("文件过大 (%1 字节，上限 %2 字节)").arg(fi.size()).arg(sheetlimits::kMaxFileBytes));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("文件无法打开: %1").arg(f.errorString()));
    return openData(f.read(sheetlimits::kMaxFileBytes + 1));
}

bool XlsxReader::openData(const QByteArray& data)
{
    m_cells.clear();
    m_sheetParts.clear();
    m_sharedStrings.clear();
    m_nInflated = 0;
    m_pZip.reset();
    if (data.size() > sheetlimits::kMaxFileBytes)
        return fail(QStringLiteral("文件过大"));
    m_data = data;
    m_pBuffer = std::make_unique<QBuffer>(&m_data);
    m_pZip = std::make_unique<QuaZip>(m_pBuffer.get());
    if (!m_pZip->open(QuaZip::mdUnzip)) {
        m_pZip.reset();
        return fail(QStringLiteral("不是有效的.xlsx工作簿 (zip结构损坏)"));
    }
    if (m_pZip->getEntriesCount() > sheetlimits::kMaxParts)
        return fail(QStringLiteral("工作簿部件过多 (%1 个)").arg(m_pZip->getEntriesCount()));

    QHash<QString, Relationship> rels;
    if (!readRelationships(QString(), &rels))
        return false;
    QString workbookPart;
    for (const Relationship& r : rels)
        if (r.type == QLatin1String("officeDocument"))
            workbookPart = r.target;
    if (workbookPart.isEmpty())
        return fail(QStringLiteral("包关系中没有工作簿部件"));
    return readWorkbook(workbookPart);
}

bool XlsxReader::readPart(const QString& name, QByteArray* data)
{
    data->clear();
    // Part names compare without case in a package.
    if (!m_pZip || !m_pZip->setCurrentFile(name, QuaZip::csInsensitive))
        return fail(QStringLiteral("缺少部件 %1").arg(name));
    QuaZipFile file(m_pZip.get());
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("部件 %1 无法解压").arg(name));
    char chunk[64 * 1024];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof(chunk));
        if (n < 0) {
            file.close();
            return fail(QStringLiteral("部件 %1 解压失败 (数据损坏)").arg(name));
        }
        if (n == 0)
            break;
        if (data->size() + n > sheetlimits::kMaxPartBytes || m_nInflated + n > sheetlimits::kMaxInflatedBytes) {
            file.close();
            data->clear();
            return fail(QStringLiteral("部件 %1 解压后超过上限 %2 字节").arg(name).arg(sheetlimits::kMaxPartBytes));
        }
        data->append(chunk, int(n));
        m_nInflated += n;
    }
    file.close();
    if (file.getZipError() != UNZ_OK) {
        data->clear();
        return fail(QStringLiteral("部件 %1 校验失败 (数据损坏)").arg(name));
    }
    return true;
}

bool XlsxReader::forEachElement(const QString& partName, QLatin1String element,
                                const std::function<bool(QXmlStreamReader&)>& each)
{
    QByteArray bytes;
    if (!readPart(partName, &bytes))
        return false;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == element && !each(xml))
            return false;
    }
    if (xml.hasError())
        return fail(xmlProblem(partName, xml));
    return true;
}

bool XlsxReader::readRelationships(const QString& partName, QHash<QString, Relationship>* rels)
{
    const QString relsPart = partName.isEmpty() ? QStringLiteral("_rels/.rels") : relsPartOf(partName);
    return forEachElement(relsPart, QLatin1String("Relationship"), [&](QXmlStreamReader& xml) {
        const auto a = xml.attributes();
        if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
            return true;
        const QString type = a.value(QLatin1String("Type")).toString();
        Relationship r;
        r.type = type.mid(type.lastIndexOf(QLatin1Char('/')) + 1);
        r.target = resolvePart(partName, a.value(QLatin1String("Target")).toString());
        rels->insert(a.value(QLatin1String("Id")).toString(), r);
        return true;
    });
}

bool XlsxReader::readWorkbook(const QString& workbookPart)
{
    QHash<QString, Relationship> rels;
    if (!readRelationships(workbookPart, &rels))
        return false;
    const bool ok = forEachElement(workbookPart, QLatin1String("sheet"), [&](QXmlStreamReader& xml) {
        // r:id, in whichever relationships namespace the package uses.
        QString id;
        for (const QXmlStreamAttribute& a : xml.attributes())
            if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                id = a.value().toString();
        const auto it = rels.constFind(id);
        if (it == rels.constEnd())
            return fail(QStringLiteral("工作表 \"%1\" 的关系 %2 不存在").arg(xml.attributes().value(QLatin1String("name")), id));
        // Chart and dialog sheets are sheets but not worksheets.
        if (it->type == QLatin1String("worksheet"))
            m_sheetParts << it->target;
        return m_sheetParts.size() <= sheetlimits::kMaxSheets || fail(QStringLiteral("工作表数量无效"));
    });
    if (!ok)
        return false;
    for (const Relationship& r : rels)
        if (r.type == QLatin1String("sharedStrings"))
            return readSharedStrings(r.target);
    return true;
}

bool XlsxReader::readSharedStrings(const QString& partName)
{
    return forEachElement(partName, QLatin1String("si"), [&](QXmlStreamReader& xml) {
        if (m_sharedStrings.size() >= sheetlimits::kMaxSharedStrings)
            return fail(QStringLiteral("共享字符串过多"));
        m_sharedStrings << richText(xml);
        return true;
    });
}

bool XlsxReader::selectSheet(int n)
{
    m_cells.clear();
    if (n < 1 || n > m_sheetParts.size())
        return fail(QStringLiteral("工作簿中没有工作表%1").arg(n));
    QByteArray bytes;
    if (!readPart(m_sheetParts[n - 1], &bytes))
        return false;
    if (!readSheet(bytes)) {
        m_cells.clear();
        m_error = QStringLiteral("工作表%1: %2").arg(n).arg(m_error);
        return false;
    }
    return true;
}

bool XlsxReader::readSheet(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    int row = 0;
    int column = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1String("dimension")) {
            const QStringList ends = xml.attributes().value(QLatin1String("ref")).toString().split(QLatin1Char(':'));
            int r = 0;
            int c = 0;
            for (const QString& end : ends)
                if (!parseRef(end, &r, &c))
                    return fail(QStringLiteral("尺寸异常 (%1)").arg(ends.join(QLatin1Char(':')).left(40)));
        } else if (name == QLatin1String("row")) {
            const QStringView r = xml.attributes().value(QLatin1String("r"));
            bool ok = true;
            const int n = r.isEmpty() ? row + 1 : r.toInt(&ok);
            if (!ok || n < 1 || n > sheetlimits::kMaxRow)
                return fail(QStringLiteral("行号异常 (%1)").arg(r.left(20)));
            row = n;
            column = 0;
        } else if (name == QLatin1String("c")) {
            const auto a = xml.attributes();
            const QStringView ref = a.value(QLatin1String("r"));
            int r = row;
            int c = column + 1;
            if (!ref.isEmpty() && !parseRef(ref, &r, &c))
                return fail(QStringLiteral("单元格地址异常 (%1)").arg(ref.left(20)));
            if (r < 1 || c > sheetlimits::kMaxColumn)
                return fail(QStringLiteral("单元格不在任何行内"));
            row = r;
            column = c;
            const QString type = a.value(QLatin1String("t")).toString();
            QString value;
            bool haveValue = false;
            QString inlineText;
            bool haveInline = false;
            while (!xml.atEnd()) {
                const auto tok = xml.readNext();
                if (tok == QXmlStreamReader::EndElement && xml.name() == QLatin1String("c"))
                    break;
                if (tok != QXmlStreamReader::StartElement)
                    continue;
                if (xml.name() == QLatin1String("v")) {
                    value = xml.readElementText();
                    haveValue = true;
                } else if (xml.name() == QLatin1String("is")) {
                    inlineText = richText(xml);
                    haveInline = true;
                } else {
                    xml.skipCurrentElement(); // <f>, <extLst>
                }
            }
            SheetCell cell;
            if (type == QLatin1String("inlineStr")) {
                if (haveInline) {
                    cell.type = SheetCell::Type::Text;
                    cell.text = inlineText;
                }
            } else if (!haveValue) {
                // A styled cell without a value.
            } else if (type == QLatin1String("s")) {
                bool ok = false;
                const int idx = value.toInt(&ok);
                cell.type = SheetCell::Type::Text;
                if (ok && idx >= 0 && idx < m_sharedStrings.size())
                    cell.text = m_sharedStrings[idx];
            } else if (type.isEmpty() || type == QLatin1String("n") || type == QLatin1String("b")) {
                bool ok = false;
                const double v = value.toDouble(&ok);
                if (ok && std::isfinite(v)) {
                    cell.type = SheetCell::Type::Number;
                    cell.number = v;
                } else {
                    cell.type = SheetCell::Type::Text;
                    cell.text = value.left(sheetlimits::kMaxStringChars);
                }
            } else {
                // "str" (a formula's text), "e" (an error value), "d" (an ISO date).
                cell.type = SheetCell::Type::Text;
                cell.text = value.left(sheetlimits::kMaxStringChars);
            }
            if (cell.type != SheetCell::Type::Empty) {
                if (m_cells.size() >= sheetlimits::kMaxCells)
                    return fail(QStringLiteral("单元格过多 (上限 %1)").arg(sheetlimits::kMaxCells));
                m_cells.insert(cellKey(row, column), cell);
            }
        }
    }
    if (xml.hasError())
        return fail(QStringLiteral("XML损坏 (第%1行: %2)").arg(xml.lineNumber()).arg(xml.errorString()));
    return true;
}

SheetCell XlsxReader::cell(int row, int column) const
{
    if (row < 1 || column < 1 || row > sheetlimits::kMaxRow || column > sheetlimits::kMaxColumn)
        return SheetCell();
    return m_cells.value(cellKey(row, column));
}
