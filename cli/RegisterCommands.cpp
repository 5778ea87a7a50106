// sf6cli archive relay | relays | link | unlink | judge | trend: the relay register,
// judgements and trends from the command line.
#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"
#include "ops/Links.h"
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

} // namespace

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

    const auto edit = sf6::editRelay(archive, serial, t, kProgram);
    if (!edit)
        return fail(edit.status());
    if (!edit->refused)
        return fail(edit->refused);
    err(QStringLiteral("继电器 %1 已保存（第%2版）").arg(edit->saved->serial).arg(edit->saved->version));
    return kOk;
}

namespace {

QString optionalText(const std::optional<sf6::Decimal>& d) { return d ? d->text() : QString(); }

} // namespace

int relaysCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const auto statuses = sf6::relayStatuses(archive, sf6::Clock::today());
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
    std::vector<QStringList> rows;
    for (const sf6::RelayStatus& s : *statuses) {
        const sf6::RelayEntry& e = s.entry;
        if (const QString note = sf6::skippedRecordsNote(s); !note.isEmpty())
            err(note);
        const QString state = sf6::stateText(s);
        rows.push_back({e.serial, e.name, e.model, e.made, e.client,
                        QStringLiteral("%1,%2").arg(e.lower.text(), e.upper.text()), e.classText(),
                        optionalText(e.alarm), optionalText(e.lock1), optionalText(e.lock2), optionalText(e.diffLimit),
                        QString::number(e.intervalMonths), QString::number(e.version),
                        s.lastTest ? s.lastTest->toString(Qt::ISODate) : QString(), s.lastVerdict,
                        s.nextDue ? s.nextDue->toString(Qt::ISODate) : QString(), state});
    }
    return writeTable(p, header, rows);
}

namespace {

// Every --record and every number of --records (1,2,5-9); refuses a list
// with anything but archive numbers rather than dropping a part of it.
sf6::Expected<std::vector<int>> recordList(const QCommandLineParser& p)
{
    std::vector<int> out;
    auto add = [&out](int n) {
        if (std::find(out.begin(), out.end(), n) == out.end())
            out.push_back(n);
    };
    const auto bad = [](const QString& what) {
        return sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("档案号应为正整数（--record N，或 --records 1,2,5-9）：%1").arg(what));
    };
    for (const QString& v : p.values(QStringLiteral("record"))) {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n <= 0)
            return bad(v);
        add(n);
    }
    if (p.isSet(QStringLiteral("records"))) {
        for (const QString& part : p.value(QStringLiteral("records")).split(u',')) {
            const QStringList ends = part.trimmed().split(u'-');
            bool ok1 = false, ok2 = true;
            const int first = ends.value(0).toInt(&ok1);
            const int last = ends.size() == 2 ? ends[1].toInt(&ok2) : first;
            if (ends.size() > 2 || !ok1 || !ok2 || first <= 0 || last < first)
                return bad(part);
            constexpr int kMostRecords = 100000;   // a typing slip, not a selection
            if (last - first >= kMostRecords)
                return bad(part);
            for (int n = first; n <= last; ++n)
                add(n);
        }
    }
    return out;
}

} // namespace

int linkCommand(const QCommandLineParser& p, sf6::Archive& archive, bool unlink)
{
    const auto records = recordList(p);
    if (!records) {
        err(records.error());
        return kUsage;
    }
    const QString serial = p.value(QStringLiteral("serial")).trimmed();
    if (archive.readOnly()) {
        err(archive.readOnlyReason());   // before any usage mistake
        return kArchiveFailed;
    }
    if (unlink) {
        if (records->empty()) {
            err(QStringLiteral("archive unlink 需要 --record 档案号（可重复）或 --records 1,2,5-9"));
            return kUsage;
        }
        const auto done = sf6::ops::unlinkRecords(archive, *records, kProgram);
        if (!done)
            return fail(done.status());
        err(QStringLiteral("已取消%1条记录的关联").arg(*done));
        return kOk;
    }
    if (records->empty() || serial.isEmpty()) {
        err(QStringLiteral("archive link 需要 --record 档案号 和 --serial 编号"));
        return kUsage;
    }
    if (const sf6::Status s = sf6::ops::linkRecords(archive, *records, serial, kProgram); !s)
        return fail(s);
    if (records->size() == 1)
        err(QStringLiteral("记录 %1 已关联到继电器 %2").arg(records->front()).arg(serial));
    else
        err(QStringLiteral("%1条记录已关联到继电器 %2").arg(records->size()).arg(serial));
    return kOk;
}

int judgeCommand(const QCommandLineParser& p, sf6::Archive& archive)
{
    const int record = recordOption(p);
    if (record == 0) {
        err(QStringLiteral("archive judge 需要 --record 档案号"));
        return kUsage;
    }
    // A guard band takes U from the standard the test was made with.
    const QString standard = p.value(QStringLiteral("standard")).trimmed();
    const auto judged = sf6::ops::judgeRecord(archive, record, !p.isSet(QStringLiteral("no-store")), standard);
    if (!judged) {
        err(judged.error());
        return kArchiveFailed;
    }
    if (!judged->notKept.isEmpty())
        err(judged->notKept);
    const bool keptFailed = judged->keepFailed;
    if (!judged->judgement) {
        err(judged->whyNot);
        return kNoAnswer;
    }
    err(sf6::conclusionLine(judged->judgement->judgement));
    err(QStringLiteral("判定规则：") + sf6::ruleText(judged->judgement->judgement.rule));
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
    if (!trend)
        return fail(trend.status());
    if (trend->points.empty()) {
        err(QStringLiteral("继电器 %1 没有关联的记录，未生成趋势图").arg(serial));
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

} // namespace cli
