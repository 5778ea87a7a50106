#include "archive/Archive.h"

#include "base/Clock.h"
#include "archive/Schema.h"
#include "base/Platform.h"
#include "base/SafeSave.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <map>
#include <optional>

namespace sf6 {

namespace {
// How long a write waits for another program's write to end (SQLite's busy
// wait, PostgreSQL's lock_timeout): another writer's transaction is short,
// and one left open (a session idle inside it) must not block every writer.
constexpr std::chrono::milliseconds kLockWait{15000};
constexpr int kConnectTimeoutSeconds = 5;
// How long opening waits out another program that creates the archive or
// holds its file locked at that moment.
constexpr std::chrono::milliseconds kOpenPatience{kLockWait};
constexpr std::chrono::milliseconds kOpenRetryPause{100};
constexpr int kCreationAttempts = 5;   // a real fault in creating shows without a long wait
const QString kTimestampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The tables the driver's own list gives (Qt's QPSQL): every schema's plain
// tables but the system's, those outside "public" named with their schema.
constexpr char kPostgresTables[] =
    "SELECT CASE WHEN n.nspname IS NULL OR n.nspname = 'public' THEN c.relname"
    " ELSE n.nspname || '.' || c.relname END"
    " FROM pg_class c LEFT JOIN pg_namespace n ON c.relnamespace = n.oid"
    " WHERE c.relkind = 'r' AND c.relname !~ '^Inv' AND c.relname !~ '^pg_'"
    " AND n.nspname != 'information_schema'";

Q_LOGGING_CATEGORY(lcArchive, "sf6.archive", QtWarningMsg)

// libpq writes the server's notices, and the FATAL line of a session the
// server ends, to standard error by itself. They go to the program's log
// instead, off unless support turns it on (QT_LOGGING_RULES=sf6.archive.info=true):
// what matters of them reaches the user as the failure of the statement.
void logNotice(void*, const char* message)
{
    qCInfo(lcArchive, "%s", message);
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("sf6archive-%1").arg(counter.fetchAndAddRelaxed(1));
}

// What an engine's failure means for the user. A row matches by PostgreSQL's
// SQLSTATE, by SQLite's primary result code, or by the engine's words.
struct Meaning {
    const char* sqlState;
    int sqliteCode;
    const char* words;
    const char* sentence;
    ErrorCode code = ErrorCode::ArchiveUnavailable;
};
constexpr int kNoCode = -1;
constexpr char kDiskFull[] = "磁盘已满，无法写入";
constexpr char kInputOutput[] = "读写存档文件时出错（磁盘或网络驱动器的故障）";
const Meaning kMeanings[] = {
    {"42501", kNoCode, "permission denied", "数据库账户没有这项操作的权限（只能读取的账户不能写入存档）", ErrorCode::ArchiveReadOnly},
    {"25006", 8, "readonly database", "存档是只读的，不能写入", ErrorCode::ArchiveReadOnly},
    {"28P01", kNoCode, "password authentication failed", "数据库用户名或密码不对"},
    {"28000", kNoCode, "no pg_hba.conf entry", "数据库服务器不允许这个账户从这台电脑登录"},
    {"3D000", kNoCode, nullptr, "数据库服务器上没有这个数据库"},
    {"57P01", kNoCode, "terminating connection", "数据库服务器断开了连接（服务器可能已重启或停止）"},
    {nullptr, kNoCode, "server closed the connection", "数据库服务器断开了连接（服务器可能已重启或停止）"},
    {nullptr, kNoCode, "no connection to the server", "与数据库服务器的连接已断开"},
    {nullptr, kNoCode, "server does not support SSL", "数据库服务器不支持加密连接，而数据库地址要求加密（sslmode）"},
    // The server's certificate: libpq refuses it before sending anything.
    {nullptr, kNoCode, "certificate verify failed",
     "数据库服务器的证书未通过验证（不是 sslrootcert 所给的证书机构签发的，或已过期），可能不是实验室的服务器，程序没有连接"},
    {nullptr, kNoCode, "does not match host name",
     "数据库服务器的证书不是签发给地址中这个主机名的（地址须用证书上的名称），程序没有连接"},
    {nullptr, kNoCode, "root certificate file", "找不到或无法读取 sslrootcert 所给的证书机构文件"},
    // A libpq built without OpenSSL (both builds ship one with it).
    {nullptr, kNoCode, "SSL support is not compiled in", "所用的 PostgreSQL 客户端库不支持加密连接（TLS），而设置要求加密（sslmode 或环境变量 PGSSLMODE）"},
    {nullptr, kNoCode, "invalid sslmode value", "数据库地址中的 sslmode 值无效"},
    {nullptr, kNoCode, "timeout expired", "连接数据库服务器超时"},
    {nullptr, kNoCode, "could not translate host name", "找不到数据库服务器（主机名无法解析）"},
    {"42P01", kNoCode, nullptr, "存档中缺少应有的表（存档不完整）"},
    {nullptr, kNoCode, "does not exist", "数据库服务器上没有这个数据库或账户"},
    {nullptr, kNoCode, "connection to server", "无法连接数据库服务器（地址或端口不对，或服务器没有运行）"},
    {nullptr, kNoCode, "could not connect to server", "无法连接数据库服务器（地址或端口不对，或服务器没有运行）"},
    // Also by the words: Qt's driver drops SQLite's code when COMMIT fails.
    {"53100", 13, "database or disk is full", kDiskFull, ErrorCode::ArchiveUnavailable},
    // PostgreSQL gave up waiting for the writers' lock (lock_timeout).
    {"55P03", kNoCode, "lock timeout", "存档正被另一个程序占用", ErrorCode::ArchiveLocked},
    // SQLite refuses a LIKE pattern longer than SQLITE_MAX_LIKE_PATTERN_LENGTH.
    {nullptr, kNoCode, "LIKE or GLOB pattern too complex", "搜索文字太长（最多 50000 字节，约 16000 个汉字），请缩短后再查"},
    {nullptr, 11, nullptr, "存档文件已损坏", ErrorCode::ArchiveDamaged},
    {nullptr, 26, nullptr, "文件不是存档数据库（已损坏，或是别的文件）", ErrorCode::ArchiveDamaged},
    {nullptr, 10, "disk I/O error", kInputOutput},
    {nullptr, 14, nullptr, "无法打开存档文件（文件夹不存在，或没有权限）"},
    {nullptr, 5, nullptr, "存档正被另一个程序占用", ErrorCode::ArchiveLocked},
    {nullptr, 6, nullptr, "存档正被另一个程序占用", ErrorCode::ArchiveLocked},
};

const Meaning* meaningOf(const QSqlError& e, const QString& text)
{
    const QString code = e.nativeErrorCode();
    bool numeric = false;
    const int sqliteCode = code.toInt(&numeric) & 0xff;
    // A SQLSTATE has five characters; SQLite's codes are shorter numbers.
    const bool sqlState = code.size() == 5;
    for (const Meaning& m : kMeanings) {
        if ((sqlState && m.sqlState && code == QLatin1String(m.sqlState))
            || (!sqlState && numeric && m.sqliteCode != kNoCode && sqliteCode == m.sqliteCode)
            || (m.words && text.contains(QLatin1String(m.words), Qt::CaseInsensitive)))
            return &m;
    }
    return nullptr;
}

QString engineText(const QSqlError& e)
{
    const QString text = e.databaseText().trimmed();
    return text.isEmpty() ? e.driverText().trimmed() : text;
}

} // namespace

