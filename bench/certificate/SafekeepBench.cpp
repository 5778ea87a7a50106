// Safekeeping an archive of 100,000 records, 10,000 of them linked (an audit
// row each) and 1,000 certificates: its backup into a new SQLite file, and its
// copy into an empty PostgreSQL database (SF6_BENCH_COPY_LOCATION=
// postgresql:///%1?host=DIR&port=N; pg-copy.sh starts such a server for the
// run). peak_MB is the most memory the process held during the run (Linux).
#include "archive/ArchiveStore.h"
#include "certificate/ArchiveBackup.h"
#include "certificate/Certificate.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 100000;
constexpr int kLinked = 10000;
constexpr int kCertificates = 1000;

double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return 0;
}
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Made once for both benchmarks: the benchmark is entered again for each run length.
QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

std::shared_ptr<sf6::Archive> source()
{
    static std::shared_ptr<sf6::Archive> a = []() -> std::shared_ptr<sf6::Archive> {
        auto opened = sf6::Archive::open(*sf6::ArchiveLocation::parse(folder().filePath(QStringLiteral("source.sqlite"))));
        if (!opened)
            return nullptr;
        auto made = std::move(*opened);
        auto synced = sf6::archiveSync(*made, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"),
                                                           kRecords, sf6::SyncEnd::Complete, sim::spreadRecords(kRecords, 1)});
        if (!synced)
            return nullptr;
        sf6::RelayEntry relay;
        relay.serial = QStringLiteral("R1");
        relay.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
        relay.lock1 = sf6::Decimal::parse(QStringLiteral("0.50"));
        sf6::LabTexts lab;
        lab.name = QStringLiteral("实验室");
        sf6::StandardTexts standard;
        standard.validUntil = QStringLiteral("2099-12-31");
        const std::vector<int> ids(synced->recordIds.begin(), synced->recordIds.begin() + kLinked);
        if (!sf6::saveRelay(*made, relay, QStringLiteral("bench")) || !sf6::linkRecords(*made, ids, QStringLiteral("R1"))
            || !sf6::saveLab(*made, lab) || !sf6::saveStandard(*made, QStringLiteral("S1"), standard))
            return nullptr;
        for (int i = 1; i <= kCertificates; ++i) {
            sf6::CertifyRequest rq;
            rq.recordId = ids[size_t(i - 1)];
            rq.standardSerial = QStringLiteral("S1");
            rq.tester = QStringLiteral("张三");
            rq.checker = QStringLiteral("李四");
            if (!sf6::certify(*made, rq))
                return nullptr;
        }
        return made;
    }();
    return a;
}

void BM_Backup100kRecords(benchmark::State& state)
{
    auto a = source();
    if (!a) {
        state.SkipWithError("no archive");
        return;
    }
    resetPeak();
    int n = 0;
    for (auto _ : state) {
        auto b = sf6::backupArchive(*a, folder().filePath(QStringLiteral("backup-%1.sqlite").arg(n++)));
        if (!b || b->verification.certificates != kCertificates) {
            const std::string why = (b ? b->verification.summary() : b.error()).toStdString();
            state.SkipWithError(why.c_str());
        }
    }
    state.counters["peak_MB"] = peakMegabytes();
    state.counters["MB"] = double(QFileInfo(folder().filePath(QStringLiteral("source.sqlite"))).size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Backup100kRecords)->Unit(benchmark::kMillisecond)->Iterations(1);

// The copy alone, without the verification a backup makes of it: where the time goes.
void BM_CopyOnly100kRecordsToSqlite(benchmark::State& state)
{
    auto a = source();
    if (!a) {
        state.SkipWithError("no archive");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        const sf6::Status s = sf6::copyArchive(*a, *sf6::ArchiveLocation::parse(folder().filePath(QStringLiteral("copy-%1.sqlite").arg(n++))));
        if (!s)
            state.SkipWithError(s.message().toStdString().c_str());
    }
}
BENCHMARK(BM_CopyOnly100kRecordsToSqlite)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Copy100kRecordsToPostgres(benchmark::State& state)
{
    const QString pg = qEnvironmentVariable("SF6_BENCH_COPY_LOCATION");
    if (pg.isEmpty()) {
        state.SkipWithError("SF6_BENCH_COPY_LOCATION not set: run pg-copy.sh");
        return;
    }
    auto a = source();
    if (!a) {
        state.SkipWithError("no archive");
        return;
    }
    resetPeak();
    for (auto _ : state) {
        const sf6::Status s = sf6::copyArchive(*a, *sf6::ArchiveLocation::parse(pg.arg(QStringLiteral("copy"))));
        if (!s)
            state.SkipWithError(s.message().toStdString().c_str());
    }
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_Copy100kRecordsToPostgres)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
