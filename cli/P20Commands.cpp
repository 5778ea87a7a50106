// sf6cli p20 and archive p20: the SF6 pressure conversion both ways, and the
// check of an archived record's P20 against the equation of state.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "archive/ArchiveStore.h"
#include "register/Decimal.h"
#include "register/P20Check.h"
#include "register/Sf6Gas.h"

namespace cli {

namespace {

constexpr int kShownDecimals = 3;   // as the instrument shows pressures
constexpr int kJsonDecimals = 4;

std::optional<double> number(const QCommandLineParser& p, const char* name)
{
    // Read as the register reads a value: a decimal comma is a decimal point.
    const std::optional<sf6::Decimal> d = sf6::Decimal::parse(p.value(QLatin1String(name)));
    if (!d)
        return std::nullopt;
    return double(d->nano()) / double(sf6::Decimal::kScale);
}

QString signedDeviation(sf6::Decimal d)
{
    return (d.nano() < 0 ? QStringLiteral("-") : QStringLiteral("+")) + d.abs().fixedText(sf6::kP20ComputedDecimals);
}

} // namespace

int p20Command(const QCommandLineParser& p)
{
    const bool fromPt = p.isSet(QStringLiteral("pt")), fromP20 = p.isSet(QStringLiteral("p20"));
    if (fromPt == fromP20 || !p.isSet(QStringLiteral("temp"))) {
        err(QStringLiteral("p20 需要 --pt 压力 --temp 温度（求P20）或 --p20 压力 --temp 温度（求Pt）"));
        return kUsage;
    }
    const char* given = fromPt ? "pt" : "p20";
    const std::optional<double> pressure = number(p, given), celsius = number(p, "temp");
    if (!pressure || !celsius) {
        err(QStringLiteral("--%1 和 --temp 应为数值，例如 --%1 0.55 --temp 35").arg(QLatin1String(given)));
        return kUsage;
    }
    const sf6::Expected<double> result = fromPt ? sf6::p20FromPt(*pressure, *celsius) : sf6::ptFromP20(*pressure, *celsius);
    if (!result) {
        err(result.error());
        return kUsage;
    }
    const QString text = QString::number(*result, 'f', kShownDecimals);
    err(fromPt ? QStringLiteral("%1时Pt %2MPa 换算到20°C为P20 %3MPa")
                     .arg(sf6::celsiusText(*celsius), QString::number(*pressure, 'f', kShownDecimals), text)
               : QStringLiteral("P20 %1MPa 在%2时为Pt %3MPa")
                     .arg(QString::number(*pressure, 'f', kShownDecimals), sf6::celsiusText(*celsius), text));
    QByteArray out = text.toLatin1() + '\n';
    QString target = kStdout;
    if (p.isSet(QStringLiteral("json"))) {
        target = p.value(QStringLiteral("json"));
        const double pt = fromPt ? *pressure : *result, p20 = fromPt ? *result : *pressure;
        out = QStringLiteral("{\"pt\":%1,\"temperature\":%2,\"p20\":%3,\"computed\":\"%4\"}\n")
                  .arg(QString::number(pt, 'f', kJsonDecimals), QString::number(*celsius, 'f', 1),
                       QString::number(p20, 'f', kJsonDecimals), fromPt ? QStringLiteral("p20") : QStringLiteral("pt"))
                  .toLatin1();
    }
    if (const sf6::Status s = writeOutput(target, out); !s) {
        err(s.message());
        return kWriteFailed;
    }
    return kOk;
}

int archiveP20Command(const QCommandLineParser& p, const sf6::Archive& archive)
{
    bool ok = false;
    const int id = p.value(QStringLiteral("record")).toInt(&ok);
    if (!ok || id <= 0) {
        err(QStringLiteral("archive p20 需要 --record 档案号"));
        return kUsage;
    }
    const auto found = sf6::findRecord(archive, id);
    if (!found) {
        err(found.error());
        return kArchiveFailed;
    }
    if (!*found) {
        err(QStringLiteral("存档中没有档案号为 %1 的记录").arg(id));
        return kNoAnswer;
    }
    const sf6::P20Check check = sf6::checkP20((*found)->row());
    err(sf6::p20CheckLine(check));
    static const QStringList header{QStringLiteral("项目"),       QStringLiteral("Pt"),   QStringLiteral("温度"),
                                    QStringLiteral("P20（仪器）"), QStringLiteral("P20（换算）"),
                                    QStringLiteral("偏差"),        QStringLiteral("核查")};
    std::vector<QStringList> rows;
    for (const sf6::P20Item& i : check.items)
        rows.push_back({i.caption, i.ptText, check.temperatureText, i.p20Text,
                        i.computed.fixedText(sf6::kP20ComputedDecimals), signedDeviation(i.deviation),
                        i.agrees() ? sf6::kP20Agrees : sf6::kP20Disagrees});
    if (const int written = writeTable(p, header, rows); written != kOk)
        return written;
    switch (check.state) {
    case sf6::P20State::Agrees: return kOk;
    case sf6::P20State::Disagrees: return kP20Disagrees;
    case sf6::P20State::Unchecked: break;
    }
    return kP20Unchecked;
}

} // namespace cli