QString Archive::reason(const QSqlError& e)
{
    const QString text = engineText(e);
    if (text.isEmpty())
        return QStringLiteral("未知错误");
    // Our own triggers' refusal is already the user's sentence.
    for (const QString& own : {schema::kRowsKeptAsTheyAre, schema::kNewestVersionOnly, schema::kForwardOnly, schema::kTrailCut,
                               schema::kServerGivesTime})
        if (text.contains(own))
            return own;
    const Meaning* m = meaningOf(e, text);
    return QStringLiteral("%1（%2）").arg(m ? QString::fromUtf8(m->sentence) : QStringLiteral("数据库报告了错误"),
                                       text.simplified());
}

ErrorCode Archive::code(const QSqlError& e)
{
    const QString text = engineText(e);
    for (const QString& own : {schema::kRowsKeptAsTheyAre, schema::kNewestVersionOnly, schema::kForwardOnly, schema::kTrailCut,
                               schema::kServerGivesTime})
        if (text.contains(own))
            return ErrorCode::Refused;
    const Meaning* m = meaningOf(e, text);
    return m ? m->code : ErrorCode::ArchiveUnavailable;
}

namespace {
QString reasonOf(const QSqlError& e) { return Archive::reason(e); }

// SQLite says "disk I/O error" when the file or its shared-memory file
// cannot grow: on a full disk that is what it means.
QString onDisk(const ArchiveLocation& loc, const QString& reason)
{
    const QString io = QString::fromUtf8(kInputOutput);
    if (loc.engine != ArchiveLocation::Engine::SQLite || !reason.startsWith(io)
        || !diskNearlyFull(QFileInfo(loc.path).absolutePath()))
        return reason;
    return QString::fromUtf8(kDiskFull) + reason.mid(io.size());
}

QString cannotOpen(const ArchiveLocation& loc, const QSqlError& e)
{
    return QStringLiteral("无法打开存档 %1：%2").arg(loc.display(), onDisk(loc, reasonOf(e)));
}

// SQLITE_BUSY or SQLITE_LOCKED: some steps (switching the journal) answer so at
// once, without waiting the busy timeout.
bool lockedByAnother(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6);
}

