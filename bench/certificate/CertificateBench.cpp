// Certificates on SQLite: issuing one, issuing 1,000 in a row, and checking
// an archive of 100,000 records (all linked: 100,000 audit rows) and 1,000
// certificates with every check verify makes; peak_MB is the most memory the
// process held during the checks (Linux).
// SF6_BENCH_CERT_LOCATION=postgresql:///%1?host=DIR&port=N runs them on
// PostgreSQL instead, in the empty databases one, many and large;
// pg-verify.sh starts such a server for the run.
#include "archive/ArchiveStore.h"
#include "certificate/Certificate.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 100000;
constexpr int kCertificates = 1000;

std::shared_ptr<sf6::Archive> openArchive(const QString& file)
{
    auto a = sf6::Archive::open(*sf6::ArchiveLocation::parse(file));
    return a ? std::move(*a) : nullptr;
}

// A file in dir, or the database of that name the environment points at.
QString where(const QTemporaryDir& dir, const QString& name)
{
    const QString pg = qEnvironmentVariable("SF6_BENCH_CERT_LOCATION");
    return pg.isEmpty() ? dir.filePath(name + QStringLiteral(".sqlite")) : pg.arg(name);
}

// An archive of `records` records, the first `linked` linked to one judged
// relay, with a lab and a standard valid for all of them.
std::shared_ptr<sf6::Archive> prepared(const QString& file, int records, int linked)
{
    auto a = openArchive(file);
    if (!a)
        return nullptr;
    auto synced = sf6::archiveSync(*a, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"),
                                                    records, sf6::SyncEnd::Complete, sim::spreadRecords(records, 1)});
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
    const std::vector<int> ids(synced->recordIds.begin(), synced->recordIds.begin() + linked);
    if (!sf6::saveRelay(*a, relay, QStringLiteral("bench")) || !sf6::linkRecords(*a, ids, QStringLiteral("R1"))
        || !sf6::saveLab(*a, lab) || !sf6::saveStandard(*a, QStringLiteral("S1"), standard))
        return nullptr;
    return a;
}

// The process's peak resident memory in MB, counted from the last reset (Linux only; 0 elsewhere).
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

sf6::CertifyRequest request(int record)
{
    sf6::CertifyRequest rq;
    rq.recordId = record;
    rq.standardSerial = QStringLiteral("S1");
    rq.tester = QStringLiteral("张三");
    rq.checker = QStringLiteral("李四");
    return rq;
}

void BM_CertifyOne(benchmark::State& state)
{
    QTemporaryDir dir;
    auto a = prepared(where(dir, QStringLiteral("one")), 255, 255);
    if (!a) {
        state.SkipWithError("no archive");
        return;
    }
    int record = 0;
    for (auto _ : state)
        if (!sf6::certify(*a, request(record++ % 255 + 1)))
            state.SkipWithError("certify failed");
}
BENCHMARK(BM_CertifyOne)->Unit(benchmark::kMillisecond);

void BM_Certify1000(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        auto a = prepared(where(dir, QStringLiteral("many")), kCertificates, kCertificates);
        state.ResumeTiming();
        for (int i = 1; i <= kCertificates; ++i)
            if (!a || !sf6::certify(*a, request(i))) {
                state.SkipWithError("certify failed");
                break;
            }
    }
}
BENCHMARK(BM_Certify1000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Verify100kRecords1000Certificates(benchmark::State& state)
{
    // Made once: the benchmark is entered again for each run length.
    static QTemporaryDir dir;
    static std::shared_ptr<sf6::Archive> a = [] {
        auto made = prepared(where(dir, QStringLiteral("large")), kRecords, kRecords);
        for (int i = 1; made && i <= kCertificates; ++i)
            if (!sf6::certify(*made, request(i)))
                made.reset();
        return made;
    }();
    if (!a) {
        state.SkipWithError("no archive");
        return;
    }
    resetPeak();
    for (auto _ : state) {
        auto v = sf6::verifyArchive(*a);
        if (!v || !v->intact() || v->certificates != kCertificates || v->auditRows < kRecords) {
            const std::string why = (v ? v->summary() : v.error()).toStdString();
            state.SkipWithError(why.c_str());
        }
    }
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_Verify100kRecords1000Certificates)->Unit(benchmark::kMillisecond);

} // namespace
