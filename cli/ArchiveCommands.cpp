// sf6cli archive list | export | report | syncs: what the history window
// shows and makes, from the command line.
#include "archive/ArchiveStore.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "register/JudgedReport.h"
#include "report/ReportRenderer.h"

#include <QDir>

#include <memory>

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
struct Reports {
    std::vector<sf6::ReportPage> pages;
    std::vector<std::vector<sf6::ReportPage>> perRecord;   // for --pdf-dir
    std::vector<QString> files;
    bool archiveFailed = false;
};

sf6::Expected<Reports> buildReports(const QCommandLineParser& p, sf6::Archive& archive,
                                    const std::vector<sf6::ArchivedRecord>& records)
{
    Reports out;
    QString lastProblem;   // the same failure for every record is said once
    auto problem = [&lastProblem](const QString& message) {
        if (message != lastProblem)
            err(message);
        lastProblem = message;
    };
    const sf6::ReportDetails defaults = reportDetails(p);
    for (const sf6::ArchivedRecord& r : records) {
        const sf6::ListRow row = r.row();
        auto latest = sf6::latestReport(archive, r.id);
        if (!latest)
            return latest.status();
        sf6::ReportDetails d;
        if (latest->has_value()) {
            d = (*latest)->details;
        } else {
            d = defaults;
            d.testDate = sf6::testDateOfRow(row);
        }
        overrideDetails(p, d);
        // A report reprinted exactly prints the judgement it printed; a new one
        // is judged with the relay's entry as it is now.
        std::optional<sf6::StoredJudgement> judgement;
        const bool reprint = latest->has_value() && (*latest)->details == d;
        if (reprint && (*latest)->judgementId > 0) {
            if (auto j = sf6::findJudgement(archive, (*latest)->judgementId); j)
                judgement = *j;
        } else if (!reprint) {
            if (auto j = sf6::judgeRecord(archive, r.id, !archive.readOnly()); j)
                judgement = j->judgement;
            else
                problem(j.error());
        }
        std::vector<sf6::ReportPage> pages =
            sf6::reportPages(d, row, judgement ? std::optional<sf6::Judgement>(judgement->judgement) : std::nullopt);
        out.files.push_back(sf6::reportPdfFileName(d.testDate, QString::number(r.id)));
        out.perRecord.push_back(pages);
        std::move(pages.begin(), pages.end(), std::back_inserter(out.pages));
        if (!reprint) {
            if (auto stored = sf6::storeReport(archive, r.id, d, kProgram, judgement ? judgement->id : 0); !stored) {
                problem(stored.error());
                out.archiveFailed = true;
            }
        }
    }
    return out;
}

int reportCommand(const QCommandLineParser& p, sf6::Archive& archive, const std::vector<sf6::ArchivedRecord>& records)
{
    if (!p.isSet(QStringLiteral("pdf")) && !p.isSet(QStringLiteral("pdf-dir"))) {
        err(QStringLiteral("archive report 需要 --pdf FILE 或 --pdf-dir DIR"));
        return kUsage;
    }
    if (records.empty()) {
        err(QStringLiteral("没有符合条件的记录，未写入报表。"));
        return kNoAnswer;
    }
    auto reports = buildReports(p, archive, records);
    if (!reports) {
        err(reports.error());
        return kArchiveFailed;
    }
    bool ok = true;
    if (p.isSet(QStringLiteral("pdf"))) {
        if (const sf6::Status s = sf6::writeReportPdf(reports->pages, p.value(QStringLiteral("pdf"))); !s) {
            err(s.message());
            ok = false;
        }
    }
    if (p.isSet(QStringLiteral("pdf-dir"))) {
        const QDir dir(p.value(QStringLiteral("pdf-dir")));
        if (!dir.exists() && !QDir().mkpath(dir.path())) {
            err(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir.path())));
            ok = false;
        } else {
            for (size_t i = 0; i < reports->perRecord.size(); ++i) {
                if (const sf6::Status s = sf6::writeReportPdf(reports->perRecord[i], dir.filePath(reports->files[i])); !s) {
                    err(s.message());
                    ok = false;
                }
            }
        }
    }
    err(QStringLiteral("已生成%1份报表").arg(reports->perRecord.size()));
    if (!ok)
        return kWriteFailed;
    return reports->archiveFailed ? kArchiveFailed : kOk;
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
                                    QStringLiteral("link"),   QStringLiteral("judge"),  QStringLiteral("trend")};
    static const QStringList kRegister{QStringLiteral("relay"), QStringLiteral("relays"), QStringLiteral("link"),
                                       QStringLiteral("judge"), QStringLiteral("trend")};
    if (!kKnown.contains(what)) {
        err(QStringLiteral("未知的 archive 命令：%1（可用：%2）").arg(what, kKnown.join(QStringLiteral(", "))));
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
    const bool writing = kWriting.contains(what) && !(what == QLatin1String("judge") && p.isSet(QStringLiteral("no-store")));
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

    if (what == QLatin1String("syncs")) {
        const auto syncs = sf6::listSyncs(**archive);
        if (!syncs) {
            err(syncs.error());
            return kArchiveFailed;
        }
        return writeListed(p, syncsAsTsv(*syncs), syncsAsJson(*syncs));
    }

    const auto records = sf6::listRecords(**archive, *filter);
    if (!records) {
        err(records.error());
        return kArchiveFailed;
    }
    if (what == QLatin1String("list"))
        return writeListed(p, recordsAsTsv(*records), recordsAsJson(*records));
    if (what == QLatin1String("export")) {
        std::vector<sf6::ListRow> rows;
        rows.reserve(records->size());
        for (const sf6::ArchivedRecord& r : *records)
            rows.push_back(r.row());   // column A: the archive number
        if (const sf6::Status s = sf6::writeWorkbook(sf6::listWorkbook(rows), p.value(QStringLiteral("xlsx"))); !s) {
            err(QStringLiteral("导出失败：") + s.message());
            return kWriteFailed;
        }
        err(QStringLiteral("已导出%1条记录").arg(rows.size()));
        return kOk;
    }
    return reportCommand(p, **archive, *records);
}

} // namespace cli