bool notADatabase(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 11 || code == 26);
}

// Ours, from reads alone: our application id; or, in archives made before
// the id, exactly the tables of the version they say they are. A newer
// program's archive has at least the tables this one knows.
enum class Ownership { Empty, Ours, Foreign };
Ownership ownership(QStringList tables, std::optional<int> version, qint64 applicationId)
{
    if (applicationId == schema::kApplicationId)
        return Ownership::Ours;
    if (applicationId != 0)
        return Ownership::Foreign;
    if (tables.isEmpty())
        return Ownership::Empty;
    if (!version || *version < 1)
        return Ownership::Foreign;
    for (QString& t : tables)
        t = t.toLower();
    tables.sort();
    if (*version <= schema::kCurrentVersion)
        return tables == schema::tablesOf(*version) ? Ownership::Ours : Ownership::Foreign;
    for (const QString& t : schema::tablesOf(schema::kCurrentVersion))
        if (!tables.contains(t))
            return Ownership::Foreign;
    return Ownership::Ours;
}

QString notOurs(const ArchiveLocation& loc)
{
    return QStringLiteral("无法打开存档 %1：数据库中已有别的表，不是本程序的存档，程序不会改动它").arg(loc.display());
}

// A missing folder: only the program's own is made on the user's behalf; a
// typed one that is missing is more likely a typing error. The file itself is
// never opened here: a second descriptor on a database drops the process's locks.
Status checkSqliteFolder(const ArchiveLocation& loc)
{
    const QFileInfo info(loc.path);
    if (info.exists()) {
        if (!info.isFile())
            return Status::failure(ErrorCode::ArchiveUnavailable,
                                   QStringLiteral("无法打开存档 %1：这不是一个文件").arg(loc.display()));
        return Status::success();
    }
    const QDir folder = info.absoluteDir();
    if (folder.exists())
        return Status::success();
    const bool own = loc.path == ArchiveLocation::standard().path || loc.path == ArchiveLocation::demo().path;
    if (own && QDir().mkpath(folder.path()))
        return Status::success();
    return Status::failure(
        ErrorCode::ArchiveUnavailable,
        QStringLiteral("无法打开存档 %1：文件夹 %2 不存在").arg(loc.display(), QDir::toNativeSeparators(folder.path())));
}

// A file nobody may write: marked read-only (honoured even for an
// administrator), on a read-only file system, or in a folder where the
// journal cannot be made.
bool readOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    // The mode's bits, not access(): an administrator may write anything.
    const auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !info.isWritable() || !(info.permissions() & anyWrite) || !QFileInfo(info.absolutePath()).isWritable();
}

// Where nothing can be written beside the file, nobody can change it, and
// SQLite may read a WAL-mode file without making its shared-memory file.
void setSqliteFile(QSqlDatabase& db, const QString& path, bool readOnly)
{
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kLockWait.count());
    if (readOnly && !QFileInfo(QFileInfo(path).absolutePath()).isWritable()) {
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    } else {
        db.setDatabaseName(path);
    }
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
}

// Whether an SQLite file is whole, from reads: SQLite's own quick check, and
// a length of whole pages (a file cut short can still pass the check when
// what was lost lay in an index's keys).
// The quick check reads every page, a cost out of all proportion to a write
// on a large archive: a file found whole is marked so beside it
// (archive.sqlite-checked), with its state (platform::fileState), and the
// check is skipped while the file is in that state. A program that changes
// the file other than through SQLite changes its state.
enum class Check { None, Length, Full };

QString wholeMarkPath(const ArchiveLocation& loc) { return loc.path + QStringLiteral("-checked"); }
constexpr char kWholeMark[] = "sf6companion: found whole in this state\n";

