// Importing 10,000 rows into an empty SQLite archive from each export format:
// the list workbook this program writes (.xlsx, streamed), TSV and JSON as
// sf6cli writes them, and an Excel 97-2003 workbook (.xls, python3-xlwt).
// The whole import counts: reading, rebuilding every record and storing it.
#include "archive/ArchiveStore.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "import/Import.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kRows = 10000;

std::vector<sf6::ListRow> benchRows()
{
    std::mt19937 rng(17);
    std::vector<sf6::ListRow> rows;
    for (int i = 0; i < kRows; ++i) {
        sim::RecordFields f = sim::plausibleRecord(i, rng);
        f.minute = int8_t(i % 60);
        f.hour = int8_t(i / 60 % 24);
        f.day = int8_t(1 + i / 1440 % 28);
        const QByteArray r = sim::encodeRecord(f);
        rows.push_back(sf6::decodeRecord(reinterpret_cast<const unsigned char*>(r.constData()), i + 1));
    }
    return rows;
}

struct Files {
    QTemporaryDir dir;
    QString xlsx, tsv, json, xls;
    Files()
    {
        const std::vector<sf6::ListRow> rows = benchRows();
        xlsx = dir.filePath(QStringLiteral("list.xlsx"));
        const sf6::RowFeed feed = [&rows](const sf6::AddRow& add) {
            for (const auto& r : rows)
                add(r);
            return sf6::Status::success();
        };
        if (!sf6::writeWorkbook(sf6::listWorkbook({}), feed, xlsx).ok())
            std::abort();
        auto save = [this](const char* name, const QByteArray& bytes) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                std::abort();
            return f.fileName();
        };
        tsv = save("list.tsv", cli::rowsAsTsv(rows));
        json = save("list.json", cli::rowsAsJson(rows));
        QJsonArray sheet{QJsonArray::fromStringList(sf6::columnCaptions())};
        for (const auto& r : rows)
            sheet.append(QJsonArray::fromStringList(r));
        xls = dir.filePath(QStringLiteral("list.xls"));
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SF6_WORKBOOK_WRITER), QStringLiteral("xls"), xls});
        p.write(QJsonDocument(sheet).toJson(QJsonDocument::Compact));
        p.closeWriteChannel();
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            xls.clear();   // no python3-xlwt: that benchmark is skipped
    }
};

Files& files()
{
    static Files f;
    return f;
}

void importInto(benchmark::State& state, const QString& file)
{
    if (file.isEmpty()) {
        state.SkipWithError("the file could not be made");
        return;
    }
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        auto archive = sf6::Archive::open(*sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("a%1.sqlite").arg(round++))));
        if (!archive)
            std::abort();
        state.ResumeTiming();
        const sf6::import::FileImport f = sf6::import::importFile(**archive, file);
        if (f.outcome != sf6::import::FileImport::Imported || f.newRecords != kRows)
            state.SkipWithError("import failed");
        state.PauseTiming();
        archive->reset();
        state.ResumeTiming();
    }
    state.counters["rows/s"] = benchmark::Counter(double(kRows) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ImportXlsx10000(benchmark::State& state) { importInto(state, files().xlsx); }
void BM_ImportTsv10000(benchmark::State& state) { importInto(state, files().tsv); }
void BM_ImportJson10000(benchmark::State& state) { importInto(state, files().json); }
void BM_ImportXls10000(benchmark::State& state) { importInto(state, files().xls); }

} // namespace

BENCHMARK(BM_ImportXlsx10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportTsv10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportJson10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportXls10000)->Unit(benchmark::kMillisecond)->Iterations(3);
