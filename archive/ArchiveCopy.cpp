#include "archive/ArchiveCopy.h"

#include "archive/Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlRecord>
#include <QTemporaryFile>

namespace sf6 {

namespace {

constexpr qint64 kProgressEvery = 1000;

bool sqlite(const ArchiveLocation& l) { return l.engine == ArchiveLocation::Engine::SQLite; }

// The target's tables and how many rows each holds; empty when it has none.
Expected<QStringList> heldTables(const Archive& target, int* newerVersion)
{
    const QString doing = QStringLiteral("查看目标存档");
    auto listed = sqlite(target.location())
                      ? target.run(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                                  "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name"),
                                   {}, doing)
                      : target.run(QStringLiteral("SELECT table_name FROM information_schema.tables "
                                                  "WHERE table_schema = current_schema() ORDER BY table_name"),
                                   {}, doing);
    if (!listed)
        return listed.status();
    QStringList tables;
    while (listed->next())
        tables << listed->value(0).toString();
    QStringList held;
    for (const QString& table : tables) {
        // Only our own names are put into a statement; another's table is named as it is.
        if (!schema::ownTables().contains(table)) {
            held << table;
            continue;
        }
        auto n = target.run(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table), {}, doing);
        if (!n)
            return n.status();
        held << QStringLiteral("%1（%2行）").arg(table).arg(n->next() ? n->value(0).toLongLong() : 0);
        if (table == QLatin1String("schema_version")) {
            auto v = target.run(QStringLiteral("SELECT MAX(version) FROM schema_version"), {}, doing);
            if (v && v->next())
                *newerVersion = std::max(*newerVersion, v->value(0).toInt());
        }
    }
    return held;
}

Status refuseHeld(const Archive& target, const ArchiveLocation& location)
{
    int version = 0;
    auto held = heldTables(target, &version);
    if (!held)
        return held.status();
    if (version > schema::kCurrentVersion)
        return Status::failure(ErrorCode::SchemaNewer,
                               QStringLiteral("目标存档 %1 由较新版本的程序写入（结构版本 %2，本程序为 %3），不能复制到其中")
                                   .arg(location.display())
                                   .arg(version)
                                   .arg(schema::kCurrentVersion));
    if (!held->isEmpty())
        return Status::failure(ErrorCode::TargetNotEmpty, QStringLiteral("目标存档 %1 不是空的，其中已有：%2。只能复制到空的存档")
                                                              .arg(location.display(), held->join(QStringLiteral("、"))));
    return Status::success();
}

struct Column {
    QString name;
    bool timestamp = false;
};

Expected<std::vector<Column>> columnsOf(const Archive& source, const QString& table)
{
    auto q = sqlite(source.location())
                 ? source.run(QStringLiteral("SELECT name, type FROM pragma_table_info(?) ORDER BY cid"), {table},
                              QStringLiteral("读取表结构"))
                 : source.run(QStringLiteral("SELECT column_name, data_type FROM information_schema.columns "
                                             "WHERE table_schema = current_schema() AND table_name = ? "
                                             "ORDER BY ordinal_position"),
                              {table}, QStringLiteral("读取表结构"));
    if (!q)
        return q.status();
    std::vector<Column> out;
    while (q->next())
        out.push_back({q->value(0).toString(), q->value(1).toString().startsWith(QLatin1String("timestamp"), Qt::CaseInsensitive)});
    return out;
}

// One table's rows, from the source's snapshot into the target's transaction.
Status copyTable(const Archive& source, const Archive& target, const QString& table, const CopyOptions& options)
{
    auto columns = columnsOf(source, table);
    if (!columns)
        return columns.status();
    QStringList select, names, marks;
    for (const Column& c : *columns) {
        // A timestamp travels as the text the source keeps: either engine reads it back the same.
        select << (c.timestamp && !sqlite(source.location()) ? QStringLiteral("CAST(%1 AS TEXT)").arg(c.name) : c.name);
        names << c.name;
        marks << QStringLiteral("?");
    }
    auto rows = source.run(QStringLiteral("SELECT %1 FROM %2").arg(select.join(u','), table), {}, QStringLiteral("读取 %1").arg(table));
    if (!rows)
        return rows.status();
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, names.join(u','), marks.join(u','));
    // Prepared once for the table: PostgreSQL would otherwise prepare and drop it for every row.
    QSqlQuery write(target.database());
    if (!write.prepare(insert))
        return target.failure(QStringLiteral("写入 %1").arg(table), write.lastError());
    qint64 done = 0;
    while (rows->next()) {
        for (int i = 0; i < int(columns->size()); ++i)
            write.bindValue(i, rows->value(i));
        if (!write.exec())
            return target.failure(QStringLiteral("写入 %1").arg(table), write.lastError());
        if (++done % kProgressEvery == 0 && options.progress)
            options.progress(table, done);
    }
    if (rows->lastError().isValid())
        return source.failure(QStringLiteral("读取 %1").arg(table), rows->lastError());
    if (options.progress)
        options.progress(table, done);
    return Status::success();
}