bool markedWhole(const ArchiveLocation& loc, const QString& state)
{
    if (state.isEmpty())
        return false;
    QFile mark(wholeMarkPath(loc));
    return mark.open(QIODevice::ReadOnly) && mark.readAll() == QByteArray(kWholeMark) + state.toUtf8();
}

void markWhole(const ArchiveLocation& loc, const QString& state)
{
    if (!state.isEmpty())
        (void)saveFile(wholeMarkPath(loc), QByteArray(kWholeMark) + state.toUtf8());   // without it the next check runs
}

Status checkWhole(const QSqlDatabase& db, const ArchiveLocation& loc, Check check = Check::Full)
{
    auto damaged = [&](const QString& why) {
        return Status::failure(ErrorCode::ArchiveDamaged,
                               QStringLiteral("无法打开存档 %1：存档文件已损坏（%2），程序不会写入它，请用备份替换它")
                                   .arg(loc.display(), why));
    };
    // A file that cannot be read now (a full disk, another program's lock)
    // is not thereby damaged.
    auto unread = [&](const QSqlError& e) {
        return notADatabase(e) ? damaged(reasonOf(e)) : Status::failure(Archive::code(e), cannotOpen(loc, e));
    };
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA page_size")) || !q.next())
        return unread(q.lastError());
    const qint64 pageSize = q.value(0).toLongLong();
    if (pageSize <= 0 || QFileInfo(loc.path).size() % pageSize != 0)
        return damaged(QStringLiteral("文件长度不是整页，可能被截断"));
    if (check != Check::Full)
        return Status::success();
    if (!q.exec(QStringLiteral("PRAGMA quick_check")))
        return unread(q.lastError());
    QStringList problems;
    while (q.next())
        problems << q.value(0).toString();
    if (problems != QStringList{QStringLiteral("ok")})
        return damaged(QStringLiteral("完整性检查：") + problems.mid(0, 3).join(QStringLiteral("；")));
    return Status::success();
}

// Reads only, through SQLite on a read-only connection: whether the file is
// ours, and when it is to be written, whether it is whole. Nothing is written,
// not even the journal mode.
Status lookAtSqliteFile(const ArchiveLocation& loc, Check integrity)
{
    const QFileInfo info(loc.path);
    if (!info.exists() || info.size() == 0)
        return Status::success();
    const QString name = nextConnectionName() + QStringLiteral("-look");
    Status result = Status::success();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        setSqliteFile(db, loc.path, true);
        result = [&]() -> Status {
            if (!db.open())
                return Status::failure(Archive::code(db.lastError()), cannotOpen(loc, db.lastError()));
            QSqlQuery q(db);
            auto failed = [&] {
                if (notADatabase(q.lastError()))
                    return Status::failure(ErrorCode::ArchiveDamaged, QStringLiteral("无法打开存档 %1：文件不是存档数据库（已损坏，或是别的文件），"
                                                          "程序不会改动它").arg(loc.display()));
                if (lockedByAnother(q.lastError()))
                    return Status::failure(
                        ErrorCode::ArchiveLocked,
                        QStringLiteral("无法打开存档 %1：另一个程序一直占用着它，请稍后再试").arg(loc.display()));
                return Status::failure(Archive::code(q.lastError()), cannotOpen(loc, q.lastError()));
            };
            if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
                return failed();
            const qint64 applicationId = q.value(0).toLongLong();
            if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'")))
                return failed();
            QStringList tables;
            while (q.next())
                tables << q.value(0).toString();
            std::optional<int> version;
            if (tables.contains(QStringLiteral("schema_version"), Qt::CaseInsensitive)) {
                if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")))
                    return failed();
                bool ok = false;
                const int v = q.next() ? q.value(0).toInt(&ok) : 0;
                if (ok)
                    version = v;
            }
            if (ownership(tables, version, applicationId) == Ownership::Foreign)
                return Status::failure(ErrorCode::ArchiveForeign, notOurs(loc));
            if (integrity == Check::None)
                return Status::success();
            return checkWhole(db, loc, integrity);
        }();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}
} // namespace

Archive::Archive(ArchiveLocation location, QString connection)
    : location_(std::move(location)), connection_(std::move(connection))
{
}

Archive::~Archive()
{
    // Left as this program last wrote it: the next program to write need not
    // check it again. Closing may fold the write-ahead log into the file.
    const bool whole = !knownState_.isEmpty() && platform::fileState(location_.path) == knownState_;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
    if (whole)
        markWhole(location_, platform::fileState(location_.path));
}

