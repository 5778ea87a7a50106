// The archive when the world turns against it: a disk that cannot take the
// database's growth, a file damaged behind the program's back while it was
// known whole, a PostgreSQL session that holds the writers' lock and goes idle,
// statements the server refuses while the archive is opened, and what libpq
// would print by itself.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "base/Platform.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace sf6;
using archivetest::PgServer;

namespace {

SyncLog syncOf(const std::vector<QByteArray>& records)
{
    SyncLog log;
    log.when = Archive::now();
    log.program = QStringLiteral("test");
    log.port = QStringLiteral("/dev/pts/test");
    log.recordTotal = int(records.size());
    log.end = SyncEnd::Complete;
    log.records = records;
    return log;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file's modification time, put back after a change as a program covering
// its tracks would: to the nanosecond where the system keeps that.
class FileTimes {
public:
    explicit FileTimes(QString path) : path_(std::move(path))
    {
#ifndef _WIN32
        stat(QFile::encodeName(path_).constData(), &st_);
#else
        modified_ = QFileInfo(path_).lastModified();
#endif
    }
    bool putBack() const
    {
#ifndef _WIN32
        const timespec times[2] = {{0, UTIME_OMIT}, st_.st_mtim};
        struct stat now {};
        return utimensat(AT_FDCWD, QFile::encodeName(path_).constData(), times, 0) == 0
               && stat(QFile::encodeName(path_).constData(), &now) == 0 && now.st_mtim.tv_sec == st_.st_mtim.tv_sec
               && now.st_mtim.tv_nsec == st_.st_mtim.tv_nsec && now.st_size == st_.st_size;
#else
        QFile f(path_);
        return f.open(QIODevice::ReadWrite) && f.setFileTime(modified_, QFileDevice::FileModificationTime);
#endif
    }

private:
    QString path_;
#ifndef _WIN32
    struct stat st_ {};
#else
    QDateTime modified_;
#endif
};

} // namespace

// A database that cannot grow says the disk is full, in the program's words,
// and counts as a failure of the archive, not a refusal: also when the engine's
// code is lost on the way (Qt's driver drops it when COMMIT fails).
TEST(ArchiveFull, aDatabaseThatCannotGrowSaysTheDiskIsFull)
{
    QTemporaryDir dir;
    auto a = Archive::open(*ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite"))));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    Archive& archive = **a;
    ASSERT_TRUE(archiveSync(archive, syncOf(sim::plausibleRecords(5, 1))).ok());
    auto pages = archive.run(QStringLiteral("PRAGMA page_count"), {}, QStringLiteral("test"));
    ASSERT_TRUE(pages && pages->next());
    ASSERT_TRUE(archive.run(QStringLiteral("PRAGMA max_page_count = %1").arg(pages->value(0).toInt()), {},
                            QStringLiteral("test")));

    auto full = archiveSync(archive, syncOf(sim::plausibleRecords(200, 2)));
    ASSERT_FALSE(full.ok());
    EXPECT_TRUE(full.error().contains(QStringLiteral("磁盘已满"))) << full.error().toStdString();
    EXPECT_FALSE(full.error().contains(QStringLiteral("数据库报告了错误"))) << full.error().toStdString();
    EXPECT_EQ(full.code(), ErrorCode::ArchiveUnavailable) << "a full disk is the archive failing, not a rule refusing";

    const QSqlError commitFailed(QStringLiteral("Unable to commit transaction"), QStringLiteral("database or disk is full"),
                                 QSqlError::TransactionError);
    EXPECT_TRUE(Archive::reason(commitFailed).startsWith(QStringLiteral("磁盘已满")))
        << Archive::reason(commitFailed).toStdString();
    const QSqlError ioFailed(QStringLiteral("Unable to fetch row"), QStringLiteral("disk I/O error"),
                             QSqlError::StatementError);
    EXPECT_TRUE(Archive::reason(ioFailed).startsWith(QStringLiteral("读写存档文件时出错")))
        << Archive::reason(ioFailed).toStdString();

    // Room again: the same connection writes.
    ASSERT_TRUE(archive.run(QStringLiteral("PRAGMA max_page_count = 1073741823"), {}, QStringLiteral("test")));
    auto roomy = archiveSync(archive, syncOf(sim::plausibleRecords(3, 3)));
    ASSERT_TRUE(roomy.ok()) << roomy.error().toStdString();
    EXPECT_EQ(roomy->newRecords, 3);
}

// The damage check is not repeated while the file is as the program last
// found or left it, and runs again once anything else changed it: damage
// written in place, with the file's size and modification time put back, is
// still found before a write. verify reads the whole file whatever is known.
TEST(ArchiveDamageCheck, aFileChangedBehindTheProgramsBackIsCheckedAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    const QString mark = path + QStringLiteral("-checked");
    {
        auto a = Archive::open(*ArchiveLocation::parse(path));
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(archiveSync(**a, syncOf(sim::plausibleRecords(30))).ok());
    }
    ASSERT_TRUE(QFileInfo::exists(mark)) << "a file the program left whole is marked so";
    EXPECT_TRUE(bytesOf(mark).endsWith(platform::fileState(path).toUtf8())) << bytesOf(mark).toStdString();
    {
        // Written again and left: the mark follows the program's own writes.
        auto a = Archive::open(*ArchiveLocation::parse(path));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        ASSERT_TRUE(archiveSync(**a, syncOf(sim::plausibleRecords(4, 9))).ok());
    }
    EXPECT_TRUE(bytesOf(mark).endsWith(platform::fileState(path).toUtf8()));

    // An index page overwritten in the middle, size and time as they were,
    // a clock tick of file times (a few milliseconds) after the program left it.
    const FileTimes times(path);
    QThread::msleep(20);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 pages = f.size() / 4096;
        bool scribbled = false;
        for (qint64 page = 1; page < pages && !scribbled; ++page) {
            f.seek(page * 4096);
            if (f.read(1) == QByteArray("\x0a", 1)) {   // a leaf page of an index
                f.seek(page * 4096 + 1);
                f.write(QByteArray(200, '\xff'));
                scribbled = true;
            }
        }
        ASSERT_TRUE(scribbled);
    }
    ASSERT_TRUE(times.putBack()) << "the modification time, to the nanosecond";
    const QByteArray before = bytesOf(path);
    auto refused = Archive::open(*ArchiveLocation::parse(path));
    ASSERT_FALSE(refused.ok()) << "a damaged file must never be written";
    EXPECT_TRUE(refused.error().contains(QStringLiteral("存档文件已损坏"))) << refused.error().toStdString();
    EXPECT_EQ(bytesOf(path), before);

    auto read = Archive::open(*ArchiveLocation::parse(path), Archive::Access::Read);
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    const Status verified = (*read)->checkFile();
    EXPECT_FALSE(verified.ok());
    EXPECT_TRUE(verified.message().contains(QStringLiteral("存档文件已损坏"))) << verified.message().toStdString();
}

#ifndef _WIN32

namespace {

// What the process writes to its standard error while it lives.
class StandardErrorCapture {
public:
    StandardErrorCapture()
    {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(QFile::encodeName(file_.filePath(QStringLiteral("stderr"))).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StandardErrorCapture() { restore(); }
    QByteArray text()
    {
        restore();
        return bytesOf(file_.filePath(QStringLiteral("stderr")));
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryDir file_;
    int saved_ = -1;
};

// Another program's session, in the middle of a write of its own.
class LockHolder {
public:
    explicit LockHolder(const QString& database) : name_(QStringLiteral("holder-") + database)
    {
        PgServer& pg = PgServer::instance();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
        db.setHostName(pg.socketDir());
        db.setPort(PgServer::kPort);
        db.setDatabaseName(database);
        held_ = db.open() && db.transaction()
                && QSqlQuery(db).exec(QStringLiteral("UPDATE archive_lock SET counter = counter + 1 WHERE id = 1"));
    }
    ~LockHolder() { release(); }
    bool held() const { return held_; }
    void release()
    {
        if (!QSqlDatabase::contains(name_))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name_);
            db.rollback();
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }

private:
    QString name_;
    bool held_ = false;
};

QString databaseOf(const QString& location) { return location.section(u'/', 3).section(u'?', 0, 0); }

QString setting(const Archive& a, const char* name)
{
    auto q = a.run(QStringLiteral("SELECT current_setting(?)"), {QString::fromLatin1(name)}, QStringLiteral("test"));
    return q && q->next() ? q->value(0).toString() : QStringLiteral("<failed>");
}

} // namespace

// A session idle inside its write holds the writers' lock: a write waits
// the set time (15 s unless the session was given its own), then says
// another program holds the archive; the archive stays usable, and writes
// once the lock is let go.
TEST(ArchiveLockOnServer, aWriterWaitsASetTimeForAnIdleLockHolderThenSaysSo)
{
    PgServer& pg = PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString location = pg.newDatabase();
    {
        auto a = Archive::open(*ArchiveLocation::parse(location));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        EXPECT_EQ(setting(**a, "lock_timeout"), QStringLiteral("15s"));
    }
    // The wait the location gives stands (here short, for the test).
    auto a = Archive::open(*ArchiveLocation::parse(location + QStringLiteral("&options=-c%20lock_timeout%3D300")));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    Archive& archive = **a;
    EXPECT_EQ(setting(archive, "lock_timeout"), QStringLiteral("300ms"));
    ASSERT_TRUE(archiveSync(archive, syncOf(sim::plausibleRecords(2, 1))).ok());

    LockHolder holder(databaseOf(location));
    ASSERT_TRUE(holder.held());
    QElapsedTimer clock;
    clock.start();
    auto blocked = archiveSync(archive, syncOf(sim::plausibleRecords(3, 2)));
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_FALSE(blocked.ok());
    EXPECT_TRUE(blocked.error().contains(QStringLiteral("存档正被另一个程序占用"))) << blocked.error().toStdString();
    EXPECT_EQ(blocked.code(), ErrorCode::ArchiveLocked);

    holder.release();
    auto after = archiveSync(archive, syncOf(sim::plausibleRecords(3, 2)));
    ASSERT_TRUE(after.ok()) << after.error().toStdString();
    EXPECT_EQ(after->newRecords, 3);
}

// What libpq would print by itself (a server's NOTICE, the FATAL of a
// session the server ends) never reaches standard error.
TEST(ArchiveNoticesOnServer, libpqPrintsNothingOfItsOwn)
{
    PgServer& pg = PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString location = pg.newDatabase();
    auto a = Archive::open(*ArchiveLocation::parse(location));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    StandardErrorCapture captured;
    ASSERT_TRUE((*a)->run(QStringLiteral("DO $$ BEGIN RAISE NOTICE 'sf6 notice'; RAISE WARNING 'sf6 warning'; END $$"),
                          {}, QStringLiteral("test")));
    ASSERT_TRUE(pg.restart()) << pg.error().toStdString();
    auto listed = listRecords(**a, {});
    EXPECT_TRUE(listed.ok()) << listed.error().toStdString();
    const QByteArray printed = captured.text();
    EXPECT_FALSE(printed.contains("sf6 notice")) << printed.toStdString();
    EXPECT_FALSE(printed.contains("sf6 warning")) << printed.toStdString();
    EXPECT_FALSE(printed.contains("FATAL")) << printed.toStdString();
}

// An archive is never taken for empty or foreign from a query that failed:
// a role the server does not let read its catalogue is told so, and nothing
// is created; the same with every statement cut at a millisecond.
TEST(ArchiveOpeningOnServer, aFailedLookIsAFailureNeverAnEmptyOrForeignArchive)
{
    PgServer& pg = PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString location = pg.newDatabase();
    const QString database = databaseOf(location);
    int tables = 0;
    {
        auto a = Archive::open(*ArchiveLocation::parse(location));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        ASSERT_TRUE(archiveSync(**a, syncOf(sim::plausibleRecords(3))).ok());
        auto q = (*a)->run(QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public'"), {},
                           QStringLiteral("test"));
        ASSERT_TRUE(q && q->next());
        tables = q->value(0).toInt();
    }
    pg.exec(database, QStringLiteral("CREATE ROLE blind LOGIN"));
    ASSERT_TRUE(pg.exec(database, QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO blind")));
    ASSERT_TRUE(pg.exec(database, QStringLiteral("REVOKE SELECT ON pg_catalog.pg_class FROM PUBLIC")));
    {
        StandardErrorCapture captured;
        auto blind = Archive::open(*ArchiveLocation::parse(location + QStringLiteral("&user=blind")));
        const QByteArray printed = captured.text();
        ASSERT_FALSE(blind.ok()) << "a catalogue it cannot read is no proof of an empty archive";
        EXPECT_TRUE(blind.error().contains(QStringLiteral("没有这项操作的权限"))) << blind.error().toStdString();
        EXPECT_FALSE(blind.error().contains(QStringLiteral("不是本程序的存档"))) << blind.error().toStdString();
        EXPECT_FALSE(blind.error().contains(QStringLiteral("升级结构"))) << blind.error().toStdString();
        EXPECT_FALSE(printed.contains("NOTICE")) << printed.toStdString();
    }
    ASSERT_TRUE(pg.exec(database, QStringLiteral("GRANT SELECT ON pg_catalog.pg_class TO PUBLIC")));

    const QString hurried = location + QStringLiteral("&options=-c%20statement_timeout%3D1");
    for (int attempt = 0; attempt < 10; ++attempt) {
        StandardErrorCapture captured;
        auto a = Archive::open(*ArchiveLocation::parse(hurried));
        const QByteArray printed = captured.text();
        EXPECT_FALSE(printed.contains("NOTICE")) << printed.toStdString();
        if (!a.ok()) {
            EXPECT_FALSE(a.error().contains(QStringLiteral("不是本程序的存档"))) << a.error().toStdString();
            EXPECT_FALSE(a.error().contains(QStringLiteral("升级结构"))) << a.error().toStdString();
        }
    }
    auto a = Archive::open(*ArchiveLocation::parse(location));
    ASSERT_TRUE(a.ok()) << a.error().toStdString();
    auto q = (*a)->run(QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public'"), {},
                       QStringLiteral("test"));
    ASSERT_TRUE(q && q->next());
    EXPECT_EQ(q->value(0).toInt(), tables);
    auto records = (*a)->run(QStringLiteral("SELECT COUNT(*) FROM records"), {}, QStringLiteral("test"));
    ASSERT_TRUE(records && records->next());
    EXPECT_EQ(records->value(0).toInt(), 3);
}

#endif
