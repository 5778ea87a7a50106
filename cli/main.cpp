// sf6cli: the calibrator scan and the record download without a window.
//   sf6cli ports   [--port NAME]...    the ports a scan would try, in scan order
//   sf6cli connect [--port NAME]...    find the calibrator: NAME<TAB>KIND
//   sf6cli sync    [--port NAME]... [--tsv FILE|-] [--json FILE|-] [--xlsx FILE] [--pdf-dir DIR] [details]
//   sf6cli demo    [--records N] [outputs as for sync]   against a simulated calibrator
// Exit: 0 done; 1 no answer / no records; 2 bad usage; 3 no ports;
//       4 sync broken off (stalled or link lost); 5 an output could not be written.
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "export/Workbook.h"
#include "link/PortList.h"
#include "link/PortScan.h"
#include "report/ReportPage.h"
#include "report/ReportRenderer.h"
#include "sync/SyncSession.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

#ifdef SF6_HAVE_SIM
#include "sim/Records.h"
#include "sim/Simulator.h"
#endif

using namespace cli;

namespace {

constexpr int kDemoRecords = 12;
constexpr int kTableColumns = 8;

// Options that name a file or folder: an empty name is a mistake, never "here".
const char* const kPathOptions[] = {"tsv", "json", "xlsx", "pdf-dir"};

struct DetailOption {
    const char* name;
    QString sf6::ReportDetails::*field;
    const char* help;
};

const DetailOption kDetailOptions[] = {
    {"title", &sf6::ReportDetails::title, "Report title."},
    {"unit", &sf6::ReportDetails::calibratingUnit, "Calibrating unit."},
    {"client", &sf6::ReportDetails::submittingUnit, "Submitting unit."},
    {"relay", &sf6::ReportDetails::relayName, "Relay name."},
    {"model", &sf6::ReportDetails::model, "Relay model."},
    {"serial", &sf6::ReportDetails::serialNumber, "Relay serial number."},
    {"made", &sf6::ReportDetails::productionDate, "Relay production date."},
    {"tester", &sf6::ReportDetails::tester, "Tested by."},
    {"reviewer", &sf6::ReportDetails::reviewer, "Reviewed by."},
    {"approver", &sf6::ReportDetails::approver, "Approved by."},
};

struct SyncOutcome {
    int exit = kOk;
    std::vector<sf6::ListRow> rows;
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
    out.rows = finished->rows;
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

sf6::WorkbookInput workbookOf(const std::vector<sf6::ListRow>& rows)
{
    sf6::WorkbookInput in;
    in.captions = sf6::columnCaptions();
    for (int c = 0; c < sf6::kColumnCount; ++c)
        in.columnWidthsPx.push_back(sf6::defaultColumnWidth(c));
    in.fontName = sf6::kListFontName;
    in.fontPointSize = sf6::kListFontPointSize;
    in.rows = rows;
    return in;
}

sf6::ReportDetails reportDetails(const QCommandLineParser& p)
{
    const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    sf6::ReportDetails base = sf6::defaultReportDetails(today);
    for (const DetailOption& o : kDetailOptions)
        if (p.isSet(QLatin1String(o.name)))
            base.*(o.field) = p.value(QLatin1String(o.name));
    return base;
}

// Every output asked for, each on its own: one that fails does not keep the
// others from being written.
int writeOutputs(const QCommandLineParser& p, const std::vector<sf6::ListRow>& rows)
{
    bool ok = true;
    auto report = [&ok](const sf6::Status& s) {
        if (!s) {
            err(s.message());
            ok = false;
        }
    };
    if (p.isSet(QStringLiteral("tsv")))
        report(writeOutput(p.value(QStringLiteral("tsv")), cli::rowsAsTsv(rows)));
    if (p.isSet(QStringLiteral("json")))
        report(writeOutput(p.value(QStringLiteral("json")), cli::rowsAsJson(rows)));
    if (p.isSet(QStringLiteral("xlsx"))) {
        if (const sf6::Status s = sf6::writeWorkbook(workbookOf(rows), p.value(QStringLiteral("xlsx"))); !s)
            report(sf6::Status::failure(QStringLiteral("导出失败：") + s.message()));
    }
    if (p.isSet(QStringLiteral("pdf-dir"))) {
        const QDir dir(p.value(QStringLiteral("pdf-dir")));
        if (!dir.exists() && !QDir().mkpath(dir.path())) {
            report(sf6::Status::failure(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir.path()))));
        } else {
            const sf6::ReportDetails base = reportDetails(p);
            for (const auto& row : rows) {
                sf6::ReportDetails d = base;
                d.testDate = sf6::testDateOfRow(row);
                const QString file = dir.filePath(sf6::reportPdfFileName(d.testDate, row.value(sf6::kColNumber)));
                report(sf6::writeReportPdf(sf6::buildReportPage(d, row), file));
            }
        }
    }
    return ok ? kOk : kWriteFailed;
}

bool anyOutput(const QCommandLineParser& p)
{
    return std::any_of(std::begin(kPathOptions), std::end(kPathOptions),
                       [&](const char* o) { return p.isSet(QLatin1String(o)); });
}

