// The register from the command line: entries made, changed and refused by
// field, records linked and judged, judged reports of two pages, and trends.
#include "tests/cli/CliRun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <thread>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

QString run(const char* tool, const QStringList& args)
{
    QProcess p;
    p.start(QString::fromLatin1(tool), args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pages(const QString& pdf)
{
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class CliRegister : public clitest::CliFixture {
protected:
    void SetUp() override
    {
        archive = dir.filePath(QStringLiteral("archive.sqlite"));
        auto* s = startSim(4);
        ASSERT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), archive}).exit, 0);
    }
    CliRun archiveCmd(const char* what, const QStringList& more = {}) const
    {
        return sf6cli(QStringList{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive} + more);
    }
    QJsonArray relays() const
    {
        return QJsonDocument::fromJson(archiveCmd("relays", {QStringLiteral("--json"), QStringLiteral("-")}).out.toUtf8()).array();
    }
    QTemporaryDir dir;
    QString archive;
};

const QStringList kGoodRelay{QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--name"),
                             QStringLiteral("主变A相"), QStringLiteral("--range"), QStringLiteral("-0.1,0.9"),
                             QStringLiteral("--class"), QStringLiteral("1.6"), QStringLiteral("--alarm"),
                             QStringLiteral("0.55"), QStringLiteral("--lock1"), QStringLiteral("0.50"),
                             QStringLiteral("--interval-months"), QStringLiteral("12")};

} // namespace

TEST_F(CliRegister, entriesAreMadeChangedAndWrongFieldsRefusedByName)
{
    CliRun r = archiveCmd("relay", kGoodRelay);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    r = archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--class"), QStringLiteral("2.5")});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    QJsonArray list = relays();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].toObject()[QStringLiteral("准确度等级")].toString(), QStringLiteral("2.5"));
    EXPECT_EQ(list[0].toObject()[QStringLiteral("版本")].toString(), QStringLiteral("2"));
    EXPECT_EQ(list[0].toObject()[QStringLiteral("报警设定值")].toString(), QStringLiteral("0.55")) << "a field not given is kept";

    const std::pair<QStringList, QString> wrong[] = {
        {{QStringLiteral("--class"), QStringLiteral("1.5")}, QStringLiteral("准确度等级")},
        {{QStringLiteral("--range"), QStringLiteral("0.9,0.1")}, QStringLiteral("量程上限")},
        {{QStringLiteral("--alarm"), QStringLiteral("1.2")}, QStringLiteral("报警设定值")},
        {{QStringLiteral("--interval-months"), QStringLiteral("-3")}, QStringLiteral("校验周期（月）")},
        {{QStringLiteral("--interval-months"), QStringLiteral("0")}, QStringLiteral("校验周期（月）")},
        {{QStringLiteral("--lock1"), QStringLiteral("abc")}, QStringLiteral("闭锁1设定值")},
    };
    for (const auto& [options, field] : wrong) {
        r = archiveCmd("relay", QStringList{QStringLiteral("--serial"), QStringLiteral("R1")} + options);
        EXPECT_EQ(r.exit, 2) << options.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("「%1」").arg(field))) << r.err.toStdString();
    }
    list = relays();
    EXPECT_EQ(list[0].toObject()[QStringLiteral("版本")].toString(), QStringLiteral("2")) << "nothing stored";
    EXPECT_EQ(archiveCmd("relay", {QStringLiteral("--name"), QStringLiteral("x")}).exit, 2) << "no serial";
}

