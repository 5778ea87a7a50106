// sf6cli archive list | export | report | syncs: what the history window
// shows and makes, from the command line.
#include "archive/ArchiveStore.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "ops/Exports.h"
#include "ops/Reports.h"
#include "report/ReportRenderer.h"

#include <QDir>

#include <memory>
#include <optional>

namespace cli {

namespace {

const QString kProgram = QStringLiteral("sf6cli");

} // namespace

// The reports are made and written one record at a time, each page let go once
// painted; the new reports are kept together, in one transaction, only when
// every PDF asked for is complete.
int reportCommand(const QCommandLineParser& p, sf6::Archive& archive, const sf6::ArchiveFilter& filter)
{
    if (!p.isSet(QStringLiteral("pdf")) && !p.isSet(QStringLiteral("pdf-dir"))) {
        err(QStringLiteral("archive report 需要 --pdf FILE 或 --pdf-dir DIR"));
        return kUsage;
    }
    // The records' bytes only (a tenth of a kilobyte each): the reports are
    // made while reading the archive, which a streamed query would not allow.
    const auto records = sf6::listRecords(archive, filter);
    if (!records) {
        err(records.error());
        return kArchiveFailed;
    }
    if (records->empty()) {
        err(QStringLiteral("没有符合条件的记录，未写入报表。"));
        return kNoAnswer;
    }
    bool ok = true;
    std::optional<sf6::ReportPdfWriter> pdf;
    if (p.isSet(QStringLiteral("pdf")))
        pdf.emplace(p.value(QStringLiteral("pdf")));
    std::optional<QDir> dir;
    if (p.isSet(QStringLiteral("pdf-dir"))) {
        dir.emplace(p.value(QStringLiteral("pdf-dir")));
        if (!dir->exists() && !QDir().mkpath(dir->path())) {
            err(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir->path())));
            ok = false;
            dir.reset();
        }
    }
    const sf6::ReportDetails start = sf6::ops::startingReportDetails(&archive);
    const sf6::ops::GivenDetails given = givenDetails(p);
    sf6::ops::ReportBatch batch;
    QString lastProblem;   // the same failure for every record is said once
    size_t made = 0;
    Progress progress(QStringLiteral("已生成%1/%2份报表"), qint64(records->size()));
    for (const sf6::ArchivedRecord& r : *records) {
        auto report = sf6::ops::recordReport(&archive, r.id, r.row(), start, given);
        if (!report) {
            progress.finish();
            err(report.error());
            return kArchiveFailed;   // the PDF is dropped unwritten
        }
        for (const QString& problem : report->problems) {
            if (problem != lastProblem)
                err(problem);
            lastProblem = problem;
        }
        if (pdf) {
            for (const sf6::ReportPage& page : report->pages) {
                if (const sf6::Status s = pdf->addPage(page); !s) {
                    progress.finish();
                    err(s.message());
                    ok = false;
                    pdf.reset();
                    break;
                }
            }
        }
        if (dir) {
            const QString file = sf6::reportPdfFileName(report->details.testDate, QString::number(r.id));
            if (const sf6::Status s = sf6::writeReportPdf(report->pages, dir->filePath(file)); !s) {
                progress.finish();
                err(s.message());
                ok = false;
            }
        }
        if (!pdf && !dir)
            break;   // no output left to write
        batch.add(*report);
        ++made;
        progress.step(qint64(made));
    }
    progress.finish();
    if (pdf) {
        if (const sf6::Status s = pdf->commit(); !s) {
            err(s.message());
            ok = false;
        }
    }
    err(QStringLiteral("已生成%1份报表").arg(made));
    if (!ok)
        return kWriteFailed;   // an output failed: no report is kept
    if (auto stored = batch.finish(archive, true, kProgram); !stored) {
        err(stored.error());
        return kArchiveFailed;
    }
    return kOk;
}

