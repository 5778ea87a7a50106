// sf6cli archive list | export | report | syncs: what the history window
// shows and makes, from the command line.
#include "archive/ArchiveStore.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "register/JudgedReport.h"
#include "register/RelayRegister.h"
#include "report/ReportRenderer.h"

#include <QDir>

#include <memory>
#include <optional>

namespace cli {

namespace {

const QString kProgram = QStringLiteral("sf6cli");

sf6::Expected<std::shared_ptr<sf6::Archive>> openArchive(const QCommandLineParser& p, sf6::Archive::Access access)
{
    const auto location = archiveLocation(p);
    if (!location)
        return location.status();
    if (location->off())
        return sf6::Status::failure(QStringLiteral("--no-archive：没有可查询的存档"));
    return sf6::Archive::open(*location, access);
}

// Each record's report: its latest report reprinted exactly where it has one,
// else the defaults with its own test date; the options given override either.
// A report that differs from the latest is kept as a new one.
struct RecordReport {
    std::vector<sf6::ReportPage> pages;
    QString file;                        // for --pdf-dir
    std::optional<sf6::NewReport> keep;  // a new report, kept once its PDF is complete
};

// The same failure for every record is said once: lastProblem is the one said last.
sf6::Expected<RecordReport> buildReport(const QCommandLineParser& p, sf6::Archive& archive,
                                        const sf6::ReportDetails& defaults, const sf6::ArchivedRecord& r,
                                        QString& lastProblem)
{
    RecordReport out;
    auto problem = [&lastProblem](const QString& message) {
        if (message != lastProblem)
            err(message);
        lastProblem = message;
    };
    std::optional<QString> serialOption;
    if (p.isSet(QStringLiteral("serial")) && !p.value(QStringLiteral("serial")).trimmed().isEmpty())
        serialOption = p.value(QStringLiteral("serial")).trimmed();
    {
        const sf6::ListRow row = r.row();
        auto latest = sf6::latestReport(archive, r.id);
        if (!latest)
            return latest.status();
        auto linked = sf6::linkedSerial(archive, r.id);
        if (!linked)
            return linked.status();
        // The report's relay: the one --serial names, else the record's own.
        const std::optional<QString> relaySerial = serialOption ? serialOption : *linked;
        sf6::ReportDetails d;
        if (latest->has_value()) {
            d = (*latest)->details;
        } else {
            d = defaults;
            d.testDate = sf6::testDateOfRow(row);
        }
        // A new report, or one for the relay --serial names, takes the relay's
        // texts from the register; a stored one keeps its own.
        if (relaySerial && (serialOption || !latest->has_value())) {
            auto entry = sf6::findRelay(archive, *relaySerial);
            if (!entry)
                return entry.status();
            if (*entry)
                sf6::fillRelayDetails(d, **entry);
        }
        overrideDetails(p, d);
        const bool namesRelay = relaySerial && d.serialNumber.trimmed() == *relaySerial;
        // A report reprinted exactly prints the judgement it printed; a new one
        // is judged with the entry of the relay it names, as it is now.
        std::optional<sf6::StoredJudgement> judgement;
        const bool reprint = latest->has_value() && (*latest)->details == d;
        if (reprint && (*latest)->judgementId > 0) {
            if (auto j = sf6::findJudgement(archive, (*latest)->judgementId); j && *j) {
                const QString judged = (**j).judgement.relay.serial;
                if (judged == d.serialNumber.trimmed())
                    judgement = *j;
                else
                    err(QStringLiteral("记录 %1 的报表编号为 %2，而保存的判定是继电器 %3 的，判定未打印（可用 --serial 重新生成报表）")
                            .arg(r.id)
                            .arg(d.serialNumber, judged));
            } else if (!j) {
                problem(j.error());
            }
        } else if (!reprint && namesRelay) {
            if (auto j = sf6::judgeRecordWith(archive, r.id, *relaySerial, !archive.readOnly()); j)
                judgement = j->judgement;
            else
                problem(j.error());
        }
        out.pages =
            sf6::reportPages(d, row, judgement ? std::optional<sf6::Judgement>(judgement->judgement) : std::nullopt);
        out.file = sf6::reportPdfFileName(d.testDate, QString::number(r.id));
        if (!reprint)
            out.keep = sf6::NewReport{r.id, d, judgement ? judgement->id : 0};
    }
    return out;
}

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
    const sf6::ReportDetails defaults = reportDetails(p, &archive);
    std::vector<sf6::NewReport> keep;
    QString lastProblem;
    size_t made = 0;
    Progress progress(QStringLiteral("已生成%1/%2份报表"), qint64(records->size()));
    for (const sf6::ArchivedRecord& r : *records) {
        auto report = buildReport(p, archive, defaults, r, lastProblem);
        if (!report) {
            progress.finish();
            err(report.error());
            return kArchiveFailed;   // the PDF is dropped unwritten
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
            if (const sf6::Status s = sf6::writeReportPdf(report->pages, dir->filePath(report->file)); !s) {
                progress.finish();
                err(s.message());
                ok = false;
            }
        }
        if (!pdf && !dir)
            break;   // no output left to write
        if (report->keep)
            keep.push_back(std::move(*report->keep));
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
    if (auto stored = sf6::storeReports(archive, keep, kProgram); !stored) {
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
    auto total = sf6::countRecords(archive, filter);
    if (!total) {
        err(total.error());
        return kArchiveFailed;
    }
    Progress progress(QStringLiteral("已导出%1/%2条记录"), *total);
    qint64 rows = 0;
    sf6::Status listed = sf6::Status::success();
    const sf6::RowFeed feed = [&](const sf6::AddRow& add) {
        listed = sf6::forEachRecord(archive, filter, [&](const sf6::ArchivedRecord& r) {
            add(r.row());   // column A: the archive number
            progress.step(++rows);
            return true;
        });
        return listed;
    };
    const sf6::Status s = sf6::writeWorkbook(sf6::listWorkbook({}), feed, p.value(QStringLiteral("xlsx")));
    progress.finish();
    if (!listed) {
        err(listed.message());
        return kArchiveFailed;
    }
    if (!s) {
        err(QStringLiteral("导出失败：") + s.message());
        return kWriteFailed;
    }
    err(QStringLiteral("已导出%1条记录").arg(rows));
    return kOk;
}

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

int archiveCommand(const QCommandLineParser& p, const QString& what)
{
    static const QStringList kKnown{QStringLiteral("list"),   QStringLiteral("export"), QStringLiteral("report"),
                                    QStringLiteral("syncs"),  QStringLiteral("relay"),  QStringLiteral("relays"),
                                    QStringLiteral("link"),   QStringLiteral("unlink"), QStringLiteral("judge"),
                                    QStringLiteral("trend"),  QStringLiteral("audit"),  QStringLiteral("p20")};
    static const QStringList kRegister{QStringLiteral("relay"), QStringLiteral("relays"), QStringLiteral("link"),
                                       QStringLiteral("unlink"), QStringLiteral("judge"), QStringLiteral("trend")};
    if (!kKnown.contains(what) && !certificateCommands().contains(what)) {
        err(QStringLiteral("未知的 archive 命令：%1（可用：%2）")
                .arg(what, (kKnown + certificateCommands()).join(QStringLiteral(", "))));
        return kUsage;
    }
    const auto filter = archiveFilter(p);
    if (!filter) {
        err(filter.error());
        return kUsage;
    }
    if (what == QLatin1String("export") && !p.isSet(QStringLiteral("xlsx"))) {
        err(QStringLiteral("archive export 需要 --xlsx FILE"));
        return kUsage;
    }
    // Commands that keep something check the file for damage first.
    static const QStringList kWriting{QStringLiteral("report"), QStringLiteral("relay"), QStringLiteral("link"),
                                      QStringLiteral("judge")};
    const bool writing = (kWriting.contains(what) && !(what == QLatin1String("judge") && p.isSet(QStringLiteral("no-store"))))
        || certificateCommandWrites(p, what);
    auto archive = openArchive(p, writing ? sf6::Archive::Access::Write : sf6::Archive::Access::Read);
    if (!archive) {
        err(archive.error());
        return kArchiveFailed;
    }
    // A command that would keep something says it where it fails, once.
    if (!writing && !(*archive)->readOnlyReason().isEmpty())
        err((*archive)->readOnlyReason());
    if (kRegister.contains(what))
        return registerCommand(p, **archive, what);
    if (certificateCommands().contains(what))
        return certificateCommand(p, **archive, what);
    if (what == QLatin1String("audit"))
        return auditCommand(p, **archive);
    if (what == QLatin1String("p20"))
        return archiveP20Command(p, **archive);

    if (what == QLatin1String("syncs")) {
        const auto syncs = sf6::listSyncs(**archive);
        if (!syncs) {
            err(syncs.error());
            return kArchiveFailed;
        }
        return writeListed(p, syncsAsTsv(*syncs), syncsAsJson(*syncs));
    }

    if (what == QLatin1String("list"))
        return listCommand(p, **archive, *filter);
    if (what == QLatin1String("export"))
        return exportCommand(p, **archive, *filter);
    return reportCommand(p, **archive, *filter);
}

} // namespace cli