TEST_F(CliRegister, aLinkedRecordIsJudgedAsJsonAndReportedOnTwoPages)
{
    ASSERT_EQ(archiveCmd("relay", kGoodRelay).exit, 0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    EXPECT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--serial"), QStringLiteral("R404")}).exit, 1);

    const CliRun judged = archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--json"), QStringLiteral("-")});
    ASSERT_EQ(judged.exit, 0) << judged.err.toStdString();
    EXPECT_TRUE(judged.out.startsWith(QStringLiteral(
        "{\"record\":2,\"serial\":\"R1\",\"class\":1.6,\"range\":[-0.1,0.9],\"allowed\":0.016,\"limit\":0.016,\"items\":[")))
        << judged.out.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(judged.out.toUtf8()).object();
    const QJsonArray items = o[QStringLiteral("items")].toArray();
    ASSERT_FALSE(items.isEmpty());
    const QJsonObject first = items[0].toObject();
    for (const char* key : {"contact", "trial", "nominal", "action", "error", "return", "differential", "pass"})
        EXPECT_TRUE(first.contains(QLatin1String(key))) << key;
    EXPECT_TRUE(first[QStringLiteral("nominal")].isDouble());
    EXPECT_EQ(first[QStringLiteral("contact")].toString(), QStringLiteral("alarm"));
    EXPECT_FALSE(std::any_of(items.begin(), items.end(),
                             [](const QJsonValue& v) { return v[QStringLiteral("contact")].toString() == QLatin1String("lock2"); }))
        << "lock-out 2 has no nominal value";
    const QString verdict = o[QStringLiteral("verdict")].toString();
    EXPECT_TRUE(verdict == QStringLiteral("合格") || verdict == QStringLiteral("不合格"));
    EXPECT_EQ(archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("3")}).exit, 1) << "not linked";

    // One PDF a record: the judged one has its conclusion and the item page.
    const QString pdfs = dir.filePath(QStringLiteral("reports"));
    const CliRun r = archiveCmd("report", {QStringLiteral("--pdf-dir"), pdfs});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QStringList files = QDir(pdfs).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 4);
    for (const QString& f : files) {
        const QString path = QDir(pdfs).filePath(f);
        const QString text = run("pdftotext", {path, QStringLiteral("-")});
        if (f.endsWith(QStringLiteral("_2.pdf"))) {
            EXPECT_EQ(pages(path), 2) << f.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("结论：") + verdict)) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("校验结果判定")));
            EXPECT_TRUE(text.contains(QStringLiteral("数据来源：仪器同步"))) << text.toStdString();
            for (const char* caption : {"设定值", "P20动作值", "允许误差", "切换差", "差限值", "判定"})
                EXPECT_TRUE(text.contains(QString::fromUtf8(caption))) << caption;
        } else {
            EXPECT_EQ(pages(path), 1) << f.toStdString();
            EXPECT_FALSE(text.contains(QStringLiteral("结论：")));
        }
    }
}

