#include "archive/Archive.h"

#include "archive/Schema.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QThread>

#include <chrono>

namespace sf6 {

namespace {
constexpr int kBusyTimeoutMs = 15000;       // another writer's transaction is short
constexpr int kConnectTimeoutSeconds = 5;
// How long opening waits out another program that creates the archive or
// holds its file locked at that moment.
constexpr std::chrono::milliseconds kOpenPatience{kBusyTimeoutMs};
constexpr std::chrono::milliseconds kOpenRetryPause{100};
constexpr int kCreationAttempts = 5;   // a real fault in creating shows without a long wait
const QByteArray kSqliteHeader("SQLite format 3\0", 16);
const QString kTimestampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("sf6archive-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

QString Archive::reason(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    return text.isEmpty() ? QStringLiteral("未知错误") : text;
}

namespace {
QString reasonOf(const QSqlError& e) { return Archive::reason(e); }

// SQLITE_BUSY or SQLITE_LOCKED: some steps (switching the journal) answer so at
// once, without waiting the busy timeout.
bool lockedByAnother(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6);
}

// A file that is there and is not an SQLite database is someone else's: never touch it.
Status checkSqliteFile(const ArchiveLocation& loc)
{
    const QFileInfo info(loc.path);
    if (info.exists()) {
        if (!info.isFile())
            return Status::failure(QStringLiteral("无法打开存档 %1：这不是一个文件").arg(loc.display()));
        QFile f(loc.path);
        if (!f.open(QIODevice::ReadOnly))
            return Status::failure(QStringLiteral("无法打开存档 %1：%2").arg(loc.display(), f.errorString()));
        const QByteArray head = f.read(kSqliteHeader.size());
        if (!head.isEmpty() && head != kSqliteHeader)
            return Status::failure(QStringLiteral("无法打开存档 %1：文件不是存档数据库（已损坏，或是别的文件），"
                                                  "程序不会改动它").arg(loc.display()));
        return Status::success();
    }
    const QDir folder = info.absoluteDir();
    if (folder.exists())
        return Status::success();
    // Only the program's own folder is made on the user's behalf; a typed one
    // that is missing is more likely a typing error.
    const bool own = loc.path == ArchiveLocation::standard().path || loc.path == ArchiveLocation::demo().path;
    if (own && QDir().mkpath(folder.path()))
        return Status::success();
    return Status::failure(
        QStringLiteral("无法打开存档 %1：文件夹 %2 不存在").arg(loc.display(), QDir::toNativeSeparators(folder.path())));
}
} // namespace

Archive::Archive(ArchiveLocation location, QString connection)
    : location_(std::move(location)), connection_(std::move(connection))
{
}

Archive::~Archive()
{
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase Archive::database() const { return QSqlDatabase::database(connection_, false); }

Status Archive::failure(const QString& doing, const QString& reason) const
{
    return Status::failure(QStringLiteral("存档 %1 %2失败：%3").arg(location_.display(), doing, reason));
}

Expected<QSqlQuery> Archive::run(const QString& sql, std::initializer_list<QVariant> values, const QString& doing) const
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    auto failed = [&] {
        busy_ = location_.engine == ArchiveLocation::Engine::SQLite && lockedByAnother(q.lastError());
        return failure(doing, reasonOf(q.lastError()));
    };
    // A statement without values runs as it is: PostgreSQL prepares no DDL.
    if (values.size() == 0) {
        if (!q.exec(sql))
            return failed();
        return q;
    }
    if (!q.prepare(sql))
        return failed();
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        return failed();
    return q;
}

Expected<int> Archive::nextId(const QString& table) const
{
    // The table names are the program's own, never the user's.
    auto q = run(QStringLiteral("SELECT COALESCE(MAX(id), 0) + 1 FROM %1").arg(table), {}, QStringLiteral("写入"));
    if (!q)
        return q.status();
    q->next();
    return q->value(0).toInt();
}

QString Archive::timestampText(const QVariant& value)
{
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(kTimestampFormat);
    return value.toString().left(kTimestampFormat.size()).replace(u'T', u' ');
}

QString Archive::now() { return QDateTime::currentDateTime().toString(kTimestampFormat); }

Expected<std::unique_ptr<Archive>> Archive::open(const ArchiveLocation& location)
{
    if (location.off())
        return Status::failure(QStringLiteral("存档未启用"));
    const QString driver = location.engine == ArchiveLocation::Engine::SQLite ? QStringLiteral("QSQLITE")
                                                                               : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return Status::failure(QStringLiteral("无法打开存档 %1：缺少数据库驱动 %2（请安装 Qt 的 %2 驱动）")
                                   .arg(location.display(), driver));
    if (location.engine == ArchiveLocation::Engine::SQLite) {
        if (Status s = checkSqliteFile(location); !s)
            return s;
    }

    std::unique_ptr<Archive> archive(new Archive(location, nextConnectionName()));
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, archive->connection_);
    if (location.engine == ArchiveLocation::Engine::SQLite) {
        db.setDatabaseName(location.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    } else {
        db.setHostName(location.host);
        if (location.port > 0)
            db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds));
    }
    if (!db.open())
        return Status::failure(QStringLiteral("无法打开存档 %1：%2").arg(location.display(), reasonOf(db.lastError())));
    // Two programs opening a new archive at once: the one that loses finds
    // the other's schema on a later look.
    const auto giveUp = std::chrono::steady_clock::now() + kOpenPatience;
    Status prepared = archive->prepareSchema();
    for (int creations = 1; !prepared; ) {
        const bool again = archive->busy_ ? std::chrono::steady_clock::now() < giveUp
                                          : archive->creating_ && creations++ < kCreationAttempts;
        if (!again)
            break;
        QThread::msleep(kOpenRetryPause.count());
        prepared = archive->prepareSchema();
    }
    if (!prepared && archive->busy_)
        return Status::failure(
            QStringLiteral("无法打开存档 %1：另一个程序一直占用着它，请稍后再试").arg(location.display()));
    if (!prepared)
        return prepared;
    return archive;
}

