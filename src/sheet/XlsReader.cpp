#include "XlsReader.h"

#include "SheetLimits.h"

#include <QFile>
#include <QFileInfo>

#include <freexl.h>

#include <cerrno>
#include <cmath>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Present only in sanitizer builds (the fuzzers): a child that dies of a sanitizer
// report must not run the fuzzer's crash handling, which belongs to the parent.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

QString freexlText(int rc)
{
    switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("文件不存在或无法读取");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        return QStringLiteral("文件头损坏，不是有效的.xls工作簿");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("文件中没有工作簿数据");
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return QStringLiteral("工作簿的字符编码无法识别");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("文件结构严重损坏");
    default:
        return QStringLiteral("文件损坏或被截断 (错误码 %1)").arg(rc);
    }
}

// Worst case for the trial read of a whole file in the child.
constexpr int kTrialTimeoutMs = 20000;
// The child's exit status when the library refused the file with an error code (any
// status but this and 0, a sanitizer's for one, means it did not survive the file).
constexpr int kTrialRefused = 3;

// Reads the file the way openFile does, touching every cell, in the current process;
// the exit status of the trial child. Only plain library calls: it runs after fork.
int trialRead(const char* name)
{
    const void* h = nullptr;
    int rc = freexl_open_info(name, &h);
    unsigned count = 0;
    if (rc == FREEXL_OK)
        freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &count);
    for (unsigned i = 0; rc == FREEXL_OK && i < count && i < unsigned(sheetlimits::kMaxSheets); ++i) {
        unsigned rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(h, static_cast<unsigned short>(i)) != FREEXL_OK
            || freexl_worksheet_dimensions(h, &rows, &columns) != FREEXL_OK
            || int64_t(rows) * int64_t(columns) > sheetlimits::kMaxDeclaredArea)
            rc = FREEXL_UNKNOWN - 1;
    }
    if (h)
        freexl_close(h);
    if (rc != FREEXL_OK)
        return kTrialRefused; // openFile tells why
    h = nullptr;
    if (freexl_open(name, &h) != FREEXL_OK) {
        if (h)
            freexl_close(h);
        return kTrialRefused;
    }
    freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &count);
    for (unsigned i = 0; i < count && i < unsigned(sheetlimits::kMaxSheets); ++i) {
        unsigned rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(h, static_cast<unsigned short>(i)) != FREEXL_OK
            || freexl_worksheet_dimensions(h, &rows, &columns) != FREEXL_OK)
            continue;
        FreeXL_CellValue v;
        for (unsigned r = 0; r < rows; ++r)
            for (unsigned short c = 0; c < columns; ++c)
                freexl_get_cell_value(h, r, c, &v);
    }
    freexl_close(h);
    return 0;
}

// libfreexl 1.0.6 reads out of bounds on some crafted files, so a file is first read
// whole in a child process: a file that crashes or hangs the library there is refused
// and never opened in the program itself. Empty when the library may be used on it
// here (it read the file, or refused it with an error code of its own).
QString trialInChild(const QByteArray& name)
{
    int fds[2];
    if (pipe(fds) != 0)
        return QString(); // no isolation possible: read in-process
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return QString();
    }
    if (pid == 0) {
        close(fds[0]);
        signal(SIGSEGV, SIG_DFL);
        signal(SIGBUS, SIG_DFL);
        signal(SIGABRT, SIG_DFL);
        if (__sanitizer_set_death_callback)
            __sanitizer_set_death_callback(nullptr);
        _exit(trialRead(name.constData()));
    }
    close(fds[1]);
    // The pipe's write end closes when the child ends, however it ends.
    pollfd pfd{fds[0], POLLIN, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, kTrialTimeoutMs);
    } while (rc < 0 && errno == EINTR);
    close(fds[0]);
    if (rc == 0)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (rc == 0)
        return QStringLiteral("读取超时，文件结构异常");
    if (WIFSIGNALED(status))
        return QStringLiteral("文件结构损坏，读取时出错 (信号 %1)").arg(WTERMSIG(status));
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != kTrialRefused))
        return QStringLiteral("文件结构损坏，读取时出错");
    return QString();
}

} // namespace

