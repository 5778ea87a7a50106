#include "cli/Options.h"

#include <QDate>
#include <QLocale>

namespace cli {

namespace {

const char* const kPathOptions[] = {"tsv", "json", "xlsx", "pdf-dir", "pdf", "archive", "png"};

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

sf6::Expected<std::optional<QDate>> dateOption(const QCommandLineParser& p, const char* name)
{
    if (!p.isSet(QLatin1String(name)))
        return std::optional<QDate>();
    const QDate d = QDate::fromString(p.value(QLatin1String(name)), QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        return sf6::Status::failure(QStringLiteral("--%1 的日期应写成 YYYY-MM-DD").arg(QLatin1String(name)));
    return std::optional<QDate>(d);
}

} // namespace

void addOptions(QCommandLineParser& p)
{
    p.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to try instead of the system's list (repeatable)."), QStringLiteral("NAME")},
        {QStringLiteral("tsv"), QStringLiteral("Write the rows as tab-separated text (- for stdout)."), QStringLiteral("FILE")},
        {QStringLiteral("json"), QStringLiteral("Write the rows as JSON (- for stdout)."), QStringLiteral("FILE")},
        {QStringLiteral("xlsx"), QStringLiteral("Write the rows as a workbook."), QStringLiteral("FILE")},
        {QStringLiteral("pdf-dir"), QStringLiteral("Write one report PDF per record into DIR."), QStringLiteral("DIR")},
        {QStringLiteral("pdf"), QStringLiteral("archive report: all reports in one PDF."), QStringLiteral("FILE")},
        {QStringLiteral("records"), QStringLiteral("demo: number of simulated records; archive link/unlink: archive numbers, e.g. 1,2,5-9."), QStringLiteral("N"), QStringLiteral("12")},
        {QStringLiteral("archive"), QStringLiteral("Archive: an SQLite file or postgresql://USER@HOST:PORT/DBNAME "
                                                   "(default: $SF6_ARCHIVE, else the user's archive)."), QStringLiteral("LOCATION")},
        {QStringLiteral("no-archive"), QStringLiteral("Keep nothing in the archive.")},
        {QStringLiteral("from"), QStringLiteral("archive: tests on or after this date."), QStringLiteral("YYYY-MM-DD")},
        {QStringLiteral("to"), QStringLiteral("archive: tests on or before this date."), QStringLiteral("YYYY-MM-DD")},
        {QStringLiteral("text"), QStringLiteral("archive: text in a report's relay or unit fields or the linked relay's entry."), QStringLiteral("TEXT")},
        {QStringLiteral("record"), QStringLiteral("archive link/unlink/judge: the record's archive number (link/unlink: repeatable)."), QStringLiteral("N")},
        {QStringLiteral("no-store"), QStringLiteral("archive judge: print the judgement without keeping it.")},
        {QStringLiteral("name"), QStringLiteral("archive relay: relay name; archive lab: the lab's name; archive standard: its name."), QStringLiteral("TEXT")},
        {QStringLiteral("range"), QStringLiteral("archive relay: measuring range in MPa."), QStringLiteral("LO,HI")},
        {QStringLiteral("class"), QStringLiteral("archive relay: accuracy class 1.0, 1.6 or 2.5."), QStringLiteral("C")},
        {QStringLiteral("alarm"), QStringLiteral("archive relay: nominal alarm value at 20 °C, MPa (empty: not judged)."), QStringLiteral("V")},
        {QStringLiteral("lock1"), QStringLiteral("archive relay: nominal lock-out 1 value at 20 °C, MPa."), QStringLiteral("V")},
        {QStringLiteral("lock2"), QStringLiteral("archive relay: nominal lock-out 2 value at 20 °C, MPa."), QStringLiteral("V")},
        {QStringLiteral("diff-limit"), QStringLiteral("archive relay: switching differential limit, MPa (empty: the allowed error)."), QStringLiteral("V")},
        {QStringLiteral("interval-months"), QStringLiteral("archive relay: calibration interval in months."), QStringLiteral("N")},
        {QStringLiteral("png"), QStringLiteral("archive trend: the chart as a PNG image."), QStringLiteral("FILE")},
        {QStringLiteral("address"), QStringLiteral("archive lab: the lab's address."), QStringLiteral("TEXT")},
        {QStringLiteral("phone"), QStringLiteral("archive lab: the lab's phone."), QStringLiteral("TEXT")},
        {QStringLiteral("accreditation"), QStringLiteral("archive lab: authorisation or accreditation number."), QStringLiteral("TEXT")},
        {QStringLiteral("prefix"), QStringLiteral("archive lab: certificate-number prefix (letters, digits, -; default SF6)."), QStringLiteral("TEXT")},
        {QStringLiteral("certificate"), QStringLiteral("archive standard: its certificate number; approve/amend/verify: the certificate's number."), QStringLiteral("TEXT")},
        {QStringLiteral("issuer"), QStringLiteral("archive standard: the body that issued its certificate."), QStringLiteral("TEXT")},
        {QStringLiteral("valid-until"), QStringLiteral("archive standard: its certificate is valid until this date."), QStringLiteral("YYYY-MM-DD")},
        {QStringLiteral("uncertainty"), QStringLiteral("archive standard: uncertainty or class, as printed."), QStringLiteral("TEXT")},
        {QStringLiteral("standard"), QStringLiteral("archive certify/amend: the reference standard's serial number."), QStringLiteral("S")},
        {QStringLiteral("checker"), QStringLiteral("archive certify/amend: checked by (not the tester)."), QStringLiteral("TEXT")},
        {QStringLiteral("humidity"), QStringLiteral("archive certify/amend: relative humidity, %."), QStringLiteral("H")},
        {QStringLiteral("as-found"), QStringLiteral("archive certify/amend: the record of the test before adjustment."), QStringLiteral("M")},
        {QStringLiteral("accept-imported"), QStringLiteral("archive certify/amend: certify a record whose data came from an imported file, not from the instrument.")},
        {QStringLiteral("reason"), QStringLiteral("archive amend: why the certificate is replaced."), QStringLiteral("TEXT")},
        {QStringLiteral("number"), QStringLiteral("archive certificate: the certificate to print again."), QStringLiteral("NO")},
    });
    for (const DetailOption& o : kDetailOptions)
        p.addOption({QLatin1String(o.name), QStringLiteral("Report: %1").arg(QLatin1String(o.help)), QStringLiteral("TEXT")});
}

