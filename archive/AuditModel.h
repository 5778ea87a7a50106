#pragma once
// The audit trail as a table for a view, newest change first, in the words
// the window and sf6cli both use. The view asks the database for the rows it
// shows; nothing here can change a row.

#include "archive/Archive.h"
#include "archive/Audit.h"

#include <QSqlQueryModel>
#include <QStringList>

namespace sf6 {

// The columns, in order, as the window and `sf6cli archive audit` name them.
const QStringList& auditCaptions();
// An action as the user reads it ("继电器台账"); one this program does not know, as stored.
QString auditActionText(const QString& action);
// A row's fields in the order of auditCaptions(), the action in words.
QStringList auditFields(const AuditRow& row);

class AuditModel : public QSqlQueryModel {
    Q_OBJECT
public:
    enum Column { kId, kAt, kUser, kHost, kProgram, kAction, kObject, kOldValues, kNewValues, kReason, kColumns };

    explicit AuditModel(const Archive& archive, QObject* parent = nullptr);

    // Reads the trail again, with what others appended meanwhile.
    Status refresh();

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Archive& archive_;
};

} // namespace sf6
