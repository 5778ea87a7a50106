// The cost of the P20 check: 100,000 records, each row's readings converted
// with the SF6 equation of state and compared with the instrument's P20.
#include "register/P20Check.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 100000;
constexpr int kDistinct = 255;   // what one sync can bring

void BM_CheckP20Of100000Records(benchmark::State& state)
{
    std::vector<sf6::ListRow> rows;
    rows.reserve(kRecords);
    std::vector<sf6::ListRow> distinct;
    for (const QByteArray& r : sim::plausibleRecords(kDistinct))
        distinct.push_back(sf6::decodeRecord(reinterpret_cast<const unsigned char*>(r.constData()), 1));
    while (int(rows.size()) < kRecords)
        rows.push_back(distinct[rows.size() % distinct.size()]);
    int disagree = 0;
    for (auto _ : state) {
        disagree = 0;
        for (const sf6::ListRow& r : rows)
            disagree += sf6::checkP20(r).state == sf6::P20State::Disagrees;
        benchmark::DoNotOptimize(disagree);
    }
    state.counters["disagreeing"] = disagree;
}
BENCHMARK(BM_CheckP20Of100000Records)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
BENCHMARK_MAIN();