std::optional<QString> emptyPathOption(const QCommandLineParser& p)
{
    for (const char* o : kPathOptions)
        if (p.optionNames().contains(QLatin1String(o)) && p.value(QLatin1String(o)).isEmpty())
            return QString::fromLatin1(o);
    return std::nullopt;
}

void overrideDetails(const QCommandLineParser& p, sf6::ReportDetails& d)
{
    for (const DetailOption& o : kDetailOptions)
        if (p.isSet(QLatin1String(o.name)))
            d.*(o.field) = p.value(QLatin1String(o.name));
}

sf6::ReportDetails reportDetails(const QCommandLineParser& p) { return reportDetails(p, nullptr); }

sf6::ReportDetails reportDetails(const QCommandLineParser& p, const sf6::Archive* archive)
{
    const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    sf6::ReportDetails d = sf6::defaultReportDetails(today);
    if (archive)
        if (auto start = sf6::startingDetails(*archive, d); start)
            d = *start;
    overrideDetails(p, d);
    return d;
}

sf6::Expected<sf6::ArchiveLocation> archiveLocation(const QCommandLineParser& p, bool forDemo)
{
    if (p.isSet(QStringLiteral("archive")) && p.isSet(QStringLiteral("no-archive")))
        return sf6::Status::failure(QStringLiteral("--archive 与 --no-archive 不能同时使用"));
    const std::optional<QString> option =
        p.isSet(QStringLiteral("archive")) ? std::optional<QString>(p.value(QStringLiteral("archive"))) : std::nullopt;
    return sf6::ArchiveLocation::choose(option, p.isSet(QStringLiteral("no-archive")), forDemo);
}

sf6::Expected<sf6::ArchiveFilter> archiveFilter(const QCommandLineParser& p)
{
    sf6::ArchiveFilter f;
    auto from = dateOption(p, "from");
    auto to = dateOption(p, "to");
    if (!from)
        return from.status();
    if (!to)
        return to.status();
    if (*from && *to && **from > **to)
        return sf6::Status::failure(QStringLiteral("--from %1 晚于 --to %2：没有日期能同时满足两者")
                                        .arg(p.value(QStringLiteral("from")), p.value(QStringLiteral("to"))));
    f.from = *from;
    f.to = *to;
    f.text = p.value(QStringLiteral("text"));
    return f;
}

} // namespace cli