XlsReader::~XlsReader()
{
    close();
}

void XlsReader::close()
{
    if (m_handle)
        freexl_close(m_handle);
    m_handle = nullptr;
    m_nSheets = 0;
    m_bSelected = false;
}

bool XlsReader::openFile(const QString& path)
{
    close();
    const QFileInfo fi(path);
    if (!fi.isFile())
        return fail(QStringLiteral("文件不存在或不是普通文件"));
    if (fi.size() > sheetlimits::kMaxFileBytes)
        return fail(QStringLiteral("文件过大 (%1 字节，上限 %2 字节)").arg(fi.size()).arg(sheetlimits::kMaxFileBytes));
    const QByteArray name = QFile::encodeName(path);

    const QString trial = trialInChild(name);
    if (!trial.isEmpty())
        return fail(trial);
    // Metadata first: the declared sheet sizes, without loading any cell.
    const void* info = nullptr;
    int rc = freexl_open_info(name.constData(), &info);
    if (rc != FREEXL_OK) {
        if (info)
            freexl_close(info);
        return fail(freexlText(rc));
    }
    unsigned count = 0;
    if (freexl_get_info(info, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count > unsigned(sheetlimits::kMaxSheets)) {
        freexl_close(info);
        return fail(QStringLiteral("工作表数量无效"));
    }
    for (unsigned i = 0; i < count; ++i) {
        unsigned rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(info, static_cast<unsigned short>(i)) != FREEXL_OK
            || freexl_worksheet_dimensions(info, &rows, &columns) != FREEXL_OK) {
            freexl_close(info);
            return fail(QStringLiteral("工作表%1无法读取").arg(i + 1));
        }
        if (int64_t(rows) * int64_t(columns) > sheetlimits::kMaxDeclaredArea || rows > unsigned(sheetlimits::kMaxRow)) {
            freexl_close(info);
            return fail(QStringLiteral("工作表%1尺寸异常 (%2 行 x %3 列)").arg(i + 1).arg(rows).arg(columns));
        }
    }
    freexl_close(info);

    rc = freexl_open(name.constData(), &m_handle);
    if (rc != FREEXL_OK) {
        close();
        return fail(freexlText(rc));
    }
    m_nSheets = int(count);
    return true;
}

bool XlsReader::selectSheet(int n)
{
    m_bSelected = false;
    if (!m_handle || n < 1 || n > m_nSheets)
        return fail(QStringLiteral("工作簿中没有工作表%1").arg(n));
    unsigned rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(m_handle, static_cast<unsigned short>(n - 1)) != FREEXL_OK
        || freexl_worksheet_dimensions(m_handle, &rows, &columns) != FREEXL_OK)
        return fail(QStringLiteral("工作表%1无法读取").arg(n));
    m_nRows = rows;
    m_nColumns = columns;
    m_bSelected = true;
    return true;
}

SheetCell XlsReader::cell(int row, int column) const
{
    SheetCell c;
    if (!m_bSelected || row < 1 || column < 1 || unsigned(row) > m_nRows || unsigned(column) > m_nColumns)
        return c;
    FreeXL_CellValue v{};
    if (freexl_get_cell_value(m_handle, unsigned(row - 1), static_cast<unsigned short>(column - 1), &v) != FREEXL_OK)
        return c;
    switch (v.type) {
    case FREEXL_CELL_INT:
        c.type = SheetCell::Type::Number;
        c.number = v.value.int_value;
        break;
    case FREEXL_CELL_DOUBLE:
        if (std::isfinite(v.value.double_value)) {
            c.type = SheetCell::Type::Number;
            c.number = v.value.double_value;
        }
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        // The library gives dates and times as text too.
        c.type = SheetCell::Type::Text;
        c.text = QString::fromUtf8(v.value.text_value ? v.value.text_value : "").left(sheetlimits::kMaxStringChars);
        break;
    default:
        break;
    }
    return c;
}