// A database account that may not create tables, functions or triggers is
// told as such: the guards are not optional, so the copy cannot go on without them.
Status withoutRights(const Status& s, const Archive& target)
{
    if (s.code() != ErrorCode::ArchiveReadOnly)
        return s;
    return Status::failure(ErrorCode::TargetNotWritable,
                           QStringLiteral("目标存档 %1 的数据库账户没有建立表、函数和触发器的权限，复制未进行，目标未改动；"
                                          "请用有这些权限的账户（例如数据库的所有者）")
                               .arg(target.location().display()));
}

// The schema, the rows and the guards, in the target's one transaction.
Status fill(const Archive& source, const Archive& target, const CopyOptions& options)
{
    Archive::Transaction write(target, false);
    if (!write.begun())
        return write.begun();
    const QString doing = QStringLiteral("建立存档结构");
    // The tables only: their rows, the writers' lock's too, come from the source.
    for (const schema::Step& step : schema::steps()) {
        for (const QString& sql : step.statements)
            if (sql.startsWith(QLatin1String("INSERT")))
                continue;
            else if (auto q = target.run(sql, {}, doing); !q)
                return withoutRights(q.status(), target);
        if (step.reshape)
            if (Status s = step.reshape(target); !s)
                return withoutRights(s, target);
    }
    int n = 0;
    for (const QString& table : copyOrder()) {
        if (Status s = copyTable(source, target, table, options); !s)
            return s;
        if (++n == options.failAfterTable)
            return target.failure(QStringLiteral("写入 %1").arg(table), QStringLiteral("测试中断"));
    }
    if (Status s = schema::installGuards(target); !s)
        return withoutRights(s, target);
    if (sqlite(target.location()))
        if (auto q = target.run(QStringLiteral("PRAGMA application_id = %1").arg(schema::kApplicationId), {}, doing); !q)
            return q.status();
    return write.commit();
}

} // namespace

const QStringList& copyOrder()
{
    static const QStringList order{
        QStringLiteral("schema_version"),    QStringLiteral("archive_lock"),     QStringLiteral("records"),
        QStringLiteral("syncs"),             QStringLiteral("sync_records"),     QStringLiteral("relay_versions"),
        QStringLiteral("relays"),            QStringLiteral("record_relays"),    QStringLiteral("judgements"),
        QStringLiteral("reports"),           QStringLiteral("link_changes"),     QStringLiteral("lab_versions"),
        QStringLiteral("standard_versions"), QStringLiteral("standards"),        QStringLiteral("certificates"),
        QStringLiteral("certificate_approvals"), QStringLiteral("audit"),        QStringLiteral("archive_head"),
        QStringLiteral("certificate_numbers"), QStringLiteral("lab_keys"), QStringLiteral("person_versions"),
        QStringLiteral("signatures")};
    return order;
}

