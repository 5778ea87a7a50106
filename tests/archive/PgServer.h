#pragma once
// A real PostgreSQL 15 server for the tests, started by the tests themselves:
// initdb into a temporary folder (as the postgres user when the tests run as
// root, since initdb refuses root), listening only on a Unix socket in that
// folder, stopped and removed when the test program ends. A second one, on
// demand, also listens on TCP at 127.0.0.1 without TLS: libpq ignores
// sslmode on a Unix socket. A third takes only TLS on 127.0.0.1, with a
// certificate for localhost from a certificate authority the tests make.
//
// Windows test programs cannot start a Linux server: under Wine, the second
// and third are those that scripts/wine-tests.sh started with the Linux
// build's pg_test_servers, named in the file $SF6_PG_TEST_SERVERS.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#ifndef _WIN32
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Where scripts/wine-tests.sh names the servers pg_test_servers started.
#define SF6_PG_TEST_SERVERS "SF6_PG_TEST_SERVERS"

namespace archivetest {

class PgServer {
public:
    static constexpr int kPort = 54321;   // names the socket file only: no TCP

    // The one server of this process, started on first use and stopped by
    // shutdown(), which the test environment calls before the program ends.
    static PgServer& instance()
    {
        if (!current())
            current().reset(new PgServer);
        return *current();
    }
    // The server that also listens on TCP (127.0.0.1, a free port, no TLS).
    static PgServer& withTcp()
    {
        if (!currentTcp())
            currentTcp().reset(new PgServer(Kind::Tcp));
        return *currentTcp();
    }
    // The server that takes only TLS connections on 127.0.0.1 (hostssl; a
    // plain one is rejected), its certificate for localhost signed by caFile().
    static PgServer& withTls()
    {
        if (!currentTls())
            currentTls().reset(new PgServer(Kind::Tls));
        return *currentTls();
    }
    static void shutdown()
    {
        current().reset();
        currentTcp().reset();
        currentTls().reset();
    }
    ~PgServer()
    {
        dropAdmin();
        stop();
    }

    bool running() const { return running_; }
    const QString& error() const { return error_; }
    QString socketDir() const { return dir_.path(); }
    int port() const { return port_; }
    QString user() const { return user_; }
    // withTls(): the authority that signed the server's certificate, and one
    // that did not (both PEM files, named as this system names files).
    QString caFile() const { return caFile_; }
    QString wrongCaFile() const { return wrongCaFile_; }

    // A fresh, empty database; its location text for --archive.
    QString newDatabase()
    {
        const QString name = QStringLiteral("sf6test_%1").arg(++databases_);
        QSqlQuery(admin()).exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        return location(name);
    }
    QString location(const QString& database) const
    {
        return QStringLiteral("postgresql:///%1?host=%2&port=%3").arg(database, socketDir()).arg(port_);
    }
    // The database over TCP, with the URL parameters given (withTcp() only).
    QString tcpLocation(const QString& database, const QString& parameters) const
    {
        return QStringLiteral("postgresql://127.0.0.1:%1/%2?%3").arg(port_).arg(database, parameters);
    }
    // The database by the name on the server's certificate (withTls() only).
    QString tlsLocation(const QString& database, const QString& parameters) const
    {
        return QStringLiteral("postgresql://%1@localhost:%2/%3?%4").arg(user_).arg(port_).arg(database, parameters);
    }
    // A fresh database's name, for tcpLocation.
    QString newDatabaseName()
    {
        // A server started by the script outlives this process (and Wine's
        // process ids repeat): a name of its own.
        static const QString run = QString::number(QRandomGenerator::system()->generate(), 16);
        const QString name = local_ ? QStringLiteral("sf6test_%1").arg(++databases_)
                                    : QStringLiteral("sf6test_%1_%2").arg(run).arg(++databases_);
        QSqlQuery(admin()).exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        return name;
    }
    // A role that must give its password over TCP; every other stays trusted.
    bool addPasswordRole(const QString& role, const QString& password)
    {
        QFile hba(data_ + QStringLiteral("/pg_hba.conf"));
        if (!hba.open(QIODevice::ReadOnly))
            return false;
        const QByteArray rest = hba.readAll();
        hba.close();
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        hba.write(QStringLiteral("host all %1 127.0.0.1/32 scram-sha-256\n").arg(role).toUtf8() + rest);   // first match wins
        hba.close();
        return exec(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password))
            && exec(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()"));
    }
    // pg_ctl restart, as an administrator does: every connection is ended.
    bool restart()
    {
        dropAdmin();
        return restart_ && restart_();
    }
    // Down for a while, as a server being serviced, then up again.
    bool pause()
    {
        dropAdmin();
        return stop_ && (stop_(), true);
    }
    bool resume() { return start_ && start_(); }
    // Runs SQL as the server's superuser in the given database.
    bool exec(const QString& database, const QString& sql)
    {
        const QString name = QStringLiteral("pgadmin-%1-").arg(port_) + database;
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            reachAsAdministrator(db, database);
            ok = db.open() && QSqlQuery(db).exec(sql);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }

private:
    enum class Kind { Socket, Tcp, Tls };