// Scan; on success the link is open on the calibrator's port. Every refused
// port is named on standard error with the reason.
int connectLink(sf6::SerialLink& link, bool print)
{
    const sf6::ScanResult r = sf6::scanForCalibrator(link);
    switch (r.outcome) {
    case sf6::ScanResult::Outcome::Found:
        if (print)
            std::printf("%s\t%s\n", r.portName.toLocal8Bit().constData(), r.kind.toUtf8().constData());
        else
            err(QStringLiteral("%1 %2 %3%4").arg(sf6::kTextConnected, r.portName, sf6::kTextPortKindPrefix, r.kind));
        return kOk;
    case sf6::ScanResult::Outcome::NoPorts:
        err(sf6::kTextNoPorts);
        return kNoPorts;
    case sf6::ScanResult::Outcome::NoAnswer:
    case sf6::ScanResult::Outcome::Error:
        err(sf6::kTextConnectFailed);
        if (const QString details = r.refusalDetails(); !details.isEmpty())
            err(details);
        if (!r.error.isEmpty())
            err(r.error);
        return kNoAnswer;
    }
    return kNoAnswer;
}

int syncCommand(const QCommandLineParser& p, bool table)
{
    sf6::SerialLink link;
    link.setWaitsRunEventLoop(true);
    if (const int rc = connectLink(link, false); rc != kOk)
        return rc;
    const SyncOutcome s = runSync(link);
    link.Close();
    if (s.rows.empty()) {
        // An empty sync must not replace yesterday's files with empty ones.
        if (anyOutput(p))
            err(QStringLiteral("没有收到任何记录，未写入输出文件。"));
        return s.exit;
    }
    int written = kOk;
    if (table) {
        if (const sf6::Status t = writeOutput(kStdout, cli::rowsAsTable(s.rows, kTableColumns)); !t) {
            err(t.message());
            written = kWriteFailed;
        }
    }
    written = std::max(written, writeOutputs(p, s.rows));
    return s.exit != kOk ? s.exit : written;
}

} // namespace

int main(int argc, char** argv)
{
#ifndef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");   // reports are drawn without a screen
#endif
#ifdef SIGPIPE
    // A reader that goes away (| head) is a failed output to report, not a reason to die
    // before the workbook and the reports are written.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("sf6cli"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "SF6 density-relay calibrator: find it, download its records.\n"
        "Commands: ports, connect, sync, demo.\n"
        "Exit: 0 done, 1 no answer or no records, 2 bad usage, 3 no ports, 4 sync broken off, 5 write failed."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("ports | connect | sync | demo"));
    p.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to try instead of the system's list (repeatable)."), QStringLiteral("NAME")},
        {QStringLiteral("tsv"), QStringLiteral("Write the rows as tab-separated text (- for stdout)."), QStringLiteral("FILE")},
        {QStringLiteral("json"), QStringLiteral("Write the rows as JSON (- for stdout)."), QStringLiteral("FILE")},
        {QStringLiteral("xlsx"), QStringLiteral("Write the rows as a workbook."), QStringLiteral("FILE")},
        {QStringLiteral("pdf-dir"), QStringLiteral("Write one report PDF per row into DIR."), QStringLiteral("DIR")},
        {QStringLiteral("records"), QStringLiteral("demo: number of simulated records."), QStringLiteral("N"), QString::number(kDemoRecords)},
    });
    for (const DetailOption& o : kDetailOptions)
        p.addOption({QLatin1String(o.name), QStringLiteral("Report: %1").arg(QLatin1String(o.help)), QStringLiteral("TEXT")});

    if (!p.parse(QCoreApplication::arguments())) {
        err(p.errorText());
        return kUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::printf("%s", p.helpText().toLocal8Bit().constData());
        return kOk;
    }
    for (const char* o : kPathOptions) {
        if (p.isSet(QLatin1String(o)) && p.value(QLatin1String(o)).isEmpty()) {
            err(QStringLiteral("--%1 需要一个文件名（标准输出用 -）").arg(QLatin1String(o)));
            return kUsage;
        }
    }
    const QStringList args = p.positionalArguments();
    if (args.size() != 1) {
        err(p.helpText());
        return kUsage;
    }
    const QString command = args.first();
    if (p.isSet(QStringLiteral("port"))) {
        // An empty --port names no port: `--port ""` scans an empty list.
        QStringList names = p.values(QStringLiteral("port"));
        names.removeAll(QString());
        sf6::setPortListOverride(names);
    }

    if (command == QLatin1String("ports")) {
        QStringList names = sf6::ListSerialPorts();
        std::sort(names.begin(), names.end());
        QByteArray out;
        for (const QString& n : names)
            out += n.toLocal8Bit() + '\n';
        if (const sf6::Status s = writeOutput(kStdout, out); !s) {
            err(s.message());
            return kWriteFailed;
        }
        return kOk;
    }
    if (command == QLatin1String("connect")) {
        sf6::SerialLink link;
        link.setWaitsRunEventLoop(true);
        return connectLink(link, true);
    }
    if (command == QLatin1String("sync"))
        return syncCommand(p, false);
    if (command == QLatin1String("demo")) {
#ifdef SF6_HAVE_SIM
        bool ok = false;
        const int n = p.value(QStringLiteral("records")).toInt(&ok);
        if (!ok || n < 0 || n > 255) {
            err(QStringLiteral("--records 取 0 到 255"));
            return kUsage;
        }
        sim::Simulator calibrator;
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(n));
        calibrator.setSyncScript(script);
        QString error;
        if (!calibrator.start(&error)) {
            err(error);
            return kNoPorts;
        }
        err(QStringLiteral("模拟校验仪：%1").arg(calibrator.portPath()));
        sf6::setPortListOverride(QStringList{calibrator.portPath()});
        return syncCommand(p, true);
#else
        err(QStringLiteral("演示需要伪终端，本系统没有"));
        return kUsage;
#endif
    }
    err(QStringLiteral("未知命令：%1").arg(command));
    return kUsage;
}