// Two edits of one relay started while another writer holds the archive: the
// second changes only its own field of what the first one stored.
TEST_F(CliRegister, overlappingEditsOfOneRelayBothSurvive)
{
    ASSERT_EQ(archiveCmd("relay", kGoodRelay).exit, 0);
    const QString holder = QStringLiteral("holder");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
        db.setDatabaseName(archive);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(db.transaction());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE archive_lock SET counter = counter + 1 WHERE id = 1")));
        auto start = [this](QProcess& p, const QStringList& change) {
            p.setProcessEnvironment(clitest::testEnvironment());
            p.start(QStringLiteral(SF6CLI_PATH), QStringList{QStringLiteral("archive"), QStringLiteral("relay"),
                                                             QStringLiteral("--archive"), archive,
                                                             QStringLiteral("--serial"), QStringLiteral("R1")} + change);
            ASSERT_TRUE(p.waitForStarted());
        };
        QProcess alarm, name;
        start(alarm, {QStringLiteral("--alarm"), QStringLiteral("0.60")});
        start(name, {QStringLiteral("--name"), QStringLiteral("新名")});
        std::this_thread::sleep_for(std::chrono::seconds(1));   // both started and waiting for the lock
        EXPECT_EQ(alarm.state(), QProcess::Running);
        EXPECT_EQ(name.state(), QProcess::Running);
        ASSERT_TRUE(db.commit());
        for (QProcess* p : {&alarm, &name}) {
            ASSERT_TRUE(p->waitForFinished(30000));
            EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(holder);
    const QJsonObject r1 = relays()[0].toObject();
    EXPECT_EQ(r1[QStringLiteral("报警设定值")].toString(), QStringLiteral("0.6"));
    EXPECT_EQ(r1[QStringLiteral("继电器名称")].toString(), QStringLiteral("新名"));
    EXPECT_EQ(r1[QStringLiteral("版本")].toString(), QStringLiteral("3"));
}

// A report names the relay it is judged with: a linked record's relay texts
// come from the register, --serial names another relay and is judged with
// it, and a stored report is reprinted as it was stored.
TEST_F(CliRegister, aReportPrintsTheRelayItIsJudgedWith)
{
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("ZB-01"), QStringLiteral("--name"),
                                   QStringLiteral("主变本体继电器"), QStringLiteral("--model"), QStringLiteral("ZMJ-100"),
                                   QStringLiteral("--client"), QStringLiteral("220kV南湖站"), QStringLiteral("--alarm"),
                                   QStringLiteral("0.55")})
                  .exit,
              0);
    // Set values at the ends of a narrow range: every item of every record fails with this relay.
    ASSERT_EQ(archiveCmd("relay", {QStringLiteral("--serial"), QStringLiteral("MX-9"), QStringLiteral("--name"),
                                   QStringLiteral("母线继电器"), QStringLiteral("--range"), QStringLiteral("0,1"),
                                   QStringLiteral("--class"), QStringLiteral("1.0"), QStringLiteral("--alarm"),
                                   QStringLiteral("0"), QStringLiteral("--lock1"), QStringLiteral("1"),
                                   QStringLiteral("--lock2"), QStringLiteral("0")})
                  .exit,
              0);
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("2"), QStringLiteral("--serial"), QStringLiteral("ZB-01")}).exit, 0);
    auto report = [this](const QString& folder, const QStringList& more) {
        const QString pdfs = dir.filePath(folder);
        const CliRun r = archiveCmd("report", QStringList{QStringLiteral("--pdf-dir"), pdfs} + more);
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        const QStringList files = QDir(pdfs).entryList({QStringLiteral("*_2.pdf")}, QDir::Files);
        return files.isEmpty() ? QString() : run("pdftotext", {QDir(pdfs).filePath(files.front()), QStringLiteral("-")});
    };

    const QString linked = report(QStringLiteral("linked"), {});
    for (const char* text : {"主变本体继电器", "ZMJ-100", "ZB-01", "220kV南湖站", "结论："})
        EXPECT_TRUE(linked.contains(QString::fromUtf8(text))) << text << "\n" << linked.toStdString();
    for (const char* text : {"1#开关继电器", "20121212", "XXX换流站"})
        EXPECT_FALSE(linked.contains(QString::fromUtf8(text))) << text;

    const QString other = report(QStringLiteral("other"), {QStringLiteral("--serial"), QStringLiteral("MX-9")});
    EXPECT_TRUE(other.contains(QStringLiteral("母线继电器"))) << other.toStdString();
    EXPECT_TRUE(other.contains(QStringLiteral("结论：不合格"))) << "judged with the relay it names";
    QString joined = other;
    joined.remove(QRegularExpression(QStringLiteral("\\s")));
    EXPECT_EQ(joined.count(QStringLiteral("允许误差±0.010MPa）")), 2) << "every line of the long conclusion, on both pages";
    EXPECT_FALSE(other.contains(QStringLiteral("主变本体继电器")));

    const QString reprinted = report(QStringLiteral("again"), {});
    EXPECT_TRUE(reprinted.contains(QStringLiteral("母线继电器"))) << "the stored report, not rewritten";
    EXPECT_TRUE(reprinted.contains(QStringLiteral("结论：不合格")));

    // A report stored naming one relay with another's judgement (as an earlier
    // version could store it) is reprinted without that judgement, and says so.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(archive);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
            "UPDATE reports SET judgement_id = (SELECT j.id FROM judgements j JOIN relay_versions v ON v.id = "
            "j.relay_version_id WHERE v.serial_number = 'ZB-01') WHERE id = (SELECT MAX(id) FROM reports WHERE record_id = 2)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
    const QString pdfs = dir.filePath(QStringLiteral("mixed"));
    const CliRun mixed = archiveCmd("report", {QStringLiteral("--pdf-dir"), pdfs});
    EXPECT_EQ(mixed.exit, 0) << mixed.err.toStdString();
    EXPECT_TRUE(mixed.err.contains(QStringLiteral("ZB-01"))) << mixed.err.toStdString();
    const QStringList files = QDir(pdfs).entryList({QStringLiteral("*_2.pdf")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(pages(QDir(pdfs).filePath(files.front())), 1);
}

TEST_F(CliRegister, aRelayWithoutRecordsHasNoTrend)
{
    ASSERT_EQ(archiveCmd("relay", kGoodRelay).exit, 0);
    const QString png = dir.filePath(QStringLiteral("trend.png"));
    const CliRun r = archiveCmd("trend", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--png"), png});
    EXPECT_EQ(r.exit, 1);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_FALSE(QFile::exists(png));
}

TEST_F(CliRegister, aTrendIsSavedAsAPicture)
{
    ASSERT_EQ(archiveCmd("relay", kGoodRelay).exit, 0);
    for (const char* record : {"1", "3", "4"})
        ASSERT_EQ(archiveCmd("link", {QStringLiteral("--record"), QString::fromLatin1(record), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    const QString png = dir.filePath(QStringLiteral("trend.png"));
    const CliRun r = archiveCmd("trend", {QStringLiteral("--serial"), QStringLiteral("R1"), QStringLiteral("--png"), png});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("3条记录")));
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1200, 700));
    EXPECT_EQ(archiveCmd("trend", {QStringLiteral("--serial"), QStringLiteral("NOPE"), QStringLiteral("--png"), png}).exit, 1);
}

// Several records link in one go (repeated --record, --records with a range)
// or none does; unlink undoes a link; --text finds a record by its relay.
TEST_F(CliRegister, severalRecordsLinkTogetherOrNotAtAllAndUnlinkUndoes)
{
    ASSERT_EQ(archiveCmd("relay", kGoodRelay + QStringList{QStringLiteral("--model"), QStringLiteral("ＡＢＢ-Ärger")}).exit, 0);
    EXPECT_EQ(relays()[0].toObject()[QStringLiteral("状态")].toString(), QStringLiteral("未校验")) << "never tested";
    const auto linked = [this](const QString& text) { return archiveCmd("list", {QStringLiteral("--text"), text}).out.count(u'\n') - 1; };
    const CliRun both = archiveCmd("link", {QStringLiteral("--record"), QStringLiteral("1"), QStringLiteral("--record"),
                                            QStringLiteral("2"), QStringLiteral("--serial"), QStringLiteral("R1")});
    ASSERT_EQ(both.exit, 0) << both.err.toStdString();
    EXPECT_EQ(linked(QStringLiteral("R1")), 2) << "both records, not only the last --record";
    EXPECT_EQ(linked(QStringLiteral("abb-ÄRGER")), 2) << "by the relay's model, folded";

    const CliRun bad = archiveCmd("link", {QStringLiteral("--records"), QStringLiteral("3,x"), QStringLiteral("--serial"), QStringLiteral("R1")});
    EXPECT_EQ(bad.exit, 2) << bad.err.toStdString();
    const CliRun missing = archiveCmd("link", {QStringLiteral("--records"), QStringLiteral("3-9"), QStringLiteral("--serial"), QStringLiteral("R1")});
    EXPECT_EQ(missing.exit, 1) << "record 5 is not archived";
    EXPECT_TRUE(missing.err.contains(QStringLiteral("5"))) << missing.err.toStdString();
    EXPECT_EQ(linked(QStringLiteral("R1")), 2) << "and none of 3 to 9 was linked";
    ASSERT_EQ(archiveCmd("link", {QStringLiteral("--records"), QStringLiteral("3-4"), QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    EXPECT_EQ(linked(QStringLiteral("R1")), 4);

    const CliRun undone = archiveCmd("unlink", {QStringLiteral("--records"), QStringLiteral("1,3")});
    ASSERT_EQ(undone.exit, 0) << undone.err.toStdString();
    EXPECT_TRUE(undone.err.contains(QStringLiteral("已取消2条记录的关联"))) << undone.err.toStdString();
    EXPECT_EQ(linked(QStringLiteral("R1")), 2);
    EXPECT_EQ(archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("1")}).exit, 1) << "no longer linked";
    EXPECT_EQ(archiveCmd("unlink", {}).exit, 2);
}

// A report written from the command line without --serial names no relay: it
// links nothing, and its sample relay texts are not what a search finds.
TEST_F(CliRegister, reportsOfTheSampleRelayLinkNothingAndAreNotFoundByIt)
{
    const QString pdfs = dir.filePath(QStringLiteral("reports"));
    ASSERT_EQ(archiveCmd("report", {QStringLiteral("--pdf-dir"), pdfs}).exit, 0);
    EXPECT_EQ(archiveCmd("list", {QStringLiteral("--text"), QStringLiteral("ABB")}).out.count(u'\n'), 1) << "the header only";
    EXPECT_TRUE(archiveCmd("judge", {QStringLiteral("--record"), QStringLiteral("1")}).err.contains(QStringLiteral("记录 1 没有关联继电器")));
    EXPECT_EQ(relays().size(), 0);
}
