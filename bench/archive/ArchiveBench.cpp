// The archive's costs on SQLite: archiving one full sync (255 records),
// listing a month out of 120,000 records, listing and exporting all of them,
// opening the history window on them, one PDF of 255 reports, and a program
// started to write one row against one started to read.
// SF6_BENCH_ARCHIVE=FILE keeps the large archive in FILE (made when absent),
// for measuring sf6cli on it.
#include "archive/ArchiveStore.h"
#include "archive/THistoryForm.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "report/ReportRenderer.h"
#include "sim/Records.h"

#include <QFile>

#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kFullSync = 255;
constexpr int kLargeArchive = 120000;

sf6::SyncLog logOf(std::vector<QByteArray> records)
{
    return sf6::SyncLog{sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"), int(records.size()),
                        sf6::SyncEnd::Complete, std::move(records)};
}


std::shared_ptr<sf6::Archive> openArchive(const QString& file)
{
    auto a = sf6::Archive::open(*sf6::ArchiveLocation::parse(file));
    return a ? std::move(*a) : nullptr;
}

// One archive of 100,000 records, made once for the benchmarks that read it.
const QString& largeArchive()
{
    static QTemporaryDir dir;
    static const QString file = [] {
        const QString kept = qEnvironmentVariable("SF6_BENCH_ARCHIVE");
        const QString f = kept.isEmpty() ? dir.filePath(QStringLiteral("large.sqlite")) : kept;
        if (!kept.isEmpty() && QFile::exists(f))
            return f;
        auto a = openArchive(f);
        if (!a || !sf6::archiveSync(*a, logOf(sim::spreadRecords(kLargeArchive, 1))).ok())
            std::abort();
        return f;
    }();
    return file;
}

void BM_ArchiveFullSync(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::vector<QByteArray> records = sim::spreadRecords(kFullSync, 7);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto a = openArchive(dir.filePath(QStringLiteral("a%1.sqlite").arg(round++)));
        state.ResumeTiming();
        auto stored = sf6::archiveSync(*a, logOf(records));
        if (!stored || stored->newRecords != kFullSync)
            state.SkipWithError("archiving failed");
    }
}
BENCHMARK(BM_ArchiveFullSync)->Unit(benchmark::kMillisecond);

