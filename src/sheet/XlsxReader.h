#pragma once

#include "SheetWorkbook.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QBuffer;
class QXmlStreamReader;
class QuaZip;

// .xlsx (Office Open XML package) through QuaZip and QXmlStreamReader. Worksheet n
// is the n-th worksheet of the workbook part's <sheets>, reached through the package
// and workbook relationships; part names and sheetId values mean nothing. Every part
// is inflated into memory under the limits of SheetLimits.h.
class XlsxReader : public SheetWorkbook {
public:
    XlsxReader();
    ~XlsxReader() override;
    XlsxReader(const XlsxReader&) = delete;
    XlsxReader& operator=(const XlsxReader&) = delete;

    bool openFile(const QString& path);
    // The package's bytes (the fuzz harness and tests).
    bool openData(const QByteArray& data);

    int sheetCount() const override { return int(m_sheetParts.size()); }
    bool selectSheet(int n) override;
    SheetCell cell(int row, int column) const override;

private:
    struct Relationship {
        QString type;   // last path segment of the type URI ("worksheet", ...)
        QString target; // part name, resolved against the source part
    };
    bool readPart(const QString& name, QByteArray* data);
    // Calls `each` at every start of `element` in the part; false when a call does
    // (its failure already told) or the XML is broken.
    bool forEachElement(const QString& partName, QLatin1String element,
                        const std::function<bool(QXmlStreamReader&)>& each);
    bool readRelationships(const QString& partName, QHash<QString, Relationship>* rels);
    bool readWorkbook(const QString& workbookPart);
    bool readSharedStrings(const QString& partName);
    bool readSheet(const QByteArray& xml);

    QByteArray m_data;
    std::unique_ptr<QBuffer> m_pBuffer;
    std::unique_ptr<QuaZip> m_pZip;
    int64_t m_nInflated = 0;
    QStringList m_sheetParts;
    QStringList m_sharedStrings;
    QHash<qint64, SheetCell> m_cells;
};