    static std::unique_ptr<PgServer>& current()
    {
        static std::unique_ptr<PgServer> server;
        return server;
    }
    static std::unique_ptr<PgServer>& currentTcp()
    {
        static std::unique_ptr<PgServer> server;
        return server;
    }
    static std::unique_ptr<PgServer>& currentTls()
    {
        static std::unique_ptr<PgServer> server;
        return server;
    }
    // The server's own superuser: over the socket where the server is ours,
    // else over TCP (TLS where plain is rejected).
    void reachAsAdministrator(QSqlDatabase& db, const QString& database) const
    {
        db.setHostName(local_ ? socketDir() : QStringLiteral("127.0.0.1"));
        db.setPort(port_);
        db.setDatabaseName(database);
        if (!local_) {
            db.setUserName(user_);
            db.setConnectOptions(kind_ == Kind::Tls ? QStringLiteral("sslmode=require") : QStringLiteral("sslmode=disable"));
        }
    }
    static int freePort()
    {
#ifdef _WIN32
        return 0;   // the port is the started server's
#else
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        int port = 0;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
            && getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port = ntohs(a.sin_port);
        close(s);
        return port;
#endif
    }

    explicit PgServer(Kind kind = Kind::Socket) : kind_(kind), port_(kind == Kind::Socket ? kPort : freePort())
    {
#ifdef _WIN32
        local_ = false;
        findStartedServer();
#else
        const int tcpPort = kind == Kind::Socket ? 0 : port_;
        const QString bin = QStringLiteral("/usr/lib/postgresql/15/bin/");
        if (!QFile::exists(bin + QStringLiteral("initdb"))) {
            error_ = QStringLiteral("PostgreSQL 15 is not installed (Debian postgresql)");
            return;
        }
        // The server runs as postgres when we are root: its folder must be its own.
        QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7777));
        const bool root = geteuid() == 0;
        // By value: it runs again, from the destructor, to stop the server.
        auto run = [this, bin, root](const QString& tool, const QStringList& args) {
            QProcess p;
            if (root)
                p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                              QStringLiteral("--"), bin + tool} + args);
            else
                p.start(bin + tool, args);
            p.waitForFinished(60000);
            if (p.exitCode() != 0)
                error_ = tool + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        user_ = QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
        data_ = dir_.filePath(QStringLiteral("data"));
        if (!run(QStringLiteral("initdb"), {QStringLiteral("-D"), data_, QStringLiteral("-U"), user_,
                                            QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                                            QStringLiteral("--locale=C.UTF-8")}))
            return;
        QString options = QStringLiteral("-k %1 -c listen_addresses=%2 -p %3 -c fsync=off")
                              .arg(dir_.path(), tcpPort > 0 ? QStringLiteral("127.0.0.1") : QString())
                              .arg(port_);
        if (kind == Kind::Tls) {
            if (!makeCertificates(root))
                return;
            options += QStringLiteral(" -c ssl=on -c ssl_cert_file=%1 -c ssl_key_file=%2")
                           .arg(dir_.filePath(QStringLiteral("certs/server.crt")), dir_.filePath(QStringLiteral("certs/server.key")));
            // TLS or nothing over TCP; the socket stays the tests' own way in.
            QFile hba(data_ + QStringLiteral("/pg_hba.conf"));
            if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || hba.write("local all all trust\n"
                             "hostssl all all 127.0.0.1/32 trust\n"
                             "hostnossl all all 127.0.0.1/32 reject\n") < 0) {
                error_ = QStringLiteral("cannot write pg_hba.conf");
                return;
            }
        }
        start_ = [run, this, options] {
            return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data_, QStringLiteral("-o"), options,
                                                  QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
                                                  QStringLiteral("-w"), QStringLiteral("start")});
        };
        running_ = start_();
        restart_ = [run, this, options] {
            return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data_, QStringLiteral("-o"), options,
                                                  QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
                                                  QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                                                  QStringLiteral("restart")});
        };
        stop_ = [run, this] {
            run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data_, QStringLiteral("-m"), QStringLiteral("fast"),
                                           QStringLiteral("-w"), QStringLiteral("stop")});
        };
