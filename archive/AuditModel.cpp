#include "archive/AuditModel.h"

#include <QSqlError>
#include <QSqlQuery>

namespace sf6 {

const QStringList& auditCaptions()
{
    static const QStringList captions{QStringLiteral("编号"), QStringLiteral("时间"),   QStringLiteral("用户"),
                                      QStringLiteral("计算机"), QStringLiteral("程序"), QStringLiteral("操作"),
                                      QStringLiteral("对象"),   QStringLiteral("原值"), QStringLiteral("新值"),
                                      QStringLiteral("原因")};
    return captions;
}

QString auditActionText(const QString& action)
{
    struct Name {
        const QString& action;
        const char* text;
    };
    static const Name kNames[] = {
        {audit::kLabChanged, "实验室信息"},     {audit::kStandardChanged, "标准器"},
        {audit::kRelayChanged, "继电器台账"},   {audit::kLinked, "关联继电器"},
        {audit::kUnlinked, "取消关联"},         {audit::kReportStored, "保存报表"},
        {audit::kImported, "导入数据"},         {audit::kCertificateIssued, "出具证书"},
        {audit::kCertificateApproved, "批准证书"}, {audit::kCertificateAmended, "替代证书"},
    };
    for (const Name& n : kNames)
        if (n.action == action)
            return QString::fromUtf8(n.text);
    return action;
}

QStringList auditFields(const AuditRow& row)
{
    return {QString::number(row.id), row.at,     row.user,      row.host,      row.program,
            auditActionText(row.action), row.object, row.oldValues, row.newValues, row.reason};
}

AuditModel::AuditModel(const Archive& archive, QObject* parent) : QSqlQueryModel(parent), archive_(archive) {}

Status AuditModel::refresh()
{
    const QString sql = QStringLiteral("SELECT id, at, os_user, host, program, action, object, old_values, new_values, "
                                       "reason FROM audit ORDER BY id DESC");
    QSqlQuery q(archive_.database());
    if (!q.exec(sql)) {
        // A connection lost since the last query (a server restart) is made again, once.
        QString lost;
        const Archive::Reconnect again = archive_.reconnect(&lost);
        if (again == Archive::Reconnect::Failed)
            return Status::failure(ErrorCode::ArchiveUnavailable, lost);
        if (again == Archive::Reconnect::NotLost || (q = QSqlQuery(archive_.database()), !q.exec(sql)))
            return archive_.failure(QStringLiteral("读取审计记录"), q.lastError());
    }
    setQuery(std::move(q));
    if (lastError().isValid())
        return archive_.failure(QStringLiteral("读取审计记录"), lastError());
    return Status::success();
}

QVariant AuditModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role != Qt::DisplayRole)
        return QSqlQueryModel::data(index, role);
    const QVariant v = QSqlQueryModel::data(index, Qt::DisplayRole);
    switch (index.column()) {
    case kAt: return Archive::timestampText(v);
    case kAction: return auditActionText(v.toString());
    default: return v.isNull() ? QString() : v.toString();
    }
}

QVariant AuditModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return auditCaptions().value(section);
    return QSqlQueryModel::headerData(section, orientation, role);
}

} // namespace sf6
