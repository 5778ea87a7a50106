// The audit trail's costs on SQLite: appending 1,000 rows in one write,
// storing a batch of 5,000 reports (each with its audit row), and verifying
// a chain of 100,000 rows.
#include "archive/ArchiveStore.h"
#include "archive/Audit.h"
#include "sim/Records.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kAppended = 1000;
constexpr int kReportBatch = 5000;
constexpr int kLongChain = 100000;

std::shared_ptr<sf6::Archive> openArchive(const QString& file)
{
    auto a = sf6::Archive::open(*sf6::ArchiveLocation::parse(file));
    return a ? std::move(*a) : nullptr;
}

sf6::AuditEntry entry(int n)
{
    return {sf6::audit::kRelayChanged, QStringLiteral("relay R%1").arg(n),
            QJsonObject{{QStringLiteral("name"), QStringLiteral("主变A相")}, {QStringLiteral("version"), n}},
            QJsonObject{{QStringLiteral("name"), QStringLiteral("主变B相")}, {QStringLiteral("version"), n + 1}}, {}};
}

bool append(sf6::Archive& a, int count)
{
    sf6::Archive::Write w(a);
    for (int i = 0; i < count; ++i)
        if (!sf6::appendAudit(a, entry(i)))
            return false;
    return w.commit().ok();
}

void BM_Append1000AuditRows(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        auto a = openArchive(dir.filePath(QStringLiteral("audit.sqlite")));
        state.ResumeTiming();
        if (!a || !append(*a, kAppended))
            state.SkipWithError("append failed");
    }
}
BENCHMARK(BM_Append1000AuditRows)->Unit(benchmark::kMillisecond);

void BM_Store5000ReportsInOneBatch(benchmark::State& state)
{
    QTemporaryDir dir;
    auto a = openArchive(dir.filePath(QStringLiteral("reports.sqlite")));
    auto synced = a ? sf6::archiveSync(*a, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"),
                                                        1, sf6::SyncEnd::Complete, sim::plausibleRecords(1)})
                    : sf6::Expected<sf6::SyncArchived>(sf6::Status::failure(QStringLiteral("no archive")));
    if (!synced) {
        state.SkipWithError("sync failed");
        return;
    }
    std::vector<sf6::NewReport> batch(kReportBatch, sf6::NewReport{synced->recordIds.front(), {}, 0});
    for (auto _ : state)
        if (!sf6::storeReports(*a, batch, QStringLiteral("bench")))
            state.SkipWithError("store failed");
}
BENCHMARK(BM_Store5000ReportsInOneBatch)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_VerifyAChainOf100k(benchmark::State& state)
{
    QTemporaryDir dir;
    auto a = openArchive(dir.filePath(QStringLiteral("chain.sqlite")));
    if (!a || !append(*a, kLongChain)) {
        state.SkipWithError("append failed");
        return;
    }
    for (auto _ : state) {
        auto check = sf6::verifyAuditChain(*a);
        if (!check || check->rows != kLongChain || check->firstAltered)
            state.SkipWithError("chain did not verify");
    }
}
BENCHMARK(BM_VerifyAChainOf100k)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