// The records go from the query straight into every output asked for; none
// is held longer than it takes to write it.
int listCommand(const QCommandLineParser& p, const sf6::Archive& archive, const sf6::ArchiveFilter& filter)
{
    const bool tsv = p.isSet(QStringLiteral("tsv")), json = p.isSet(QStringLiteral("json"));
    struct Output {
        Output(const QString& target, RecordsText::Format format) : out(target), text(format) {}
        StreamedOutput out;
        RecordsText text;
        bool said = false;   // its failure is on standard error already
    };
    std::vector<std::unique_ptr<Output>> outputs;
    if (tsv || !json)
        outputs.push_back(std::make_unique<Output>(tsv ? p.value(QStringLiteral("tsv")) : kStdout, RecordsText::Tsv));
    if (json)
        outputs.push_back(std::make_unique<Output>(p.value(QStringLiteral("json")), RecordsText::Json));
    bool ok = true;
    for (auto& o : outputs) {
        if (const sf6::Status s = o->out.open(); !s) {
            err(s.message());
            ok = false;
            o->said = true;
        }
        o->out.write(o->text.head());
    }
    const sf6::Status listed = sf6::forEachRecord(archive, filter, [&outputs](const sf6::ArchivedRecord& r) {
        bool any = false;
        for (auto& o : outputs) {
            if (o->out.good())
                o->out.write(o->text.row(r));
            any = any || o->out.good();
        }
        return any;   // every output failed: no reason to read on
    });
    if (!listed) {
        err(listed.message());
        return kArchiveFailed;   // the files are dropped unwritten
    }
    for (auto& o : outputs) {
        o->out.write(o->text.tail());
        if (o->said)
            continue;
        if (const sf6::Status s = o->out.commit(); !s) {
            err(s.message());
            ok = false;
        }
    }
    return ok ? kOk : kWriteFailed;
}

int exportCommand(const QCommandLineParser& p, const sf6::Archive& archive, const sf6::ArchiveFilter& filter)
{
    if (!p.isSet(QStringLiteral("xlsx"))) {
        err(QStringLiteral("archive export 需要 --xlsx FILE"));
        return kUsage;
    }
    auto total = sf6::countRecords(archive, filter);
    if (!total) {
        err(total.error());
        return kArchiveFailed;
    }
    Progress progress(QStringLiteral("已导出%1/%2条记录"), *total);
    const sf6::ops::RecordsExported done =
        sf6::ops::exportRecords(archive, filter, p.value(QStringLiteral("xlsx")), [&progress](qint64 rows) {
            progress.step(rows);
            return true;
        });
    progress.finish();
    if (!done.read) {
        err(done.read.message());
        return kArchiveFailed;
    }
    if (!done.written) {
        err(QStringLiteral("导出失败：") + done.written.message());
        return kWriteFailed;
    }
    err(QStringLiteral("已导出%1条记录").arg(done.rows));
    return kOk;
}

namespace {

int writeListed(const QCommandLineParser& p, const QByteArray& tsvBytes, const QByteArray& jsonBytes)
{
    const bool tsv = p.isSet(QStringLiteral("tsv")), json = p.isSet(QStringLiteral("json"));
    bool ok = true;
    auto write = [&ok](const QString& target, const QByteArray& bytes) {
        if (const sf6::Status s = writeOutput(target, bytes); !s) {
            err(s.message());
            ok = false;
        }
    };
    if (tsv || !json)
        write(tsv ? p.value(QStringLiteral("tsv")) : kStdout, tsvBytes);
    if (json)
        write(p.value(QStringLiteral("json")), jsonBytes);
    return ok ? kOk : kWriteFailed;
}

} // namespace

int syncsCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const auto syncs = sf6::listSyncs(archive);
    if (!syncs) {
        err(syncs.error());
        return kArchiveFailed;
    }
    return writeListed(p, syncsAsTsv(*syncs), syncsAsJson(*syncs));
}

} // namespace cli