QSqlDatabase Archive::database() const { return QSqlDatabase::database(connection_, false); }

Status Archive::failure(const QString& doing, const QString& reason, ErrorCode code) const
{
    return Status::failure(code, QStringLiteral("存档 %1 %2失败：%3").arg(location_.display(), doing, onDisk(location_, reason)));
}

Status Archive::failure(const QString& doing, const QSqlError& e) const { return failure(doing, reason(e), code(e)); }

Expected<QSqlQuery> Archive::run(const QString& sql, std::initializer_list<QVariant> values, const QString& doing) const
{
    return runList(sql, QVariantList(values), doing);
}

Expected<QSqlQuery> Archive::runList(const QString& sql, const QVariantList& values, const QString& doing) const
{
    auto attempt = [&](QSqlQuery& q) {
        q.setForwardOnly(true);
        // A statement without values runs as it is: PostgreSQL prepares no DDL.
        if (values.size() == 0)
            return q.exec(sql);
        if (!q.prepare(sql))
            return false;
        for (const QVariant& v : values)
            q.addBindValue(v);
        return q.exec();
    };
    QSqlQuery q(database());
    if (attempt(q))
        return q;
    QString lost;
    if (reconnect(&lost) == Reconnect::Done) {
        QSqlQuery again(database());
        if (attempt(again))
            return again;
        q = std::move(again);
    } else if (!lost.isEmpty()) {
        return Status::failure(ErrorCode::ArchiveUnavailable, lost);
    }
    busy_ = location_.engine == ArchiveLocation::Engine::SQLite && lockedByAnother(q.lastError());
    return failure(doing, q.lastError());
}

Archive::Reconnect Archive::reconnect(QString* why) const
{
    if (location_.engine != ArchiveLocation::Engine::PostgreSQL || writing_ > 0)
        return Reconnect::NotLost;
    QSqlDatabase db = database();
    if (QSqlQuery(db).exec(QStringLiteral("SELECT 1")))
        return Reconnect::NotLost;   // the statement failed, not the connection
    db.close();
    if (!db.open()) {
        *why = QStringLiteral("存档 %1 的数据库连接断开了，重新连接也失败：%2").arg(location_.display(), reasonOf(db.lastError()));
        return Reconnect::Failed;
    }
    if (const QString failed = prepareSession(); !failed.isEmpty()) {
        *why = QStringLiteral("存档 %1 的数据库连接断开了，重新连接也失败：%2").arg(location_.display(), failed);
        return Reconnect::Failed;
    }
    // The new session gets the old one's settings.
    if (version_ > schema::kCurrentVersion)
        QSqlQuery(db).exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
    return Reconnect::Done;
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

QString Archive::now() { return Clock::now().toString(kTimestampFormat); }

void Archive::loadDriver(const ArchiveLocation& location)
{
    if (location.off())
        return;
    const QString name = QStringLiteral("sf6archive-driver");
    // Qt keeps a driver's library loaded once made; the connection itself is not needed.
    QSqlDatabase::addDatabase(location.engine == ArchiveLocation::Engine::SQLite ? QStringLiteral("QSQLITE")
                                                                                 : QStringLiteral("QPSQL"),
                              name);
    QSqlDatabase::removeDatabase(name);
}

Expected<std::shared_ptr<Archive>> Archive::open(const ArchiveLocation& location, Access access)
{
    if (location.off())
        return Status::failure(ErrorCode::ArchiveUnavailable, QStringLiteral("存档未启用"));
    const QString driver = location.engine == ArchiveLocation::Engine::SQLite ? QStringLiteral("QSQLITE")
                                                                               : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return Status::failure(ErrorCode::ArchiveUnavailable, QStringLiteral("无法打开存档 %1：缺少数据库驱动 %2（请安装 Qt 的 %2 驱动）")
                                   .arg(location.display(), driver));
    // A connection serves the thread that made it; within a thread, one per archive.
    static QMutex mutex;
    static std::map<std::pair<Qt::HANDLE, QString>, std::weak_ptr<Archive>> opened;
    const QMutexLocker lock(&mutex);
    std::erase_if(opened, [](const auto& entry) { return entry.second.expired(); });
    const auto key = std::make_pair(QThread::currentThreadId(), location.identity());
    const auto found = opened.find(key);
    if (std::shared_ptr<Archive> shared = found != opened.end() ? found->second.lock() : nullptr) {
        if (access == Access::Write) {
            if (Status s = shared->checkWritable(); !s)
                return s;
        }
        return shared;
    }
    auto made = connect(location, access);
    if (made)
        opened[key] = *made;
    return made;
}

Expected<std::shared_ptr<Archive>> Archive::connect(const ArchiveLocation& location, Access access)
{
    std::shared_ptr<Archive> archive(new Archive(location, nextConnectionName()));
    if (location.engine == ArchiveLocation::Engine::SQLite) {
        if (Status s = checkSqliteFolder(location); !s)
            return s;
        archive->readOnlyFile_ = readOnlyFile(location.path);
        const bool check = access == Access::Write && !archive->readOnlyFile_;
        const QString state = check ? platform::fileState(location.path) : QString();
        const bool marked = markedWhole(location, state);
        if (Status s = lookAtSqliteFile(location, !check ? Check::None : marked ? Check::Length : Check::Full); !s)
            return s;
        if (check && !marked)
            markWhole(location, state);
        archive->checked_ = check;
    }
    if (Status s = archive->openConnection(); !s)
        return s;
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
            ErrorCode::ArchiveLocked,
            QStringLiteral("无法打开存档 %1：另一个程序一直占用着它，请稍后再试").arg(location.display()));
    if (!prepared)
        return prepared;
    if (archive->checked_)
        archive->knownState_ = platform::fileState(location.path);
    return archive;
}

