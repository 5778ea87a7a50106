// Merging one PC's archive of 20,000 records, 2,000 of them linked (an audit
// row each) and 200 certificates into an empty SQLite archive, then the same
// file again, where every record is already there.
#include "archive/ArchiveStore.h"
#include "certificate/ArchiveMerge.h"
#include "certificate/Certificate.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 20000;
constexpr int kLinked = 2000;
constexpr int kCertificates = 200;

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// The PC's file, made once.
QString pcFile()
{
    static const QString file = []() -> QString {
        const QString path = folder().filePath(QStringLiteral("pc.sqlite"));
        auto opened = sf6::Archive::open(*sf6::ArchiveLocation::parse(path));
        if (!opened)
            return {};
        auto& made = **opened;
        auto synced = sf6::archiveSync(made, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("bench"), QStringLiteral("COM3"),
                                                          kRecords, sf6::SyncEnd::Complete, sim::spreadRecords(kRecords, 1)});
        if (!synced)
            return {};
        sf6::RelayEntry relay;
        relay.serial = QStringLiteral("R1");
        relay.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
        relay.lock1 = sf6::Decimal::parse(QStringLiteral("0.50"));
        sf6::LabTexts lab;
        lab.name = QStringLiteral("实验室");
        sf6::StandardTexts standard;
        standard.validUntil = QStringLiteral("2099-12-31");
        const std::vector<int> ids(synced->recordIds.begin(), synced->recordIds.begin() + kLinked);
        if (!sf6::saveRelay(made, relay, QStringLiteral("bench")) || !sf6::linkRecords(made, ids, QStringLiteral("R1"))
            || !sf6::saveLab(made, lab) || !sf6::saveStandard(made, QStringLiteral("S1"), standard))
            return {};
        for (int i = 1; i <= kCertificates; ++i) {
            sf6::CertifyRequest rq;
            rq.recordId = ids[size_t(i - 1)];
            rq.standardSerial = QStringLiteral("S1");
            rq.tester = QStringLiteral("张三");
            rq.checker = QStringLiteral("李四");
            if (!sf6::certify(made, rq))
                return {};
        }
        return path;
    }();
    return file;
}

void BM_Merge20kRecordsIntoEmptyThenAgain(benchmark::State& state)
{
    const QString file = pcFile();
    if (file.isEmpty()) {
        state.SkipWithError("no archive");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        auto target = sf6::Archive::open(*sf6::ArchiveLocation::parse(folder().filePath(QStringLiteral("lab-%1.sqlite").arg(n++))));
        if (!target) {
            state.SkipWithError(target.error().toStdString().c_str());
            return;
        }
        auto first = sf6::mergeArchives(**target, {file});
        if (!first || first->newRecords != kRecords || first->certificates != kCertificates) {
            state.SkipWithError(first ? first->text().toStdString().c_str() : first.error().toStdString().c_str());
            return;
        }
        auto again = sf6::mergeArchives(**target, {file});
        if (!again || again->presentRecords != kRecords)
            state.SkipWithError("second merge");
    }
}
BENCHMARK(BM_Merge20kRecordsIntoEmptyThenAgain)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
