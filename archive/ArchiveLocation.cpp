#include "archive/ArchiveLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace sf6 {

namespace {
const QString kScheme = QStringLiteral("postgresql");
const QString kSchemeShort = QStringLiteral("postgres");
const QString kStandardFolder = QStringLiteral("sf6companion");
const QString kStandardFile = QStringLiteral("archive.sqlite");
const QString kDemoFile = QStringLiteral("demo.sqlite");
const QString kNoPassword =
    QStringLiteral("数据库地址中不能含有密码。请用环境变量 PGPASSWORD 或 ~/.pgpass 文件提供密码。");

// libpq's connection keywords a lab may need in the URL. host, port, user and
// dbname are read into the location itself; password and sslpassword never
// travel in a URL.
const QStringList kConnectionParameters{
    QStringLiteral("sslmode"), QStringLiteral("sslrootcert"), QStringLiteral("sslcert"), QStringLiteral("sslkey"),
    QStringLiteral("sslcrl"), QStringLiteral("sslcrldir"), QStringLiteral("sslsni"), QStringLiteral("sslcompression"),
    QStringLiteral("ssl_min_protocol_version"), QStringLiteral("ssl_max_protocol_version"),
    QStringLiteral("requiressl"), QStringLiteral("gssencmode"), QStringLiteral("krbsrvname"), QStringLiteral("gsslib"),
    QStringLiteral("channel_binding"), QStringLiteral("requirepeer"), QStringLiteral("connect_timeout"),
    QStringLiteral("application_name"), QStringLiteral("fallback_application_name"), QStringLiteral("keepalives"),
    QStringLiteral("keepalives_idle"), QStringLiteral("keepalives_interval"), QStringLiteral("keepalives_count"),
    QStringLiteral("tcp_user_timeout"), QStringLiteral("options"), QStringLiteral("target_session_attrs"),
    QStringLiteral("hostaddr"), QStringLiteral("service"), QStringLiteral("passfile"),
    QStringLiteral("client_encoding")};

// QUrl's reasons end with the text they were given, password and all.
QString withoutSource(QString reason)
{
    if (const qsizetype at = reason.indexOf(QStringLiteral("; source was")); at >= 0)
        reason.truncate(at);
    static const QRegularExpression userInfo(QStringLiteral("(://[^/@:]*):[^/@]*@"));
    return reason.replace(userInfo, QStringLiteral("\\1@"));
}
} // namespace

Status ArchiveLocation::checkParameter(const QString& name, const QString& value)
{
    if (name == QLatin1String("password") || name == QLatin1String("sslpassword"))
        return Status::failure(ErrorCode::InvalidValue, kNoPassword);
    if (!kConnectionParameters.contains(name))
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("数据库地址中的参数 %1 无法识别（可用：%2）")
                                   .arg(name, kConnectionParameters.join(QStringLiteral(", "))));
    // The driver reads ';' as the end of a parameter.
    if (value.contains(u';'))
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("数据库地址中参数 %1 的值不能含有分号").arg(name));
    return Status::success();
}

QString ArchiveLocation::identity() const
{
    if (engine == Engine::SQLite) {
        // A file not made yet is named by its folder as it will be once it is.
        const QFileInfo file(path);
        QString canonical = file.canonicalFilePath();
        if (canonical.isEmpty()) {
            const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
            canonical = folder.isEmpty() ? path : folder + u'/' + file.fileName();
        }
        return QStringLiteral("sqlite:") + canonical;
    }
    QString id = display();
    for (const auto& [name, value] : parameters)
        id += u'&' + name + u'=' + value;
    return id;
}

QString ArchiveLocation::display() const
{
    switch (engine) {
    case Engine::Off: return QStringLiteral("（未启用）");
    case Engine::SQLite: return QDir::toNativeSeparators(path);
    case Engine::PostgreSQL: {
        QString s = kScheme + QStringLiteral("://");
        if (!user.isEmpty())
            s += user + u'@';
        if (!host.startsWith(u'/'))
            s += host;
        if (port > 0 && !host.startsWith(u'/'))
            s += u':' + QString::number(port);
        s += u'/' + database;
        if (host.startsWith(u'/'))
            s += QStringLiteral("?host=") + host + (port > 0 ? QStringLiteral("&port=%1").arg(port) : QString());
        return s;
    }
    }
    return {};
}

Expected<ArchiveLocation> ArchiveLocation::parse(const QString& text)
{
    if (text.isEmpty())
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("存档位置为空"));
    ArchiveLocation loc;
    const bool pg = text.startsWith(kScheme + QStringLiteral("://"), Qt::CaseInsensitive)
        || text.startsWith(kSchemeShort + QStringLiteral("://"), Qt::CaseInsensitive);
    if (!pg) {
        loc.engine = Engine::SQLite;
        loc.path = QDir::cleanPath(QDir::current().absoluteFilePath(text));
        return loc;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("无法识别的数据库地址：应写成 postgresql://用户@主机:端口/数据库名（%1）")
                                   .arg(withoutSource(url.errorString())));
    // Typed on a command line a password lands in the shell's history and in
    // every process list: refuse it before it goes anywhere.
    if (!url.password().isEmpty())
        return Status::failure(ErrorCode::InvalidValue, kNoPassword);
    loc.engine = Engine::PostgreSQL;
    loc.user = url.userName();
    loc.host = url.host();
    loc.port = url.port(-1);
    loc.database = url.path().mid(1);
    const QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("host")))
        loc.host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (query.hasQueryItem(QStringLiteral("port"))) {
        bool ok = false;
        loc.port = query.queryItemValue(QStringLiteral("port")).toInt(&ok);
        if (!ok || loc.port <= 0 || loc.port > 65535)
            return Status::failure(ErrorCode::InvalidValue, QStringLiteral("数据库地址中的端口无效"));
    }
    if (query.hasQueryItem(QStringLiteral("user")))
        loc.user = query.queryItemValue(QStringLiteral("user"), QUrl::FullyDecoded);
    if (query.hasQueryItem(QStringLiteral("dbname")))
        loc.database = query.queryItemValue(QStringLiteral("dbname"), QUrl::FullyDecoded);
    static const QStringList kInLocation{QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("user"),
                                         QStringLiteral("dbname")};
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (kInLocation.contains(name))
            continue;
        if (Status s = checkParameter(name, value); !s)
            return s;
        loc.parameters.emplace_back(name, value);
    }
    if (loc.database.isEmpty())
        return Status::failure(ErrorCode::InvalidValue, QStringLiteral("数据库地址中缺少数据库名"));
    return loc;
}

namespace {
ArchiveLocation dataFile(const QString& name)
{
    ArchiveLocation loc;
    loc.engine = ArchiveLocation::Engine::SQLite;
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    loc.path = QDir(base).filePath(kStandardFolder + u'/' + name);
    return loc;
}
} // namespace

ArchiveLocation ArchiveLocation::standard() { return dataFile(kStandardFile); }

ArchiveLocation ArchiveLocation::demo() { return dataFile(kDemoFile); }

Expected<ArchiveLocation> ArchiveLocation::choose(const std::optional<QString>& option, bool off, bool forDemo)
{
    if (off)
        return ArchiveLocation{};
    if (option)
        return parse(*option);
    if (forDemo)
        return demo();
    const QString env = qEnvironmentVariable(kArchiveEnvironment);
    if (!env.isEmpty())
        return parse(env);
    return standard();
}

} // namespace sf6