QString tableTitle(const QString& table)
{
    static const QHash<QString, QString> titles{
        {QStringLiteral("schema_version"), QStringLiteral("结构版本")},
        {QStringLiteral("archive_lock"), QStringLiteral("写入锁")},
        {QStringLiteral("records"), QStringLiteral("记录")},
        {QStringLiteral("syncs"), QStringLiteral("同步")},
        {QStringLiteral("sync_records"), QStringLiteral("同步所得记录")},
        {QStringLiteral("relay_versions"), QStringLiteral("继电器版本")},
        {QStringLiteral("relays"), QStringLiteral("继电器")},
        {QStringLiteral("record_relays"), QStringLiteral("记录与继电器的关联")},
        {QStringLiteral("judgements"), QStringLiteral("判定")},
        {QStringLiteral("reports"), QStringLiteral("报表")},
        {QStringLiteral("link_changes"), QStringLiteral("关联变更")},
        {QStringLiteral("lab_versions"), QStringLiteral("实验室信息版本")},
        {QStringLiteral("standard_versions"), QStringLiteral("标准器版本")},
        {QStringLiteral("standards"), QStringLiteral("标准器")},
        {QStringLiteral("certificates"), QStringLiteral("证书")},
        {QStringLiteral("certificate_approvals"), QStringLiteral("证书批准")},
        {QStringLiteral("audit"), QStringLiteral("审计记录")},
        {QStringLiteral("archive_head"), QStringLiteral("审计链头")},
        {QStringLiteral("certificate_numbers"), QStringLiteral("证书编号")},
        {QStringLiteral("lab_keys"), QStringLiteral("实验室密钥")},
        {QStringLiteral("person_versions"), QStringLiteral("人员版本")},
        {QStringLiteral("signatures"), QStringLiteral("签名")}};
    return titles.value(table, table);
}

Status copyArchive(const Archive& source, const ArchiveLocation& target, const CopyOptions& options)
{
    const bool toFile = sqlite(target);
    if (target.identity() == source.location().identity()
        || (toFile && sqlite(source.location())
            && QFileInfo(target.path).absoluteFilePath() == QFileInfo(source.location().path).absoluteFilePath())
        || (toFile && sqlite(source.location()) && QFileInfo::exists(target.path)
            && QFileInfo(target.path).canonicalFilePath() == QFileInfo(source.location().path).canonicalFilePath()))
        return Status::failure(ErrorCode::SameArchive,
                               QStringLiteral("目标 %1 就是要复制的存档本身，请指定另一个位置").arg(target.display()));
    if (source.schemaVersion() != schema::kCurrentVersion)
        return Status::failure(ErrorCode::SchemaNewer,
                               QStringLiteral("存档 %1 的结构版本为 %2，本程序为 %3，不能复制")
                                   .arg(source.location().display())
                                   .arg(source.schemaVersion())
                                   .arg(schema::kCurrentVersion));
    if (toFile && QFileInfo::exists(target.path)) {
        // Named what it holds when it can be read; a file is never written over in any case.
        if (auto peek = Archive::openBare(target); peek)
            if (Status s = refuseHeld(**peek, target); !s)
                return s;
        return Status::failure(ErrorCode::TargetNotEmpty,
                               QStringLiteral("目标文件 %1 已存在，复制不会覆盖任何文件").arg(target.display()));
    }

    // The source read as of one moment while others keep writing.
    Archive::Transaction read(source, true);
    if (!read.begun())
        return read.begun();

    if (!toFile) {
        auto bare = Archive::openBare(target);
        if (!bare)
            return bare.status();
        if (Status s = refuseHeld(**bare, target); !s)
            return s;
        return fill(source, **bare, options);
    }

    // Beside the target, so that the rename at the end stays on one disk.
    // Only its name is kept: Windows renames no file a QTemporaryFile still holds.
    QString stagedPath;
    {
        QTemporaryFile partial(QFileInfo(target.path).absolutePath() + u'/' + QFileInfo(target.path).fileName()
                               + QStringLiteral(".copying-XXXXXX"));
        if (!partial.open())
            return Status::failure(ErrorCode::OutputNotWritten,
                                   QStringLiteral("无法在 %1 旁建立临时文件：%2").arg(target.display(), partial.errorString()));
        partial.setAutoRemove(false);
        stagedPath = partial.fileName();
    }
    ArchiveLocation staged = target;
    staged.path = stagedPath;
    Status filled = Status::success();
    {
        auto bare = Archive::openBare(staged);
        filled = bare ? fill(source, **bare, options) : bare.status();
    }   // closed before the file is renamed or removed
    if (filled && !QFile::rename(staged.path, target.path))
        filled = Status::failure(ErrorCode::TargetNotEmpty,
                                 QStringLiteral("无法把复制好的存档改名为 %1（文件已存在或无法改名），目标未改动").arg(target.display()));
    if (!filled)
        for (const QString& s : {QString(), QStringLiteral("-journal")})
            QFile::remove(staged.path + s);
    return filled;
}

} // namespace sf6
