// archive copy and backup: an archive with every kind of row carried SQLite →
// PostgreSQL → SQLite with the same lists and a passing verify on each;
// the refusals; and a copy failed after each table in turn leaving nothing.
#include "tests/archive/PgServer.h"
#include "tests/cli/CliRun.h"

#include "archive/ArchiveCopy.h"
#include "archive/Schema.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

using archivetest::Engine;
using archivetest::PgServer;
using clitest::CliRun;
using clitest::sf6cli;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

const char* const kCompared[] = {"list", "relays", "certificates", "audit"};

// Every stored value of every table of an SQLite archive, with its type: a
// timestamp's text or a blob's bytes changed on the way shows here.
QStringList storedRows(const QString& file)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        for (const QString& table : sf6::copyOrder()) {
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table))) << table.toStdString();
            while (q.next()) {
                QStringList row{table};
                for (int i = 0; i < q.record().count(); ++i)
                    row << QString::fromLatin1(q.value(i).metaType().name()) + u':'
                               + (q.value(i).metaType().id() == QMetaType::QByteArray
                                      ? QString::fromLatin1(q.value(i).toByteArray().toHex())
                                      : q.value(i).toString());
                out << row.join(u'|');
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
    return out;
}

class CliSafekeep : public clitest::CliFixture {
protected:
    QTemporaryDir dir;
    CliRun cmd(const QString& archive, const char* what, std::initializer_list<const char*> more = {}) const
    {
        QStringList args{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive};
        for (const char* m : more)
            args << QString::fromUtf8(m);
        return sf6cli(args);
    }
    // Records, a relay in two versions, links and an undone link, the lab, a
    // standard, an approved certificate and the trail of all of it.
    QString filled()
    {
        const QString a = dir.filePath(QStringLiteral("source.sqlite"));
        auto* s = startSim(4);
        EXPECT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), a}).exit, 0);
        EXPECT_EQ(cmd(a, "relay", {"--serial", "R1", "--name", "主变A相", "--alarm", "0.55"}).exit, 0);
        EXPECT_EQ(cmd(a, "relay", {"--serial", "R1", "--lock1", "0.50"}).exit, 0);
        EXPECT_EQ(cmd(a, "link", {"--records", "1-3", "--serial", "R1"}).exit, 0);
        EXPECT_EQ(cmd(a, "unlink", {"--record", "2"}).exit, 0);
        EXPECT_EQ(cmd(a, "lab", {"--name", "华东电力试验研究院"}).exit, 0);
        EXPECT_EQ(cmd(a, "standard", {"--serial", "S1", "--name", "校验仪", "--certificate", "JZ-1", "--issuer", "省计量院",
                                      "--valid-until", "2030-06-30", "--uncertainty", "0.05级"})
                      .exit,
                  0);
        const CliRun issued = cmd(a, "certify", {"--record", "3", "--standard", "S1", "--tester", "张三", "--checker", "李四"});
        EXPECT_EQ(issued.exit, 0) << issued.err.toStdString();
        EXPECT_EQ(cmd(a, "approve", {"--certificate", issued.out.trimmed().toUtf8().constData(), "--approver", "王五"}).exit, 0);
        return a;
    }
    void expectSameAs(const QString& source, const QString& copy)
    {
        for (const char* what : kCompared) {
            const CliRun a = cmd(source, what, {"--tsv", "-"}), b = cmd(copy, what, {"--tsv", "-"});
            EXPECT_EQ(a.exit, 0) << what;
            EXPECT_FALSE(a.out.isEmpty()) << what;
            EXPECT_EQ(a.out.toUtf8(), b.out.toUtf8()) << what;
        }
        const CliRun verified = cmd(copy, "verify");
        EXPECT_EQ(verified.exit, 0) << verified.err.toStdString();
        EXPECT_TRUE(verified.out.contains(QStringLiteral("1份证书"))) << verified.out.toStdString();
    }
};