Expected<std::shared_ptr<Archive>> Archive::openBare(const ArchiveLocation& location)
{
    const QString driver = location.engine == ArchiveLocation::Engine::SQLite ? QStringLiteral("QSQLITE")
                                                                               : QStringLiteral("QPSQL");
    if (location.off() || !QSqlDatabase::isDriverAvailable(driver))
        return Status::failure(ErrorCode::ArchiveUnavailable, QStringLiteral("无法打开存档 %1：缺少数据库驱动 %2（请安装 Qt 的 %2 驱动）")
                                   .arg(location.display(), driver));
    std::shared_ptr<Archive> archive(new Archive(location, nextConnectionName()));
    if (Status s = archive->openConnection(); !s)
        return s;
    return archive;
}

Archive::Transaction::Transaction(const Archive& archive, bool readOnly) : archive_(archive)
{
    QSqlDatabase db = archive.database();
    if (!db.transaction()) {
        begun_ = archive.failure(QStringLiteral("开始事务"), db.lastError());
        return;
    }
    open_ = true;
    ++archive.writing_;
    if (readOnly && archive.location().engine == ArchiveLocation::Engine::PostgreSQL)
        if (auto q = archive.run(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"), {},
                                 QStringLiteral("开始事务"));
            !q)
            begun_ = q.status();
}

void Archive::rollbackOwn() const
{
    database().rollback();
    --writing_;
}

Status Archive::commitOwn() const
{
    QSqlDatabase db = database();
    --writing_;
    if (!db.commit()) {
        const QSqlError why = db.lastError();
        db.rollback();
        return failure(QStringLiteral("写入"), why);
    }
    return Status::success();
}

Archive::Transaction::~Transaction()
{
    if (open_)
        archive_.rollbackOwn();
}

Status Archive::Transaction::commit()
{
    if (!begun_)
        return begun_;
    open_ = false;
    return archive_.commitOwn();
}

Status Archive::openConnection()
{
    const ArchiveLocation& location = location_;
    const bool sqlite = location.engine == ArchiveLocation::Engine::SQLite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), connection_);
    if (sqlite) {
        setSqliteFile(db, location.path, readOnlyFile_);
    } else {
        db.setHostName(location.host);
        if (location.port > 0)
            db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        // Every parameter of the URL, quoted as libpq's conninfo wants it.
        auto quoted = [](QString v) {
            return u'\'' + v.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'")) + u'\'';
        };
        QStringList options;
        bool timeoutGiven = false;
        for (const auto& [name, value] : location.parameters) {
            options << name + u'=' + quoted(value);
            timeoutGiven = timeoutGiven || name == QLatin1String("connect_timeout");
        }
        if (!timeoutGiven)
            options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds);
        db.setConnectOptions(options.join(u';'));
    }
    if (!db.open())
        return Status::failure(Archive::code(db.lastError()), cannotOpen(location, db.lastError()));
    if (!sqlite) {
        if (const QString why = prepareSession(); !why.isEmpty())
            return Status::failure(ErrorCode::ArchiveUnavailable, QStringLiteral("无法打开存档 %1：%2").arg(location.display(), why));
    }
    return Status::success();
}

