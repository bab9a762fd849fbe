// Vendor workbooks come from anywhere: arbitrary bytes as an .xlsx package (corrupt
// zip, broken relationships, bombs, absurd sheets) through the reader and the
// datasheet's extraction.
#include "SpecSheet.h"
#include "XlsxReader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    XlsxReader book;
    if (!book.openData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        return 0;
    for (int n = 1; n <= book.sheetCount() && n <= 4; ++n)
        if (book.selectSheet(n))
            for (int r = 1; r <= 3; ++r)
                book.cell(r, r).describe();
    specsheet::Result result;
    specsheet::extract(book, size % 2 ? 2 : 4, 384, 288, &result, [](const QString&) {});
    return 0;
}