TEST_F(CliSafekeep, RoundTripThroughPostgresKeepsEveryListAndTheTrail)
{
    // The tests start their own server: one that did not start is a failure, never a skip.
    ASSERT_TRUE(PgServer::instance().running()) << PgServer::instance().error().toStdString();
    const QString source = filled();
    const QString pg = PgServer::instance().newDatabase();
    const CliRun there = cmd(source, "copy", {"--to", pg.toUtf8().constData()});
    ASSERT_EQ(there.exit, 0) << there.err.toStdString();
    EXPECT_TRUE(there.err.contains(QStringLiteral("复制审计记录："))) << "progress on standard error";
    for (const QString& table : sf6::copyOrder())
        EXPECT_NE(sf6::tableTitle(table), table) << "a table without its name for the user: " << table.toStdString();
    expectSameAs(source, pg);
    const QString back = dir.filePath(QStringLiteral("back.sqlite"));
    const CliRun home = sf6cli({QStringLiteral("archive"), QStringLiteral("copy"), QStringLiteral("--archive"), pg,
                                QStringLiteral("--to"), back});
    ASSERT_EQ(home.exit, 0) << home.err.toStdString();
    expectSameAs(source, back);
    const QStringList before = storedRows(source);
    EXPECT_GT(before.size(), 30);
    EXPECT_EQ(storedRows(back), before);
    // The guards came along: a certificate cannot be changed in the copy.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("guard"));
    db.setDatabaseName(back);
    ASSERT_TRUE(db.open());
    EXPECT_FALSE(QSqlQuery(db).exec(QStringLiteral("UPDATE certificates SET verdict = 'x'")));
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("guard"));

    // A backup of the PostgreSQL archive, verified; never over an existing file.
    const QString file = dir.filePath(QStringLiteral("b/one.sqlite"));
    const CliRun backup = sf6cli({QStringLiteral("archive"), QStringLiteral("backup"), QStringLiteral("--archive"), pg,
                                  QStringLiteral("--to"), file});
    ASSERT_EQ(backup.exit, 0) << backup.err.toStdString();
    EXPECT_TRUE(backup.out.contains(QStringLiteral("存档完整"))) << backup.out.toStdString();
    expectSameAs(source, file);
    const CliRun again = sf6cli({QStringLiteral("archive"), QStringLiteral("backup"), QStringLiteral("--archive"), pg,
                                 QStringLiteral("--to"), file});
    EXPECT_EQ(again.exit, 6);
    EXPECT_TRUE(again.err.contains(QStringLiteral("已存在"))) << again.err.toStdString();
}

TEST_F(CliSafekeep, RefusesTargetsThatAreNotEmptyTheSourceOrNewer)
{
    const QString source = filled();
    const QString other = dir.filePath(QStringLiteral("other.sqlite"));
    ASSERT_EQ(cmd(other, "relay", {"--serial", "X"}).exit, 0);
    const CliRun full = cmd(source, "copy", {"--to", other.toUtf8().constData()});
    EXPECT_EQ(full.exit, 6);
    EXPECT_TRUE(full.err.contains(QStringLiteral("relay_versions（1行）"))) << full.err.toStdString();
    // The same file, spelt another way.
    const QByteArray same = (dir.path() + QStringLiteral("/./source.sqlite")).toUtf8();
    const CliRun self = cmd(source, "copy", {"--to", same.constData()});
    EXPECT_EQ(self.exit, 6);
    EXPECT_TRUE(self.err.contains(QStringLiteral("存档本身"))) << self.err.toStdString();
    EXPECT_EQ(cmd(source, "copy").exit, 2) << "no --to";

    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        db.setDatabaseName(newer);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"));
        QSqlQuery(db).exec(QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(sf6::schema::kCurrentVersion + 1));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    const CliRun later = cmd(source, "copy", {"--to", newer.toUtf8().constData()});
    EXPECT_EQ(later.exit, 6);
    EXPECT_TRUE(later.err.contains(QStringLiteral("较新版本"))) << later.err.toStdString();
    EXPECT_EQ(cmd(source, "list", {"--tsv", "-"}).exit, 0) << "the source is left as it was";
}

TEST_F(CliSafekeep, APostgresAccountThatMayNotCreateTriggersIsToldAndLeavesTheTargetEmpty)
{
    PgServer& pg = PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString source = filled();
    const QString database = pg.newDatabaseName();
    // May connect, but not create anything in the schema (PostgreSQL 15's default for others).
    ASSERT_TRUE(pg.exec(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE copier LOGIN")));
    const QString target = pg.location(database) + QStringLiteral("&user=copier");
    const CliRun refused = cmd(source, "copy", {"--to", target.toUtf8().constData()});
    EXPECT_EQ(refused.exit, 6);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("没有建立表、函数和触发器的权限"))) << refused.err.toStdString();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("rights"));
    db.setDatabaseName(database);
    db.setHostName(pg.socketDir());
    db.setPort(pg.port());
    db.setUserName(pg.user());
    ASSERT_TRUE(db.open());
    QSqlQuery tables(db);
    ASSERT_TRUE(tables.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'public'")));
    ASSERT_TRUE(tables.next());
    EXPECT_EQ(tables.value(0).toInt(), 0);
    tables = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("rights"));
}

