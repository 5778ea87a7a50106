// sf6cli ports, connect, sync and demo: the window's scan and sync, from a loop.
#include "archive/ArchiveStore.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "link/PortList.h"
#include "link/PortScan.h"
#include "ops/Reports.h"
#include "ops/Syncs.h"
#include "register/JudgedReport.h"
#include "register/P20Check.h"
#include "report/ReportRenderer.h"
#include "sim/InProcessLink.h"
#include "sync/SyncSession.h"

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace cli {

namespace {

constexpr int kTableColumns = 8;
const QString kProgram = QStringLiteral("sf6cli");

struct SyncOutcome {
    int exit = kOk;
    sf6::SyncEnd end = sf6::SyncEnd::Empty;
    int recordTotal = 0;
    std::vector<sf6::ListRow> rows;
    std::vector<QByteArray> records;
};

// The window's exchange, driven from a loop instead of the poll timer.
SyncOutcome runSync(sf6::SerialLink& link)
{
    SyncOutcome out;
    sf6::SyncSession session(link);
    const auto finished = session.runToEnd([&](const std::vector<sf6::ListRow>&) {
        err(session.progressText().trimmed());
    });
    if (!finished) {
        err(sf6::kTextNotConnected);
        out.exit = kNoAnswer;
        return out;
    }
    out.end = finished->end;
    out.rows = finished->rows;
    out.records = session.receivedRecords();
    out.recordTotal = session.loop().RecordTotal();
    switch (finished->end) {
    case sf6::SyncEnd::Complete:
        err(sf6::SyncSession::endPanelText(sf6::SyncEnd::Complete));
        if (finished->linkLost)
            err(session.endMessage(sf6::SyncEnd::LinkLost, finished->lostReason));
        break;
    case sf6::SyncEnd::Empty:
        err(session.endMessage(sf6::SyncEnd::Empty));
        // A reply cut at 108 or 109 bytes has shown its first row: that is not "no records".
        out.exit = out.rows.empty() ? kNoAnswer : kBrokenOff;
        break;
    case sf6::SyncEnd::Stalled:
    case sf6::SyncEnd::LinkLost:
        err(session.endMessage(finished->end, finished->lostReason));
        out.exit = kBrokenOff;
        break;
    }
    return out;
}

// Scan; on success the link is open on the calibrator's port. Each port is
// named on standard error as it is tried, and every refused one with the reason.
int connectLink(sf6::SerialLink& link, bool print, QString* port = nullptr)
{
    sf6::ScanEvents events;
    events.trying = [](const QString& name) { err(sf6::kTextTryingPort.arg(name)); };
    const sf6::ScanResult r = sf6::scanForCalibrator(link, events);
    switch (r.outcome) {
    case sf6::ScanResult::Outcome::Found:
        if (port)
            *port = r.portName;
        if (print)
            std::printf("%s\t%s\n", r.portName.toUtf8().constData(), r.kind.toUtf8().constData());
        else
            err(QStringLiteral("%1 %2 %3%4").arg(sf6::kTextConnected, r.portName, sf6::kTextPortKindPrefix, r.kind));
        return kOk;
    case sf6::ScanResult::Outcome::NoPorts:
        err(sf6::kTextNoPorts);
        return kNoPorts;
    case sf6::ScanResult::Outcome::NoAnswer:
    case sf6::ScanResult::Outcome::Error:
    case sf6::ScanResult::Outcome::Cancelled:
        err(sf6::kTextConnectFailed);
        if (const QString details = r.refusalDetails(); !details.isEmpty())
            err(details);
        if (!r.error.isEmpty())
            err(r.error);
        return kNoAnswer;
    }
    return kNoAnswer;
}

bool anyOutput(const QCommandLineParser& p)
{
    for (const char* o : {"tsv", "json", "xlsx", "pdf-dir"})
        if (p.isSet(QLatin1String(o)))
            return true;
    return false;
}

// Every output asked for, each on its own: one that fails does not keep the
// others from being written. Reports made go into the archive with their record.
int writeOutputs(const QCommandLineParser& p, const std::vector<sf6::ListRow>& rows, sf6::Archive* archive,
                 const std::vector<int>& recordIds, bool* archiveFailed)
{
    bool ok = true;
    auto report = [&ok](const sf6::Status& s) {
        if (!s) {
            err(s.message());
            ok = false;
        }
    };
    if (p.isSet(QStringLiteral("tsv")))
        report(writeOutput(p.value(QStringLiteral("tsv")), rowsAsTsv(rows)));
    if (p.isSet(QStringLiteral("json")))
        report(writeOutput(p.value(QStringLiteral("json")), rowsAsJson(rows)));
    if (p.isSet(QStringLiteral("xlsx"))) {
        if (const sf6::Status s = sf6::writeWorkbook(sf6::listWorkbook(rows), p.value(QStringLiteral("xlsx"))); !s)
            report(sf6::Status::failure(s.code(), QStringLiteral("导出失败：") + s.message()));
    }
    if (p.isSet(QStringLiteral("pdf-dir"))) {
        const QDir dir(p.value(QStringLiteral("pdf-dir")));
        if (!dir.exists() && !QDir().mkpath(dir.path())) {
            report(sf6::Status::failure(sf6::ErrorCode::OutputNotWritten, QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir.path()))));
        } else {
            const sf6::ReportDetails start = sf6::ops::startingReportDetails(archive);
            const sf6::ops::GivenDetails given = givenDetails(p);
            sf6::ops::ReportBatch batch;
            bool written = true;
            for (size_t i = 0; i < rows.size(); ++i) {
                const int id = i < recordIds.size() ? recordIds[i] : 0;
                auto made = sf6::ops::syncedRecordReport(archive, id, rows[i], start, given, kProgram);
                if (!made) {
                    err(made.error());
                    *archiveFailed = true;
                    made = sf6::ops::recordReport(nullptr, 0, rows[i], start, given);   // the PDF all the same
                }
                for (const QString& problem : made->problems)
                    err(problem);
                *archiveFailed |= !made->problems.isEmpty();
                const QString file =
                    dir.filePath(sf6::reportPdfFileName(made->details.testDate, rows[i].value(sf6::kColNumber)));
                const sf6::Status s = sf6::writeReportPdf(made->pages, file);
                written = written && s.ok();
                report(s);
                batch.add(*made);
            }
            // Kept only when every report asked for is written, like archive report.
            if (archive && batch.waiting() > 0) {
                if (auto kept = batch.finish(*archive, written, kProgram); !kept) {
                    err(kept.error());
                    *archiveFailed = true;
                }
            }
        }
    }
    return ok ? kOk : kWriteFailed;
}

} // namespace

