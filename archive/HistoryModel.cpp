#include "archive/HistoryModel.h"

#include <QSqlError>
#include <QSqlQuery>

namespace sf6 {

namespace {
// Columns of the query behind the model.
constexpr int kIdField = 0, kArchivedAtField = 1, kRawField = 2, kSerialField = 3, kVerdictField = 4;
} // namespace

HistoryModel::HistoryModel(const Archive& archive, QObject* parent) : QSqlQueryModel(parent), archive_(archive) {}

Status HistoryModel::setFilter(const ArchiveFilter& filter)
{
    const FilterClause clause = filterClause(filter);
    QSqlQuery q(archive_.database());
    auto attempt = [&] {
        if (!q.prepare(QStringLiteral("SELECT r.id, r.archived_at, r.raw, l.serial_number, "
                                      "(SELECT j.verdict FROM judgements j WHERE j.record_id = r.id ORDER BY j.id DESC LIMIT 1) "
                                      "FROM records r LEFT JOIN record_relays l ON l.record_id = r.id")
                       + clause.sql
                       + QStringLiteral(" ORDER BY r.test_order DESC, r.id DESC")))
            return false;
        for (const QVariant& v : clause.values)
            q.addBindValue(v);
        return q.exec();
    };
    if (!attempt()) {
        // A connection lost since the last query (a server restart) is made again, once.
        QString lost;
        const Archive::Reconnect again = archive_.reconnect(&lost);
        if (again == Archive::Reconnect::Failed)
            return Status::failure(ErrorCode::ArchiveUnavailable, lost);
        if (again == Archive::Reconnect::NotLost || (q = QSqlQuery(archive_.database()), !attempt()))
            return archive_.failure(QStringLiteral("查询"), q.lastError());
    }
    rows_.clear();
    setQuery(std::move(q));
    if (lastError().isValid())
        return archive_.failure(QStringLiteral("查询"), lastError());
    return Status::success();
}

int HistoryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

const ListRow* HistoryModel::decoded(int row) const
{
    if (ListRow* cached = rows_.object(row))
        return cached;
    auto* fresh = new ListRow(record(row).row());
    rows_.insert(row, fresh);
    return fresh;
}

// The query's own fields, not this model's columns (QSqlQueryModel::record asks data()).
QVariant HistoryModel::field(int row, int field) const { return QSqlQueryModel::data(index(row, field), Qt::EditRole); }

ArchivedRecord HistoryModel::record(int row) const
{
    return {field(row, kIdField).toInt(), Archive::timestampText(field(row, kArchivedAtField)),
            field(row, kRawField).toByteArray()};
}

int HistoryModel::recordId(int row) const { return field(row, kIdField).toInt(); }

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() < kFirstListColumn ? QVariant(int(Qt::AlignLeft | Qt::AlignVCenter))
                                                   : QVariant(int(Qt::AlignCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case kNumberColumn: return field(index.row(), kIdField);
    case kArchivedAtColumn: return Archive::timestampText(field(index.row(), kArchivedAtField));
    case kRelayColumn: return field(index.row(), kSerialField).toString();
    case kVerdictColumn: return field(index.row(), kVerdictField).toString();
    case kP20Column: return rowCheck_ ? rowCheck_(*decoded(index.row())) : QString();
    default: {
        const ListRow* row = decoded(index.row());
        return row->value(index.column() - kFirstListColumn + 1);
    }
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QSqlQueryModel::headerData(section, orientation, role);
    if (section == kNumberColumn)
        return QStringLiteral("档案号");
    if (section == kArchivedAtColumn)
        return QStringLiteral("存档时间");
    if (section == kRelayColumn)
        return QStringLiteral("继电器编号");
    if (section == kVerdictColumn)
        return QStringLiteral("结论");
    if (section == kP20Column)
        return QStringLiteral("P20核查");
    return columnCaptions().value(section - kFirstListColumn + 1);
}

} // namespace sf6
