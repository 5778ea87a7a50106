// The register's costs: judging 10,000 records (the rule alone, and through
// the archive, stored), and drawing and saving the trend of 100 records.
#include "register/RelayRegister.h"
#include "register/TrendChart.h"
#include "sim/Records.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 10000;
constexpr int kTrendRecords = 100;

sf6::RelayEntry relay()
{
    sf6::RelayEntry e;
    e.serial = QStringLiteral("R1");
    e.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
    e.lock1 = sf6::Decimal::parse(QStringLiteral("0.50"));
    e.lock2 = sf6::Decimal::parse(QStringLiteral("0.50"));
    return e;
}

std::vector<sf6::ListRow> rows(int n)
{
    std::vector<sf6::ListRow> out;
    for (const QByteArray& r : sim::plausibleRecords(std::min(n, 255)))
        out.push_back(sf6::decodeRecord(reinterpret_cast<const unsigned char*>(r.constData()), 1));
    while (int(out.size()) < n)
        out.push_back(out[out.size() % 255]);
    return out;
}

void BM_Judge10000Rows(benchmark::State& state)
{
    const auto all = rows(kRecords);
    const sf6::RelayEntry e = relay();
    for (auto _ : state)
        for (const sf6::ListRow& r : all)
            benchmark::DoNotOptimize(sf6::judge(r, e));
}
BENCHMARK(BM_Judge10000Rows)->Unit(benchmark::kMillisecond);

// Through the archive: each record read, judged and its judgement stored.
void BM_JudgeAndStore1000Records(benchmark::State& state)
{
    QTemporaryDir dir;
    auto a = std::move(*sf6::Archive::open(*sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("j.sqlite")))));
    std::vector<QByteArray> records;
    for (int batch = 0; batch < 4; ++batch)
        for (const QByteArray& r : sim::plausibleRecords(250, uint32_t(batch + 1)))
            records.push_back(r);
    auto s = sf6::archiveSync(*a, {sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"), 0,
                                   sf6::SyncEnd::Complete, records});
    if (!s || !sf6::saveRelay(*a, relay(), QStringLiteral("bench")))
        state.SkipWithError("setup failed");
    for (int id : s->recordIds)
        (void)sf6::linkRecord(*a, id, QStringLiteral("R1"));
    for (auto _ : state) {
        state.PauseTiming();
        (void)a->run(QStringLiteral("DELETE FROM judgements"), {}, QStringLiteral("bench"));
        state.ResumeTiming();
        for (int id : s->recordIds)
            benchmark::DoNotOptimize(sf6::judgeRecord(*a, id));
    }
}
BENCHMARK(BM_JudgeAndStore1000Records)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Trend100RecordsToPng(benchmark::State& state)
{
    QTemporaryDir dir;
    sf6::TrendData t;
    t.entry = relay();
    const auto all = rows(kTrendRecords);
    for (int i = 0; i < kTrendRecords; ++i) {
        sf6::TrendPoint p;
        p.recordId = i + 1;
        p.when = QDateTime(QDate(2015, 1, 1).addDays(i * 30), QTime(9, 0));
        p.alarm = sf6::Decimal::parse(all[size_t(i)][5]);
        p.lock1 = sf6::Decimal::parse(all[size_t(i)][6]);
        p.lock2 = sf6::Decimal::parse(all[size_t(i)][7]);
        t.points.push_back(p);
    }
    for (auto _ : state)
        if (!sf6::saveTrendPng(t, dir.filePath(QStringLiteral("t.png"))))
            state.SkipWithError("png failed");
}
BENCHMARK(BM_Trend100RecordsToPng)->Unit(benchmark::kMillisecond);

} // namespace