int portsCommand()
{
    QStringList names = sf6::ListSerialPorts();
    std::sort(names.begin(), names.end());
    QByteArray out;
    for (const QString& n : names)
        out += n.toUtf8() + '\n';
    if (const sf6::Status s = writeOutput(kStdout, out); !s) {
        err(s.message());
        return kWriteFailed;
    }
    return kOk;
}

int connectCommand()
{
    sf6::SerialLink link;
    link.setWaitsRunEventLoop(true);
    return connectLink(link, true);
}

int syncCommand(const QCommandLineParser& p, bool demo)
{
    const auto location = archiveLocation(p, demo);
    if (!location) {
        err(location.error());
        return kUsage;
    }
    if (demo) {
        bool ok = false;
        const int n = p.value(QStringLiteral("records")).toInt(&ok);
        if (!ok || n < 0 || n > 255) {
            err(QStringLiteral("--records 取 0 到 255"));
            return kUsage;
        }
        // In the process on every system: Windows has no pseudo-terminals.
        err(QStringLiteral("模拟校验仪：%1").arg(sim::serveDemoCalibrator(n)));
    }

    sf6::Archive::loadDriver(*location);   // before the port: see loadDriver
    sf6::SerialLink link;
    link.setWaitsRunEventLoop(true);
    QString port;
    if (const int rc = connectLink(link, false, &port); rc != kOk)
        return rc;
    const SyncOutcome s = runSync(link);
    link.Close();
    // Said once, and nothing more: the records are kept and written as they came.
    if (const QString disagree = sf6::p20SyncMessage(s.rows); !disagree.isEmpty())
        err(disagree);
    if (s.rows.empty()) {
        // An empty sync must not replace yesterday's files with empty ones.
        if (anyOutput(p))
            err(QStringLiteral("没有收到任何记录，未写入输出文件。"));
        return s.exit;
    }

    // Into the archive first: a failure there costs no output.
    bool archiveFailed = false;
    std::shared_ptr<sf6::Archive> archive;
    std::vector<int> recordIds;
    if (!location->off()) {
        auto opened = sf6::Archive::open(*location);
        if (!opened) {
            err(opened.error());
            archiveFailed = true;
        } else {
            archive = std::move(*opened);
            if (auto stored = sf6::ops::keepSync(*archive, {kProgram, port, s.recordTotal, s.end, s.records}); !stored) {
                err(stored.error());
                archiveFailed = true;
                archive.reset();
            } else {
                err(sf6::archivedText(*stored));
                recordIds = stored->recordIds;
            }
        }
    }

    int written = kOk;
    if (demo) {
        if (const sf6::Status t = writeOutput(kStdout, rowsAsTable(s.rows, kTableColumns)); !t) {
            err(t.message());
            written = kWriteFailed;
        }
    }
    written = std::max(written, writeOutputs(p, s.rows, archive.get(), recordIds, &archiveFailed));
    if (s.exit != kOk)
        return s.exit;
    if (written != kOk)
        return written;
    return archiveFailed ? kArchiveFailed : kOk;
}

} // namespace cli