QString Archive::prepareSession() const
{
    QSqlDatabase db = database();
    using NoticeProcessor = void (*)(void*, const char*);
    using SetNoticeProcessor = NoticeProcessor (*)(void*, NoticeProcessor, void*);
    static const auto setNoticeProcessor =
        reinterpret_cast<SetNoticeProcessor>(platform::postgresClientFunction("PQsetNoticeProcessor"));
    // libpq's PGconn is a typedef of struct pg_conn; the name depends on how Qt registered it.
    const QVariant handle = db.driver()->handle();
    const bool connection = handle.isValid()
                            && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0);
    if (setNoticeProcessor && connection)
        if (void* pgconn = *static_cast<void* const*>(handle.constData()))
            setNoticeProcessor(pgconn, &logNotice, nullptr);
    // A session left idle inside a write holds the writers' lock: wait for
    // it as long as SQLite waits for a busy file, then say so. A wait the
    // session already has (the location's options, the server's settings) stands.
    // Not through run(): a failure here must not reconnect into itself.
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("SELECT CASE WHEN current_setting('lock_timeout') = '0' "
                                  "THEN set_config('lock_timeout', ?, false) END")))
        return reasonOf(q.lastError());
    q.addBindValue(QStringLiteral("%1ms").arg(kLockWait.count()));
    if (!q.exec())
        return reasonOf(q.lastError());
    return {};
}

Status Archive::checkWritable()
{
    if (location_.engine != ArchiveLocation::Engine::SQLite || checked_ || readOnly())
        return Status::success();
    const QString state = platform::fileState(location_.path);
    const bool marked = markedWhole(location_, state);
    if (Status s = checkWhole(database(), location_, marked ? Check::Length : Check::Full); !s)
        return s;
    if (!marked)
        markWhole(location_, state);
    checked_ = true;
    knownState_ = state;
    return Status::success();
}

Status Archive::checkFile() const
{
    if (location_.engine != ArchiveLocation::Engine::SQLite)
        return Status::success();
    return checkWhole(database(), location_, Check::Full);
}

