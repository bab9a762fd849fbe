// Arbitrary bytes as an operator's ".dat" table: the reading of its lines into 2- and
// 4-byte values, with the counts the file group relies on.
#include "FileTransfer.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

// The table goes through a real file, as the page reads it; removed when the run ends.
struct ScratchFile {
    QString path = QDir::tempPath() + QStringLiteral("/irbench_fuzz_%1.dat").arg(::getpid());
    ~ScratchFile() { QFile::remove(path); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile scratch;
    const QString& path = scratch.path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    for (const int valueBytes : {2, 4}) {
        DatTable table;
        if (!readDatTable(path, valueBytes, &table))
            continue;
        const int values = table.bytes.size() / valueBytes;
        // Whole values only, never more numbers than values, never more values than lines.
        if (table.bytes.size() % valueBytes != 0 || table.numericLines > values || qint64(values) > qint64(size))
            std::abort();
    }
    return 0;
}