#endif
    }
    void stop()
    {
        if (running_ && stop_)
            stop_();
        running_ = false;
    }
#ifdef _WIN32
    // The server of this kind that scripts/wine-tests.sh started: a line
    // "tcp|tls PORT USER [CA WRONG-CA]" of the file it names.
    void findStartedServer()
    {
        const QString listing = qEnvironmentVariable(SF6_PG_TEST_SERVERS);
        if (listing.isEmpty()) {
            error_ = QStringLiteral("no PostgreSQL server for the Windows tests: scripts/wine-tests.sh starts them (" SF6_PG_TEST_SERVERS ")");
            return;
        }
        QFile file(windowsPath(listing));
        if (!file.open(QIODevice::ReadOnly)) {
            error_ = QStringLiteral("cannot read ") + file.fileName();
            return;
        }
        const QString wanted = kind_ == Kind::Tls ? QStringLiteral("tls") : QStringLiteral("tcp");
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QStringList f = in.readLine().split(u' ', Qt::SkipEmptyParts);
            if (f.size() < 3 || f[0] != wanted)
                continue;
            port_ = f[1].toInt();
            user_ = f[2];
            if (kind_ == Kind::Tls && f.size() >= 5) {
                caFile_ = windowsPath(f[3]);
                wrongCaFile_ = windowsPath(f[4]);
            }
            running_ = port_ > 0;
            return;
        }
        error_ = file.fileName() + QStringLiteral(" names no ") + wanted + QStringLiteral(" server");
    }
    // A Linux path as Wine shows it: the root is drive Z:.
    static QString windowsPath(const QString& linuxPath)
    {
        return linuxPath.startsWith(u'/') ? QStringLiteral("Z:") + linuxPath : linuxPath;
    }