TEST_F(CliSafekeep, RestoreMovesTheArchiveAsideAndRefusesABackupThatFailsVerify)
{
    const QString source = filled();
    const QString file = dir.filePath(QStringLiteral("b.sqlite"));
    ASSERT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("backup"), QStringLiteral("--archive"), source,
                      QStringLiteral("--to"), file}).exit, 0);
    const QString backedUp = cmd(source, "relays", {"--tsv", "-"}).out;
    ASSERT_EQ(cmd(source, "relay", {"--serial", "R2"}).exit, 0);
    const QString later = cmd(source, "relays", {"--tsv", "-"}).out;
    ASSERT_NE(later, backedUp);

    // A backup whose guard was dropped is refused; the archive stays where it is.
    const QString broken = dir.filePath(QStringLiteral("broken.sqlite"));
    ASSERT_TRUE(QFile::copy(file, broken));
    QFile::setPermissions(broken, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("broken"));
        db.setDatabaseName(broken);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("DROP TRIGGER audit_kept_update")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("broken"));
    const CliRun refused = sf6cli({QStringLiteral("archive"), QStringLiteral("restore"), QStringLiteral("--from"), broken,
                                   QStringLiteral("--archive"), source});
    EXPECT_EQ(refused.exit, 7) << refused.err.toStdString();
    EXPECT_EQ(cmd(source, "relays", {"--tsv", "-"}).out, later);

    const CliRun restored = sf6cli({QStringLiteral("archive"), QStringLiteral("restore"), QStringLiteral("--from"), file,
                                    QStringLiteral("--archive"), source});
    ASSERT_EQ(restored.exit, 0) << restored.err.toStdString();
    EXPECT_EQ(cmd(source, "relays", {"--tsv", "-"}).out, backedUp);
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("source.sqlite.before-restore-*")});
    ASSERT_EQ(aside.size(), 1) << restored.out.toStdString();
    EXPECT_TRUE(restored.out.contains(aside.front()));
    EXPECT_EQ(cmd(dir.filePath(aside.front()), "relays", {"--tsv", "-"}).out, later) << "the archive moved aside is whole";
}

// The automatic backup's scripted face: the settings, the due check, the
// removal of old backups of its own only, the list, and the refusals.
TEST_F(CliSafekeep, AutomaticBackupsKeepTheNewestOfTheirOwnAndSayWhyNot)
{
    QProcessEnvironment env = clitest::testEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    const QString source = filled();
    auto run = [&](std::initializer_list<const char*> args) {
        QStringList list{QStringLiteral("archive")};
        for (const char* a : args)
            list << QString::fromUtf8(a);
        return sf6cli(list << QStringLiteral("--archive") << source, env);
    };
    const CliRun shown = run({"backup-settings"});
    ASSERT_EQ(shown.exit, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("backups"))))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("保留份数\t30")));
    const QString folder = dir.filePath(QStringLiteral("备份 夹"));
    const QByteArray folderArg = folder.toUtf8();
    EXPECT_EQ(run({"backup-settings", "--keep", "0"}).exit, 2);
    EXPECT_EQ(run({"backup-settings", "--interval-days", "x"}).exit, 2);
    ASSERT_EQ(run({"backup-settings", "--keep", "2", "--folder", folderArg.constData()}).exit, 0);

    // Two old backups of ours, and files that only look like them.
    const CliRun first = run({"backup", "--auto"});
    ASSERT_EQ(first.exit, 0) << first.err.toStdString();
    const QStringList made = QDir(folder).entryList({QStringLiteral("sf6archive-*.sqlite")});
    ASSERT_EQ(made.size(), 1);
    const QString real = QDir(folder).filePath(made.front());
    EXPECT_TRUE(first.out.contains(QStringLiteral("备份已写入"))) << first.out.toStdString();
    const CliRun notDue = run({"backup", "--auto"});
    ASSERT_EQ(notDue.exit, 0);
    EXPECT_TRUE(notDue.out.startsWith(QStringLiteral("不需要备份"))) << notDue.out.toStdString();
    ASSERT_TRUE(QFile::rename(real, QDir(folder).filePath(QStringLiteral("sf6archive-20200101-080000.sqlite"))));
    ASSERT_TRUE(QFile::copy(QDir(folder).filePath(QStringLiteral("sf6archive-20200101-080000.sqlite")),
                            QDir(folder).filePath(QStringLiteral("sf6archive-20200102-080000.sqlite"))));
    QFile junk(QDir(folder).filePath(QStringLiteral("sf6archive-20190101-080000.sqlite")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("someone's notes");
    junk.close();
    const CliRun due = run({"backup", "--auto"});
    ASSERT_EQ(due.exit, 0) << due.err.toStdString();
    EXPECT_TRUE(due.out.contains(QStringLiteral("已删除旧备份"))) << due.out.toStdString();
    QStringList left = QDir(folder).entryList(QDir::Files);
    EXPECT_EQ(left.size(), 3) << left.join(u' ').toStdString();
    EXPECT_FALSE(left.contains(QStringLiteral("sf6archive-20200101-080000.sqlite")));
    EXPECT_TRUE(left.contains(QStringLiteral("sf6archive-20200102-080000.sqlite")));
    EXPECT_TRUE(left.contains(QStringLiteral("sf6archive-20190101-080000.sqlite"))) << "not ours: never removed";

    const CliRun listed = run({"backups"});
    ASSERT_EQ(listed.exit, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << listed.out.toStdString();
    EXPECT_TRUE(lines[1].split(u'\t').value(2) == QStringLiteral("4")) << lines[1].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("不是本程序的备份")));

    // Refusals: --to beside --auto; the archive itself; a folder that cannot be made.
    EXPECT_EQ(run({"backup", "--auto", "--to", "x.sqlite"}).exit, 2);
    const QByteArray self = source.toUtf8();
    const CliRun same = run({"backup", "--to", self.constData()});
    EXPECT_EQ(same.exit, 6);
    EXPECT_TRUE(same.err.contains(QStringLiteral("就是要备份的存档本身"))) << same.err.toStdString();
    const QByteArray below = (source + QStringLiteral("/backups")).toUtf8();
    ASSERT_EQ(run({"backup-settings", "--folder", below.constData(), "--interval-days", "1"}).exit, 0);
    const CliRun blocked = run({"backup", "--auto"});
    EXPECT_EQ(blocked.exit, 6);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("备份文件夹"))) << blocked.err.toStdString();
    EXPECT_EQ(cmd(source, "relays", {"--tsv", "-"}).exit, 0) << "the source is left as it was";
}

