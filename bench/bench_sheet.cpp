// Reading a vendor datasheet with a 1500-entry bad-pixel list: the whole parse
// (open, the vendor values, the list and its records) of the .xls and the .xlsx
// fixture, each beside reading the same file's bytes in the same run. Goal: one
// workbook parsed well under a second (the dialog's wait).
#include "SheetWorkbook.h"
#include "SpecSheet.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

QString workbook(int format)
{
    return QStringLiteral(IRBENCH_SHEET_FIXTURES) + (format == 0 ? "/list1500.xls" : "/list1500.xlsx");
}

void BM_FileBytes(benchmark::State& state)
{
    const QString path = workbook(int(state.range(0)));
    for (auto _ : state) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            state.SkipWithError("fixture missing");
            return;
        }
        benchmark::DoNotOptimize(f.readAll());
    }
}
BENCHMARK(BM_FileBytes)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ParseSpecSheet(benchmark::State& state)
{
    const QString path = workbook(int(state.range(0)));
    for (auto _ : state) {
        QString error;
        std::unique_ptr<SheetWorkbook> book = SheetWorkbook::open(path, &error);
        specsheet::Result r;
        if (!book || !specsheet::extract(*book, 4, 640, 512, &r, [](const QString&) {}) || r.table.size() != 1500 * 4) {
            state.SkipWithError("parse failed");
            return;
        }
        benchmark::DoNotOptimize(r.table.data());
    }
    state.SetItemsProcessed(state.iterations() * 1500);
}
BENCHMARK(BM_ParseSpecSheet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