#else
    // The authority, an unrelated one, and the server's key and certificate
    // (CN and SAN localhost), by the openssl tool; the key is the server's own.
    bool makeCertificates(bool root)
    {
        const QString certs = dir_.filePath(QStringLiteral("certs"));
        QDir().mkpath(certs);
        auto openssl = [this, certs](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(certs);
            p.start(QStringLiteral("openssl"), args);
            p.waitForFinished(60000);
            if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
                error_ = QStringLiteral("openssl ") + args.join(u' ') + QStringLiteral(": ")
                       + QString::fromLocal8Bit(p.readAllStandardError());
                return false;
            }
            return true;
        };
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes")};
        const QStringList caExtensions{QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                       QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")};
        auto authority = [&](const QString& name, const QString& subject) {
            return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec
                           + QStringList{QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                         QStringLiteral("-out"), name + QStringLiteral(".crt"), QStringLiteral("-subj"), subject}
                           + caExtensions);
        };
        QFile extensions(certs + QStringLiteral("/server.ext"));
        if (!extensions.open(QIODevice::WriteOnly)
            || extensions.write("subjectAltName=DNS:localhost\nbasicConstraints=critical,CA:FALSE\n"
                                "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n") < 0)
            return false;
        extensions.close();
        if (!authority(QStringLiteral("ca"), QStringLiteral("/O=SF6 tests/CN=SF6 test CA"))
            || !authority(QStringLiteral("wrongca"), QStringLiteral("/O=Someone else/CN=Unrelated CA"))
            || !openssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + ec
                        + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                      QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")})
            || !openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                         QStringLiteral("-CA"), QStringLiteral("ca.crt"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                         QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-extfile"),
                         QStringLiteral("server.ext"), QStringLiteral("-out"), QStringLiteral("server.crt")}))
            return false;
        // The server refuses a key that others may read or that is not its user's.
        const QString key = certs + QStringLiteral("/server.key");
        QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (root) {
            const passwd* postgres = getpwnam("postgres");
            if (!postgres || chown(QFile::encodeName(key).constData(), postgres->pw_uid, postgres->pw_gid) != 0) {
                error_ = QStringLiteral("cannot give server.key to postgres");
                return false;
            }
        }
        caFile_ = certs + QStringLiteral("/ca.crt");
        wrongCaFile_ = certs + QStringLiteral("/wrongca.crt");
        return true;
    }
#endif
    void dropAdmin()
    {
        const QString name = QStringLiteral("pgadmin-%1").arg(port_);
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
    QSqlDatabase admin()
    {
        const QString name = QStringLiteral("pgadmin-%1").arg(port_);
        if (QSqlDatabase::contains(name))
            return QSqlDatabase::database(name);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        reachAsAdministrator(db, QStringLiteral("postgres"));
        db.open();
        return db;
    }

    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/sf6pg-XXXXXX")};
    Kind kind_;
    bool local_ = true;   // started by this process, its socket reachable
    int port_;
    QString user_;
    QString caFile_;
    QString wrongCaFile_;
    QString data_;
    bool running_ = false;
    QString error_;
    int databases_ = 0;
    std::function<void()> stop_;
    std::function<bool()> restart_;
    std::function<bool()> start_;
};

// Stops the server, if one was started, while the application object still lives.
class PgEnvironment : public ::testing::Environment {
public:
    void TearDown() override { PgServer::shutdown(); }
};

enum class Engine { SQLite, PostgreSQL };

inline std::string engineName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL";
}

// The SQL block of the README's section on roles, as an administrator would
// paste it, one statement at a time.
inline QStringList readmeRoleStatements(const QString& readmePath)
{
    QFile readme(readmePath);
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype section = text.indexOf(QStringLiteral("## A shared PostgreSQL archive"));
    const qsizetype start = text.indexOf(QStringLiteral("```sql\n"), section);
    const qsizetype end = text.indexOf(QStringLiteral("```"), start + 7);
    if (section < 0 || start < 0 || end < 0)
        return {};
    QStringList statements;
    for (const QString& s : text.mid(start + 7, end - start - 7).split(u';'))
        if (!s.trimmed().isEmpty())
            statements << s.trimmed();
    return statements;
}

// The engines the archive suites run on: the tests start PostgreSQL on Linux only.
inline auto testedEngines()
{
#ifdef _WIN32
    return ::testing::Values(Engine::SQLite);
#else
    return ::testing::Values(Engine::SQLite, Engine::PostgreSQL);
#endif
}

// A fresh archive location on the engine: a file in a temporary folder, or a new database.
inline QString freshLocation(Engine engine, const QTemporaryDir& dir)
{
    if (engine == Engine::SQLite)
        return dir.filePath(QStringLiteral("archive.sqlite"));
    PgServer& pg = PgServer::instance();
    EXPECT_TRUE(pg.running()) << pg.error().toStdString();
    return pg.newDatabase();
}

} // namespace archivetest
