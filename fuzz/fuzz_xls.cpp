// Vendor workbooks come from anywhere: arbitrary bytes as an .xls file (truncated
// BIFF, broken compound-file tables, absurd sheet sizes) through the reader and the
// datasheet's extraction. The library reads files only, so each input is written to
// one scratch file first.
#include "SpecSheet.h"
#include "XlsReader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cstddef>
#include <cstdint>

// libfreexl 1.0.6 loses a few small blocks on some corrupt compound files that it
// still opens; that is the library's, and our own leaks must still stop the run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfreexl.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/irbench_fuzz_xls_%1.xls").arg(getpid());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    XlsReader book;
    if (book.openFile(path)) {
        for (int n = 1; n <= book.sheetCount() && n <= 4; ++n)
            if (book.selectSheet(n))
                for (int r = 1; r <= 3; ++r)
                    book.cell(r, r).describe();
        specsheet::Result result;
        specsheet::extract(book, size % 2 ? 2 : 4, 640, 512, &result, [](const QString&) {});
    }
    QFile::remove(path);
    return 0;
}
