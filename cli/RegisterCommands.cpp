// sf6cli archive relay | relays | link | judge | trend: the relay register,
// judgements and trends from the command line.
#include "cli/Commands.h"
#include "cli/Output.h"
#include "register/RelayRegister.h"
#include "register/TrendChart.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

const QString kProgram = QStringLiteral("sf6cli");

std::optional<QString> option(const QCommandLineParser& p, const char* name)
{
    return p.isSet(QLatin1String(name)) ? std::optional<QString>(p.value(QLatin1String(name))) : std::nullopt;
}

int recordOption(const QCommandLineParser& p)
{
    bool ok = false;
    const int n = p.value(QStringLiteral("record")).toInt(&ok);
    return ok && n > 0 ? n : 0;
}

int relayCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString serial = p.value(QStringLiteral("serial")).trimmed();
    if (serial.isEmpty()) {
        err(QStringLiteral("archive relay 需要 --serial 编号"));
        return kUsage;
    }
    sf6::RelayTexts t;
    t.serial = serial;
    t.name = option(p, "name");
    t.model = option(p, "model");
    t.made = option(p, "made");
    t.client = option(p, "client");
    if (const auto range = option(p, "range")) {
        const QStringList ends = range->split(u',');
        if (ends.size() != 2) {
            err(QStringLiteral("继电器台账：「量程」应写成 下限,上限（例如 -0.1,0.9），未保存。"));
            return kUsage;
        }
        t.lower = ends[0];
        t.upper = ends[1];
    }
    t.accuracyClass = option(p, "class");
    t.alarm = option(p, "alarm");
    t.lock1 = option(p, "lock1");
    t.lock2 = option(p, "lock2");
    t.diffLimit = option(p, "diff-limit");
    t.intervalMonths = option(p, "interval-months");

    auto current = sf6::findRelay(archive, serial);
    if (!current) {
        err(current.error());
        return kArchiveFailed;
    }
    const auto entry = sf6::applyRelayTexts(*current ? **current : sf6::RelayEntry{}, t);
    if (!entry) {
        err(entry.error());
        return kUsage;
    }
    const auto saved = sf6::saveRelay(archive, *entry, kProgram);
    if (!saved) {
        err(saved.error());
        return kArchiveFailed;
    }
    err(QStringLiteral("继电器 %1 已保存（第%2版）").arg(saved->serial).arg(saved->version));
    return kOk;
}

QString optionalText(const std::optional<sf6::Decimal>& d) { return d ? d->text() : QString(); }

int relaysCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const auto statuses = sf6::relayStatuses(archive, QDate::currentDate());
    if (!statuses) {
        err(statuses.error());
        return kArchiveFailed;
    }
    const QStringList header{QStringLiteral("编号"),     QStringLiteral("继电器名称"), QStringLiteral("型号"),
                             QStringLiteral("生产日期"), QStringLiteral("送检单位"),   QStringLiteral("量程"),
                             QStringLiteral("准确度等级"), QStringLiteral("报警设定值"), QStringLiteral("闭锁1设定值"),
                             QStringLiteral("闭锁2设定值"), QStringLiteral("切换差限值"), QStringLiteral("校验周期（月）"),
                             QStringLiteral("版本"),     QStringLiteral("上次校验"),   QStringLiteral("上次结论"),
                             QStringLiteral("下次到期"), QStringLiteral("状态")};
    QByteArray tsv = header.join(u'\t').toUtf8() + '\n';
    QJsonArray json;
    for (const sf6::RelayStatus& s : *statuses) {
        const sf6::RelayEntry& e = s.entry;
        const QString state = s.overdue ? QStringLiteral("已过期") : s.dueSoon ? QStringLiteral("30天内到期") : QString();
        const QStringList row{e.serial, e.name, e.model, e.made, e.client,
                              QStringLiteral("%1,%2").arg(e.lower.text(), e.upper.text()), e.classText(),
                              optionalText(e.alarm), optionalText(e.lock1), optionalText(e.lock2), optionalText(e.diffLimit),
                              QString::number(e.intervalMonths), QString::number(e.version),
                              s.lastTest ? s.lastTest->toString(Qt::ISODate) : QString(), s.lastVerdict,
                              s.nextDue ? s.nextDue->toString(Qt::ISODate) : QString(), state};
        QStringList clean;
        for (QString f : row)
            clean << f.replace(u'\t', u' ').replace(u'\n', u' ');
        tsv += clean.join(u'\t').toUtf8() + '\n';
        QJsonObject o;
        for (qsizetype i = 0; i < header.size(); ++i)
            o.insert(header[i], row[i]);
        json.append(o);
    }
    const bool wantJson = p.isSet(QStringLiteral("json"));
    const bool wantTsv = p.isSet(QStringLiteral("tsv")) || !wantJson;
    bool ok = true;
    auto write = [&](const QString& target, const QByteArray& bytes) {
        if (const sf6::Status s = writeOutput(target, bytes); !s) {
            err(s.message());
            ok = false;
        }
    };
    if (wantTsv)
        write(p.isSet(QStringLiteral("tsv")) ? p.value(QStringLiteral("tsv")) : kStdout, tsv);
    if (wantJson)
        write(p.value(QStringLiteral("json")), QJsonDocument(json).toJson());
    return ok ? kOk : kWriteFailed;
}

int linkCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const int record = recordOption(p);
    const QString serial = p.value(QStringLiteral("serial")).trimmed();
    if (record == 0 || serial.isEmpty()) {
        err(QStringLiteral("archive link 需要 --record 档案号 和 --serial 编号"));
        return kUsage;
    }
    if (archive.readOnly()) {
        err(archive.readOnlyReason());
        return kArchiveFailed;
    }
    if (const sf6::Status s = sf6::linkRecord(archive, record, serial); !s) {
        err(s.message());
        return kNoAnswer;
    }
    err(QStringLiteral("记录 %1 已关联到继电器 %2").arg(record).arg(serial));
    return kOk;
}

int judgeCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const int record = recordOption(p);
    if (record == 0) {
        err(QStringLiteral("archive judge 需要 --record 档案号"));
        return kUsage;
    }
    // An archive that cannot keep the judgement still gives it, and says so.
    const bool store = !p.isSet(QStringLiteral("no-store")) && !archive.readOnly();
    if (!store && !p.isSet(QStringLiteral("no-store")))
        err(QStringLiteral("判定不会存档：") + archive.readOnlyReason());
    else if (!store)
        err(QStringLiteral("判定不会存档（--no-store）。"));
    auto judged = sf6::judgeRecord(archive, record, store);
    bool keptFailed = false;
    if (!judged && store) {
        // Kept it could not be; given it still is.
        err(QStringLiteral("判定不会存档：") + judged.error());
        keptFailed = true;
        judged = sf6::judgeRecord(archive, record, false);
    }
    if (!judged) {
        if (!keptFailed)
            err(judged.error());
        return kArchiveFailed;
    }
    if (!judged->judgement) {
        err(judged->whyNot);
        return kNoAnswer;
    }
    err(sf6::conclusionLine(judged->judgement->judgement));
    const QByteArray json = sf6::judgementJson(record, judged->judgement->judgement) + '\n';
    if (const sf6::Status s = writeOutput(p.isSet(QStringLiteral("json")) ? p.value(QStringLiteral("json")) : kStdout, json);
        !s) {
        err(s.message());
        return kWriteFailed;
    }
    return keptFailed ? kArchiveFailed : kOk;
}

int trendCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const QString serial = p.value(QStringLiteral("serial")).trimmed();
    if (serial.isEmpty() || (!p.isSet(QStringLiteral("png")) && !p.isSet(QStringLiteral("pdf")))) {
        err(QStringLiteral("archive trend 需要 --serial 编号 和 --png FILE 或 --pdf FILE"));
        return kUsage;
    }
    const auto trend = sf6::trendOf(archive, serial);
    if (!trend) {
        err(trend.error());
        return kNoAnswer;
    }
    bool ok = true;
    if (p.isSet(QStringLiteral("png")))
        if (const sf6::Status s = sf6::saveTrendPng(*trend, p.value(QStringLiteral("png"))); !s) {
            err(s.message());
            ok = false;
        }
    if (p.isSet(QStringLiteral("pdf")))
        if (const sf6::Status s = sf6::saveTrendPdf(*trend, p.value(QStringLiteral("pdf"))); !s) {
            err(s.message());
            ok = false;
        }
    err(QStringLiteral("继电器 %1 的趋势：%2条记录").arg(serial).arg(trend->points.size()));
    return ok ? kOk : kWriteFailed;
}

} // namespace

int registerCommand(const QCommandLineParser& p, sf6::Archive& archive, const QString& what)
{
    if (what == QLatin1String("relay"))
        return relayCommand(p, archive);
    if (what == QLatin1String("relays"))
        return relaysCommand(p, archive);
    if (what == QLatin1String("link"))
        return linkCommand(p, archive);
    if (what == QLatin1String("judge"))
        return judgeCommand(p, archive);
    return trendCommand(p, archive);
}

} // namespace cli
