// sf6cli: the calibrator scan and the record download without a window.
//   sf6cli ports   [--port NAME]...    the ports a scan would try, in scan order
//   sf6cli connect [--port NAME]...    find the calibrator: NAME<TAB>KIND
//   sf6cli sync    [--port NAME]... [--tsv FILE|-] [--json FILE|-] [--xlsx FILE] [--pdf-dir DIR] [details]
//   sf6cli demo    [--records N] [outputs as for sync]   against a simulated calibrator
// Exit: 0 done; 1 no answer / no records; 2 bad usage; 3 no ports;
//       4 sync broken off (stalled or link lost); 5 an output could not be written.
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
#include <QFile>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#ifdef SF6_HAVE_SIM
#include "sim/Records.h"
#include "sim/Simulator.h"
#endif

namespace {

enum Exit { kOk = 0, kNoAnswer = 1, kUsage = 2, kNoPorts = 3, kBrokenOff = 4, kWriteFailed = 5 };

constexpr int kDemoRecords = 12;
constexpr int kTableColumns = 8;

void err(const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }

bool writeTo(const QString& target, const QByteArray& bytes)
{
    if (target == QLatin1String("-")) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return true;
    }
    QFile f(target);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        err(QStringLiteral("无法写入 %1：%2").arg(target, f.errorString()));
        return false;
    }
    return true;
}

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
        out.exit = kNoAnswer;
        break;
    case sf6::SyncEnd::Stalled:
    case sf6::SyncEnd::LinkLost:
        err(session.endMessage(finished->end, finished->lostReason));
        out.exit = kBrokenOff;
        break;
    }
    return out;
}

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

int writeOutputs(const QCommandLineParser& p, const std::vector<sf6::ListRow>& rows)
{
    bool ok = true;
    if (p.isSet(QStringLiteral("tsv")))
        ok &= writeTo(p.value(QStringLiteral("tsv")), cli::rowsAsTsv(rows));
    if (p.isSet(QStringLiteral("json")))
        ok &= writeTo(p.value(QStringLiteral("json")), cli::rowsAsJson(rows));
    if (p.isSet(QStringLiteral("xlsx"))) {
        sf6::WorkbookInput in;
        in.captions = sf6::columnCaptions();
        for (int c = 0; c < sf6::kColumnCount; ++c)
            in.columnWidthsPx.push_back(sf6::defaultColumnWidth(c));
        in.fontName = sf6::kListFontName;
        in.fontPointSize = sf6::kListFontPointSize;
        in.rows = rows;
        const QString name = p.value(QStringLiteral("xlsx"));
        const sf6::Status r = sf6::writeWorkbook(in, name);
        if (!r) {
            err(QStringLiteral("导出失败：") + r.message());
            ok = false;
        }
    }
    if (p.isSet(QStringLiteral("pdf-dir"))) {
        const QDir dir(p.value(QStringLiteral("pdf-dir")));
        if (!dir.exists() && !QDir().mkpath(dir.path())) {
            err(QStringLiteral("无法创建目录 %1").arg(dir.path()));
            return kWriteFailed;
        }
        const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        sf6::ReportDetails base = sf6::defaultReportDetails(today);
        for (const DetailOption& o : kDetailOptions)
            if (p.isSet(QLatin1String(o.name)))
                base.*(o.field) = p.value(QLatin1String(o.name));
        for (const auto& row : rows) {
            sf6::ReportDetails d = base;
            d.testDate = sf6::testDateOfRow(row);
            const QString file = dir.filePath(sf6::reportPdfFileName(d.testDate, row.value(sf6::kColNumber)));
            if (const sf6::Status s = sf6::writeReportPdf(sf6::buildReportPage(d, row), file); !s) {
                err(s.message());
                ok = false;
            }
        }
    }
    return ok ? kOk : kWriteFailed;
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
    if (table && !s.rows.empty())
        writeTo(QStringLiteral("-"), cli::rowsAsTable(s.rows, kTableColumns));
    const int written = writeOutputs(p, s.rows);
    if (s.exit != kOk)
        return s.exit;
    return written;
}

} // namespace

int main(int argc, char** argv)
{
#ifndef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");   // reports are drawn without a screen
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
        for (const QString& n : names)
            std::printf("%s\n", n.toLocal8Bit().constData());
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
            err(QStringLiteral("--records takes 0 to 255"));
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
        err(QStringLiteral("the demo needs pseudo-terminals, which this system lacks"));
        return kUsage;
#endif
    }
    err(QStringLiteral("unknown command: %1").arg(command));
    return kUsage;
}