void Archive::followOwnWrite(bool committed) const
{
    if (knownState_.isEmpty())
        return;
    const QString state = platform::fileState(location_.path);
    // Before a write: changed by someone else since, it is no longer known
    // whole from here. After one: the change is ours.
    if (committed)
        knownState_ = state;
    else if (state != knownState_)
        knownState_.clear();
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
    }

    // Listed by a query of our own: the driver's list is empty when its query
    // fails, and an archive must never be taken for empty or foreign from that.
    auto listed = run(sqlite ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                              "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'")
                             : QString::fromLatin1(kPostgresTables),
                      {}, QStringLiteral("打开"));
    if (!listed)
        return listed.status();
    QStringList tables;
    while (listed->next())
        tables << listed->value(0).toString();
    auto has = [&](const QString& t) { return tables.contains(t, Qt::CaseInsensitive); };
    std::optional<int> version;
    if (has(QStringLiteral("schema_version"))) {
        auto q = run(QStringLiteral("SELECT MAX(version) FROM schema_version"), {}, QStringLiteral("读取结构版本"));
        if (!q)
            return q.status();
        bool ok = false;
        version_ = q->next() ? q->value(0).toInt(&ok) : 0;
        if (!ok)
            return Status::failure(ErrorCode::ArchiveDamaged,
                                   QStringLiteral("无法打开存档 %1：结构版本无法读取，存档可能已损坏").arg(location_.display()));
        version = version_;
    }
    qint64 applicationId = 0;
    if (sqlite) {
        auto q = run(QStringLiteral("PRAGMA application_id"), {}, QStringLiteral("打开"));
        if (!q)
            return q.status();
        applicationId = q->next() ? q->value(0).toLongLong() : 0;
    }
    if (ownership(tables, version, applicationId) == Ownership::Foreign)
        return Status::failure(ErrorCode::ArchiveForeign, notOurs(location_));

    if (readOnlyFile_) {
        readOnlyReason_ = QStringLiteral("存档是只读的：%1 不允许写入（文件或它所在的文件夹是只读的），只能查看，不会被修改。")
                              .arg(location_.display());
        if (version_ == 0)
            return Status::failure(ErrorCode::ArchiveReadOnly,
                                   QStringLiteral("无法打开存档 %1：存档是只读的，无法在其中建立存档").arg(location_.display()));
        return Status::success();
    }
    if (sqlite) {
        // A corrupt file shows here, at the first page read.
        auto wal = run(QStringLiteral("PRAGMA journal_mode = WAL"), {}, QStringLiteral("打开"));
        if (!wal && busy_)
            return wal.status();
        if (!wal)
            return Status::failure(ErrorCode::ArchiveDamaged, QStringLiteral("无法打开存档 %1：文件不是存档数据库或已损坏（%2）")
                                       .arg(location_.display(), wal.error()));
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
    if (version_ == schema::kCurrentVersion) {
        if (!sqlite) {
            // A role that may only read: every write would fail at the writers' lock.
            auto q = run(QStringLiteral("SELECT has_table_privilege('archive_lock', 'UPDATE') "
                                        "AND current_setting('transaction_read_only') = 'off'"),
                         {}, QStringLiteral("打开"));
            if (!q)
                return q.status();
            if (q->next() && !q->value(0).toBool())
                readOnlyReason_ = QStringLiteral("存档是只读的：数据库账户在 %1 中只能读取，不能写入，只能查看。")
                                      .arg(location_.display());
        }
        return Status::success();
    }

    // Create or upgrade in one transaction: a failure leaves the archive as it was.
    creating_ = true;
    if (!db.transaction())
        return failure(QStringLiteral("升级结构"), db.lastError());
    // Inside the transaction a lost connection is a failure, never a new connection.
    struct Writing {
        int& depth;
        explicit Writing(int& d) : depth(d) { ++depth; }
        ~Writing() { --depth; }
    } writing(writing_);
    for (const schema::Step& step : schema::steps()) {
        if (step.version <= version_)
            continue;
        for (const QString& sql : step.statements) {
            if (auto q = run(sql, {}, QStringLiteral("升级结构")); !q) {
                db.rollback();
                return q.status();
            }
        }
        if (step.reshape) {
            if (const Status s = step.reshape(*this); !s) {
                db.rollback();
                return s;
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
    // From now on the file says whose it is.
    if (mark && sqlite)
        mark = run(QStringLiteral("PRAGMA application_id = %1").arg(schema::kApplicationId), {},
                   QStringLiteral("升级结构"));
    if (!mark) {
        db.rollback();
        return mark.status();
    }
    if (!db.commit()) {
        const QSqlError why = db.lastError();
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
        begun_ = Status::failure(ErrorCode::ArchiveReadOnly, archive.readOnlyReason());
        return;
    }
    // However the archive was opened, nothing is written into a damaged file.
    if (Status whole = archive.checkWritable(); !whole) {
        begun_ = whole;
        return;
    }
    archive.followOwnWrite(false);
    QSqlDatabase db = archive.database();
    bool began = db.transaction();
    if (!began) {
        // A connection lost since the last use is made again, once.
        const QSqlError why = db.lastError();
        QString lost;
        const Reconnect again = archive.reconnect(&lost);
        if (again == Reconnect::Failed) {
            begun_ = Status::failure(ErrorCode::ArchiveUnavailable, lost);
            return;
        }
        began = again == Reconnect::Done && db.transaction();
        if (!began) {
            begun_ = archive.failure(QStringLiteral("写入"), again == Reconnect::Done ? db.lastError() : why);
            return;
        }
    }
    open_ = true;
    ++archive.writing_;
    // A write as the first statement: the engine makes a second writer wait here
    // rather than fail halfway through.
    if (auto q = archive.run(QStringLiteral("UPDATE archive_lock SET counter = counter + 1 WHERE id = 1"), {},
                             QStringLiteral("写入"));
        !q) {
        begun_ = q.status();
        return;
    }
    // Rows the archive keeps as they are are written only while the engine
    // itself still refuses to change them: guards dropped by hand stay seen.
    if (auto missing = schema::missingGuards(archive); !missing)
        begun_ = missing.status();
    else if (!missing->isEmpty())
        begun_ = Status::failure(ErrorCode::ArchiveDamaged, QStringLiteral("无法写入存档 %1：%2。请让管理员查明原因，用备份替换存档。")
                                     .arg(archive.location().display(), schema::missingGuardsText(*missing)));
}

Archive::Write::~Write()
{
    if (open_)
        archive_.rollbackOwn();
}

Status Archive::Write::commit()
{
    if (!begun_)
        return begun_;
    open_ = false;
    if (Status s = archive_.commitOwn(); !s)
        return s;
    archive_.followOwnWrite(true);
    return Status::success();
}

} // namespace sf6