// Opening to write checks the whole file first; to read it does not.
void BM_Open100k(benchmark::State& state)
{
    const auto location = *sf6::ArchiveLocation::parse(largeArchive());
    const auto access = state.range(0) ? sf6::Archive::Access::Write : sf6::Archive::Access::Read;
    for (auto _ : state) {
        auto a = sf6::Archive::open(location, access);
        if (!a)
            state.SkipWithError("opening failed");
    }
}
BENCHMARK(BM_Open100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A program started to write one row (a report kept, as a register edit or an
// approval from the command line), against one started to list a month: the
// damage check before a write must not read the whole file every time. With
// Arg(1) another program touched the file before each start, so the check
// reads it all, as it did on every write before.
void BM_StartAndWriteOneRowOn120k(benchmark::State& state)
{
    const QString file = largeArchive();
    const auto location = *sf6::ArchiveLocation::parse(file);
    const sf6::ReportDetails details = sf6::defaultReportDetails(QStringLiteral("2026-12-9"));
    int record = 0;
    for (auto _ : state) {
        if (state.range(0)) {
            state.PauseTiming();
            QFile touched(file);
            touched.open(QIODevice::ReadWrite);
            touched.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
            touched.close();
            state.ResumeTiming();
        }
        auto a = sf6::Archive::open(location, sf6::Archive::Access::Write);
        if (!a || !sf6::storeReport(**a, record++ % kLargeArchive + 1, details, QStringLiteral("bench"))) {
            state.SkipWithError("writing failed");
            break;
        }
    }
}
BENCHMARK(BM_StartAndWriteOneRowOn120k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_StartAndListAMonthOf120k(benchmark::State& state)
{
    const auto location = *sf6::ArchiveLocation::parse(largeArchive());
    sf6::ArchiveFilter month;
    month.from = QDate(2011, 3, 1);
    month.to = QDate(2011, 3, 31);
    for (auto _ : state) {
        auto a = sf6::Archive::open(location, sf6::Archive::Access::Read);
        auto listed = a ? sf6::listRecords(**a, month) : sf6::Expected<std::vector<sf6::ArchivedRecord>>(a.status());
        if (!listed) {
            state.SkipWithError("listing failed");
            break;
        }
        for (const sf6::ArchivedRecord& r : *listed)
            benchmark::DoNotOptimize(r.row());
    }
}
BENCHMARK(BM_StartAndListAMonthOf120k)->Unit(benchmark::kMillisecond)->Iterations(10);

// What `sf6cli archive list --from --to` does: the query and every row's texts.
void BM_ListOneMonthOf120k(benchmark::State& state)
{
    auto a = openArchive(largeArchive());
    sf6::ArchiveFilter month;
    month.from = QDate(2011, 3, 1);
    month.to = QDate(2011, 3, 31);
    size_t rows = 0;
    for (auto _ : state) {
        auto listed = sf6::listRecords(*a, month);
        rows = listed->size();
        for (const sf6::ArchivedRecord& r : *listed)
            benchmark::DoNotOptimize(r.row());
    }
    state.counters["records"] = double(rows);
}
BENCHMARK(BM_ListOneMonthOf120k)->Unit(benchmark::kMillisecond);

// What `sf6cli archive list --tsv FILE` does: every record, streamed into text.
void BM_ListAllOf120kAsTsv(benchmark::State& state)
{
    auto a = openArchive(largeArchive());
    qint64 bytes = 0;
    for (auto _ : state) {
        cli::RecordsText tsv(cli::RecordsText::Tsv);
        bytes = tsv.head().size();
        const sf6::Status s = sf6::forEachRecord(*a, {}, [&](const sf6::ArchivedRecord& r) {
            bytes += tsv.row(r).size();
            return true;
        });
        if (!s)
            state.SkipWithError("listing failed");
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_ListAllOf120kAsTsv)->Unit(benchmark::kMillisecond)->Iterations(2);

// What `sf6cli archive export` does: every record, streamed into a workbook.
void BM_ExportAllOf120k(benchmark::State& state)
{
    auto a = openArchive(largeArchive());
    QTemporaryDir dir;
    for (auto _ : state) {
        const sf6::RowFeed feed = [&a](const sf6::AddRow& add) {
            return sf6::forEachRecord(*a, {}, [&add](const sf6::ArchivedRecord& r) {
                add(r.row());
                return true;
            });
        };
        if (!sf6::writeWorkbook(sf6::listWorkbook({}), feed, dir.filePath(QStringLiteral("all.xlsx"))))
            state.SkipWithError("export failed");
    }
}
BENCHMARK(BM_ExportAllOf120k)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_HistoryWindowOn120k(benchmark::State& state)
{
    const sf6::ArchiveLocation loc = *sf6::ArchiveLocation::parse(largeArchive());
    for (auto _ : state) {
        THistoryForm* h = THistoryForm::open(loc);
        h->show();
        if (!QTest::qWaitForWindowExposed(h))
            state.SkipWithError("not shown");
        h->HistoryGrid->viewport()->repaint();   // the first screenful, decoded and drawn
        state.PauseTiming();
        delete h;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HistoryWindowOn120k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReportOf255RecordsInOnePdf(benchmark::State& state)
{
    QTemporaryDir dir;
    auto a = openArchive(dir.filePath(QStringLiteral("r.sqlite")));
    if (!sf6::archiveSync(*a, logOf(sim::spreadRecords(kFullSync, 9))))
        state.SkipWithError("archiving failed");
    const sf6::ReportDetails base = sf6::defaultReportDetails(QStringLiteral("2026-12-9"));
    for (auto _ : state) {
        auto records = sf6::listRecords(*a, {});
        sf6::ReportPdfWriter pdf(dir.filePath(QStringLiteral("all.pdf")));
        for (const sf6::ArchivedRecord& r : *records) {
            sf6::ReportDetails d = base;
            const sf6::ListRow row = r.row();
            d.testDate = sf6::testDateOfRow(row);
            if (!pdf.addPage(sf6::buildReportPage(d, row)))
                state.SkipWithError("PDF failed");
        }
        if (!pdf.commit())
            state.SkipWithError("PDF failed");
    }
}
BENCHMARK(BM_ReportOf255RecordsInOnePdf)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
