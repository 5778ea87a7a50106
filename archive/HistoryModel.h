#pragma once
// The archived records as a table for a view: archive number, archiving time,
// linked relay, last verdict and the P20 check, then the list's columns 1 to 52. The view asks the database for the rows it
// shows, a page at a time; nothing copies the whole archive into memory, and
// a row's texts are decoded from its bytes only when shown.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"

#include <QCache>
#include <QSqlQueryModel>

#include <functional>

namespace sf6 {

class HistoryModel : public QSqlQueryModel {
    Q_OBJECT
public:
    static constexpr int kNumberColumn = 0;
    static constexpr int kArchivedAtColumn = 1;
    static constexpr int kRelayColumn = 2;       // the linked relay's 编号
    static constexpr int kVerdictColumn = 3;     // the record's last verdict
    static constexpr int kP20Column = 4;         // the record's P20 against the SF6 equation
    static constexpr int kFirstListColumn = 5;   // list column 1 ("时间")
    static constexpr int kColumns = kFirstListColumn + kColumnCount - 1;

    explicit HistoryModel(const Archive& archive, QObject* parent = nullptr);

    // Newest test first; an empty filter shows everything.
    Status setFilter(const ArchiveFilter& filter);

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // What the P20 column says of a record's row: the register's check, which
    // this layer cannot call itself. Without it the column stays empty.
    void setRowCheck(std::function<QString(const ListRow&)> check) { rowCheck_ = std::move(check); }

    int recordId(int row) const;
    ArchivedRecord record(int row) const;

private:
    const ListRow* decoded(int row) const;
    QVariant field(int row, int field) const;

    const Archive& archive_;
    mutable QCache<int, ListRow> rows_{4096};
    std::function<QString(const ListRow&)> rowCheck_;
};

} // namespace sf6
