#include "archive/AuditModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

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

namespace {
// Every key the program writes into an audit record's values, in words.
struct KeyName {
    const char* key;
    const char* text;
};
constexpr KeyName kKeyNames[] = {
    // Certificates
    {"number", "证书编号"}, {"sha256", "校验值"}, {"record", "记录"}, {"asFoundRecord", "调整前记录"},
    {"verdict", "结论"}, {"relayVersionId", "继电器版本"}, {"standardVersionId", "标准器版本"},
    {"labVersionId", "实验室信息版本"}, {"approver", "批准人"}, {"approvedAt", "批准时间"},
    // Lab and reference standards
    {"name", "名称"}, {"address", "地址"}, {"phone", "电话"}, {"accreditation", "认可信息"},
    {"prefix", "证书编号前缀"}, {"version", "版本"}, {"serial", "编号"}, {"certificate", "标准器证书编号"},
    {"issuer", "发证单位"}, {"validUntil", "有效期至"}, {"uncertainty", "不确定度或准确度等级"},
    {"decisionRule", "判定规则"}, {"expandedUncertainty", "扩展不确定度U"}, {"coverageFactor", "包含因子k"},
    // Relay register and links
    {"model", "型号"}, {"production_date", "生产日期"}, {"submitting_unit", "送检单位"},
    {"range_lower", "量程下限"}, {"range_upper", "量程上限"}, {"accuracy_class", "准确度等级"},
    {"alarm_nominal", "报警设定值"}, {"lock1_nominal", "闭锁1设定值"}, {"lock2_nominal", "闭锁2设定值"},
    {"differential_limit", "切换差限值"}, {"interval_months", "校验周期（月）"}, {"relay", "继电器"},
    // Imports
    {"file", "文件"}, {"sync_id", "同步编号"}, {"rows_read", "读取行数"}, {"rows_refused", "拒绝行数"},
    {"new_records", "新记录"}, {"already_archived", "已在存档中"},
    // Reports
    {"record_id", "记录"}, {"judgement_id", "判定编号"}, {"source", "程序"}, {"title", "报表标题"},
    {"calibrating_unit", "校验单位"}, {"test_date", "校验日期"}, {"print_date", "打印日期"},
    {"relay_name", "继电器名称"}, {"serial_number", "继电器编号"}, {"tester", "校验员"}, {"reviewer", "核验员"},
};

// The object's kind, the first word of what is stored.
constexpr KeyName kObjectKinds[] = {
    {"record", "记录"}, {"relay", "继电器"}, {"certificate", "证书"}, {"standard", "标准器"},
    {"report", "报表"}, {"file", "文件"}, {"lab", "实验室信息"},
};

QString keyText(const QString& key)
{
    for (const KeyName& k : kKeyNames)
        if (key == QLatin1String(k.key))
            return QString::fromUtf8(k.text);
    return key;
}

QString valueText(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: return QStringLiteral("（空）");
    case QJsonValue::Bool: return v.toBool() ? QStringLiteral("是") : QStringLiteral("否");
    case QJsonValue::Double: return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::String: return v.toString();
    case QJsonValue::Array:
    case QJsonValue::Object: break;
    }
    return QString::fromUtf8(QJsonDocument::fromVariant(v.toVariant()).toJson(QJsonDocument::Compact));
}
} // namespace

QString auditObjectText(const QString& object)
{
    const qsizetype space = object.indexOf(u' ');
    const QString kind = space < 0 ? object : object.left(space);
    for (const KeyName& k : kObjectKinds)
        if (kind == QLatin1String(k.key))
            return QString::fromUtf8(k.text) + (space < 0 ? QString() : object.mid(space));
    return object;
}

QString auditValuesText(const QString& json, const QString& separator)
{
    if (json.isEmpty())
        return json;
    QJsonParseError error;
    const QJsonDocument d = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !d.isObject())
        return json;
    // In the order of the table above, which keeps what belongs together.
    const QJsonObject o = d.object();
    QStringList keys = o.keys();
    const auto rank = [](const QString& key) {
        const auto* k = std::find_if(std::begin(kKeyNames), std::end(kKeyNames),
                                     [&key](const KeyName& n) { return key == QLatin1String(n.key); });
        return std::distance(std::begin(kKeyNames), k);
    };
    std::stable_sort(keys.begin(), keys.end(), [&rank](const QString& a, const QString& b) { return rank(a) < rank(b); });
    QStringList parts;
    for (const QString& key : keys)
        parts << QStringLiteral("%1：%2").arg(keyText(key), valueText(o.value(key)));
    return parts.join(separator);
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
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QSqlQueryModel::data(index, role);
    const QVariant v = QSqlQueryModel::data(index, Qt::DisplayRole);
    switch (index.column()) {
    case kAt: return Archive::timestampText(v);
    case kAction: return auditActionText(v.toString());
    case kObject: return auditObjectText(v.toString());
    case kOldValues:
    case kNewValues:
        if (v.isNull())
            return QString();
        return auditValuesText(v.toString(), role == Qt::ToolTipRole ? QStringLiteral("\n") : QStringLiteral("；"));
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
