#include "SpecSheet.h"

#include <QDir>
#include <QFileInfo>

#include <vector>

namespace specsheet {

SearchResult findSheet(const QString& dir, const QString& sensorId, const std::function<void(const QString&)>& seen,
                       const std::atomic<bool>* cancel)
{
    SearchResult res;
    if (sensorId.isEmpty())
        return res;
    const QStringList filters{QStringLiteral("*.xls"), QStringLiteral("*.xlsx")};
    std::vector<QString> pending{dir};
    while (!pending.empty()) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            res.cancelled = true;
            return res;
        }
        const QDir d(pending.back());
        pending.pop_back();
        const QFileInfoList files =
            d.entryInfoList(filters, QDir::Files, QDir::Name);
        for (const QFileInfo& fi : files) {
            // "~$name.xlsx": the owner file Office leaves beside an open workbook.
            if (fi.fileName().startsWith(QLatin1String("~$")))
                continue;
            ++res.workbooks;
            if (seen)
                seen(fi.fileName());
            if (fi.fileName().contains(sensorId, Qt::CaseSensitive)) {
                res.match = fi.absoluteFilePath();
                ++res.matches;
            }
        }
        const QFileInfoList subs = d.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        // Last pushed is walked first: push in reverse to walk in name order.
        for (auto it = subs.crbegin(); it != subs.crend(); ++it)
            if (!it->isSymLink())
                pending.push_back(it->absoluteFilePath());
    }
    return res;
}

} // namespace specsheet
