// Cost of turning the longest reply (255 records) into list rows in one poll.
#include <benchmark/benchmark.h>

#include <random>

#include "sync/ReceiveLoop.h"

namespace {

constexpr int kLongestReplyRecords = 255;

QByteArray longestReply()
{
    std::mt19937 rng(255);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray reply(sf6::syncReplySize(kLongestReplyRecords), '\0');
    for (char& c : reply)
        c = char(byte(rng));
    reply[sf6::kReplyCountOffset] = char(kLongestReplyRecords);
    return reply;
}

void BM_DecodeLongestReply(benchmark::State& state)
{
    const QByteArray reply = longestReply();
    const QLocale locale = QLocale::c();
    for (auto _ : state) {
        sf6::ReceiveLoop loop;
        loop.start();
        benchmark::DoNotOptimize(loop.poll(reply));
        auto rows = loop.takeNewRows(locale);
        benchmark::DoNotOptimize(rows.data());
        if (rows.size() != size_t(kLongestReplyRecords))
            state.SkipWithError("wrong row count");
    }
    state.SetItemsProcessed(state.iterations() * kLongestReplyRecords);
}
BENCHMARK(BM_DecodeLongestReply)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
