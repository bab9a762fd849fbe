#pragma once

#include "SheetWorkbook.h"

// .xls (BIFF5 / BIFF8 in a compound file) through libfreexl. The declared size of
// every worksheet is checked on a metadata-only pass before the cells are loaded,
// because the library allocates the whole declared area at once; then the file is
// read whole once in a child process, because the library is not safe on every
// crafted file (see XlsReader.cpp).
class XlsReader : public SheetWorkbook {
public:
    XlsReader() = default;
    ~XlsReader() override;
    XlsReader(const XlsReader&) = delete;
    XlsReader& operator=(const XlsReader&) = delete;

    bool openFile(const QString& path);

    int sheetCount() const override { return m_nSheets; }
    bool selectSheet(int n) override;
    SheetCell cell(int row, int column) const override;

private:
    void close();

    const void* m_handle = nullptr;
    int m_nSheets = 0;
    bool m_bSelected = false;
    unsigned m_nRows = 0;
    unsigned m_nColumns = 0;
};