Status Archive::prepareSchema()
{
    QSqlDatabase db = database();
    busy_ = false;
    const bool sqlite = location_.engine == ArchiveLocation::Engine::SQLite;
    if (sqlite) {
        // Readers (the history window) never hold up a writer; every commit reaches the disk.
        for (const char* pragma : {"PRAGMA foreign_keys = ON", "PRAGMA synchronous = FULL"})
            if (auto q = run(QString::fromLatin1(pragma), {}, QStringLiteral("打开")); !q)
                return q.status();
        // A corrupt file shows here, at the first page read.
        auto wal = run(QStringLiteral("PRAGMA journal_mode = WAL"), {}, QStringLiteral("打开"));
        if (!wal && busy_)
            return wal.status();
        if (!wal)
            return Status::failure(QStringLiteral("无法打开存档 %1：文件不是存档数据库或已损坏（%2）")
                                       .arg(location_.display(), wal.error()));
    }

    const QStringList tables = db.tables(QSql::Tables);
    auto has = [&](const QString& t) { return tables.contains(t, Qt::CaseInsensitive); };
    if (has(QStringLiteral("schema_version"))) {
        auto q = run(QStringLiteral("SELECT MAX(version) FROM schema_version"), {}, QStringLiteral("读取结构版本"));
        if (!q)
            return q.status();
        bool ok = false;
        version_ = q->next() ? q->value(0).toInt(&ok) : 0;
        if (!ok)
            return Status::failure(QStringLiteral("无法打开存档 %1：结构版本无法读取，存档可能已损坏").arg(location_.display()));
    } else if (!tables.isEmpty()) {
        return Status::failure(
            QStringLiteral("无法打开存档 %1：数据库中已有别的表，不是本程序的存档，程序不会改动它").arg(location_.display()));
    }

    if (version_ > schema::kCurrentVersion) {
        readOnlyReason_ = QStringLiteral("存档 %1 由较新版本的程序写入（结构版本 %2，本程序为 %3），只能查看，不会被修改。")
                              .arg(location_.display())
                              .arg(version_)
                              .arg(schema::kCurrentVersion);
        // The engine itself refuses writes from here on.
        const QString readOnly = sqlite ? QStringLiteral("PRAGMA query_only = ON")
                                        : QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
        if (auto q = run(readOnly, {}, QStringLiteral("打开")); !q)
            return q.status();
        return Status::success();
    }
    if (version_ == schema::kCurrentVersion)
        return Status::success();

    // Create or upgrade in one transaction: a failure leaves the archive as it was.
    creating_ = true;
    if (!db.transaction())
        return failure(QStringLiteral("升级结构"), reasonOf(db.lastError()));
    for (const schema::Step& step : schema::steps()) {
        if (step.version <= version_)
            continue;
        for (const QString& sql : step.statements) {
            if (auto q = run(sql, {}, QStringLiteral("升级结构")); !q) {
                db.rollback();
                return q.status();
            }
        }
        if (step.fill) {
            if (const Status s = step.fill(*this); !s) {
                db.rollback();
                return s;
            }
        }
    }
    const bool fresh = version_ == 0;
    auto mark = fresh ? run(QStringLiteral("INSERT INTO schema_version (version) SELECT ? "
                                           "WHERE NOT EXISTS (SELECT 1 FROM schema_version)"),
                            {schema::kCurrentVersion}, QStringLiteral("升级结构"))
                      : run(QStringLiteral("UPDATE schema_version SET version = ?"), {schema::kCurrentVersion},
                            QStringLiteral("升级结构"));
    if (!mark) {
        db.rollback();
        return mark.status();
    }
    if (!db.commit()) {
        const QString why = reasonOf(db.lastError());
        db.rollback();
        return failure(QStringLiteral("升级结构"), why);
    }
    version_ = schema::kCurrentVersion;
    creating_ = false;
    return Status::success();
}

Archive::Write::Write(Archive& archive) : archive_(archive)
{
    if (archive.readOnly()) {
        begun_ = Status::failure(archive.readOnlyReason());
        return;
    }
    QSqlDatabase db = archive.database();
    if (!db.transaction()) {
        begun_ = archive.failure(QStringLiteral("写入"), reasonOf(db.lastError()));
        return;
    }
    open_ = true;
    // A write as the first statement: the engine makes a second writer wait here
    // rather than fail halfway through.
    if (auto q = archive.run(QStringLiteral("UPDATE archive_lock SET counter = counter + 1 WHERE id = 1"), {},
                             QStringLiteral("写入"));
        !q)
        begun_ = q.status();
}

Archive::Write::~Write()
{
    if (open_)
        archive_.database().rollback();
}

Status Archive::Write::commit()
{
    if (!begun_)
        return begun_;
    QSqlDatabase db = archive_.database();
    open_ = false;
    if (!db.commit()) {
        const QString why = reasonOf(db.lastError());
        db.rollback();
        return archive_.failure(QStringLiteral("写入"), why);
    }
    return Status::success();
}

} // namespace sf6