// A copy that fails after any one table leaves no archive behind, on either engine.
class CopyBrokenOff : public clitest::CliFixture, public ::testing::WithParamInterface<Engine> {
protected:
    QTemporaryDir dir;
};

TEST_P(CopyBrokenOff, AfterEachTableLeavesTheTargetEmpty)
{
    const QString sourceFile = dir.filePath(QStringLiteral("source.sqlite"));
    auto* s = startSim(3);
    ASSERT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), sourceFile}).exit, 0);
    ASSERT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("relay"), QStringLiteral("--archive"), sourceFile,
                      QStringLiteral("--serial"), QStringLiteral("R1")}).exit, 0);
    auto source = sf6::Archive::open(*sf6::ArchiveLocation::parse(sourceFile), sf6::Archive::Access::Read);
    ASSERT_TRUE(source) << source.error().toStdString();
    const QString target = GetParam() == Engine::SQLite ? dir.filePath(QStringLiteral("copy/target.sqlite"))
                                                        : archivetest::freshLocation(Engine::PostgreSQL, dir);
    QDir().mkpath(dir.filePath(QStringLiteral("copy")));
    const auto location = sf6::ArchiveLocation::parse(target);
    ASSERT_TRUE(location);
    for (int n = 1; n <= int(sf6::copyOrder().size()); ++n) {
        sf6::CopyOptions options;
        options.failAfterTable = n;
        const sf6::Status s = sf6::copyArchive(**source, *location, options);
        ASSERT_FALSE(s.ok()) << n;
        if (GetParam() == Engine::SQLite) {
            EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("copy"))).isEmpty()) << "after table " << n;
        } else {
            auto bare = sf6::Archive::openBare(*location);
            ASSERT_TRUE(bare);
            auto q = (*bare)->run(QStringLiteral("SELECT COUNT(*) FROM information_schema.tables "
                                                 "WHERE table_schema = current_schema()"), {}, QString());
            ASSERT_TRUE(q && q->next());
            EXPECT_EQ(q->value(0).toInt(), 0) << "after table " << n;
        }
    }
    const sf6::Status whole = sf6::copyArchive(**source, *location);
    EXPECT_TRUE(whole.ok()) << whole.message().toStdString();
    auto list = [](const QString& a) {
        return sf6cli({QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--archive"), a, QStringLiteral("--tsv"), QStringLiteral("-")}).out;
    };
    EXPECT_EQ(list(target), list(sourceFile));
}

INSTANTIATE_TEST_SUITE_P(Engines, CopyBrokenOff, archivetest::testedEngines(), archivetest::engineName);

} // namespace
