// One export of a full list (255 records, the most the instrument sends) to a file.
#include "export/Workbook.h"
#include "sync/Columns.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kFullListRows = 255;

sf6::WorkbookInput fullList()
{
    sf6::WorkbookInput in{sf6::columnCaptions(), {}, QStringLiteral("MS Sans Serif"), 8, {}};
    for (int k = 0; k < sf6::kColumnCount; ++k)
        in.columnWidthsPx.push_back(sf6::defaultColumnWidth(k));
    for (int i = 0; i < kFullListRows; ++i) {
        QStringList row{QString::number(i + 1), QStringLiteral("2012-05-18 09:07"), QStringLiteral("22.5°C"),
                        QStringLiteral("自动"), QStringLiteral("3")};
        for (int k = sf6::kFirstValueColumn; k < sf6::kColumnCount; ++k)
            row << QString::number(0.4 + 0.001 * ((i * 7 + k) % 300), 'f', 3);
        in.rows.push_back(row);
    }
    return in;
}

void BM_ExportFullList(benchmark::State& state)
{
    const sf6::WorkbookInput in = fullList();
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("bench.xlsx"));
    for (auto _ : state) {
        if (!sf6::writeWorkbook(in, name).ok())
            state.SkipWithError("export failed");
    }
    state.SetItemsProcessed(state.iterations() * kFullListRows);
}
BENCHMARK(BM_ExportFullList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
