// Cost of one report: building the page from a row, and building plus writing
// it as a PDF file (layout, font subsetting, file write).
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "report/ReportPage.h"
#include "report/ReportRenderer.h"

namespace {

sf6::ListRow sampleRow()
{
    sf6::ListRow row;
    for (int c = 0; c < sf6::kColumnCount; ++c)
        row << QString::asprintf("%d.%03d", c % 10, c * 37 % 1000);
    row[sf6::kColNumber] = QStringLiteral("1");
    row[sf6::kColTime] = QStringLiteral("2012-05-18 09:07");
    row[sf6::kColTemperature] = QStringLiteral("22.5°C");
    row[sf6::kColMode] = QStringLiteral("系统采集");
    row[sf6::kColTestCount] = QStringLiteral("3");
    return row;
}

sf6::ReportDetails sampleDetails()
{
    sf6::ReportDetails d = sf6::defaultReportDetails(QStringLiteral("2012-5-25"));
    d.testDate = QStringLiteral("2012-05-18");
    return d;
}

void BM_BuildPage(benchmark::State& state)
{
    const sf6::ListRow row = sampleRow();
    const sf6::ReportDetails details = sampleDetails();
    for (auto _ : state)
        benchmark::DoNotOptimize(sf6::buildReportPage(details, row));
}
BENCHMARK(BM_BuildPage);

void BM_BuildAndWritePdf(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("report.pdf"));
    const sf6::ListRow row = sampleRow();
    const sf6::ReportDetails details = sampleDetails();
    for (auto _ : state) {
        if (const sf6::Status s = sf6::writeReportPdf(sf6::buildReportPage(details, row), file); !s) {
            state.SkipWithError(qPrintable(s.message()));
            break;
        }
    }
}
BENCHMARK(BM_BuildAndWritePdf)->Unit(benchmark::kMillisecond);

} // namespace
