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
// What changed, as the user reads it ("记录 36" for "record 36"); one this
// program does not know, as stored.
QString auditObjectText(const QString& object);
// Stored values (JSON, kept as written) as the user reads them: one
// "名称：值" a key, joined by the separator; text that is not a JSON object, as stored.
QString auditValuesText(const QString& json, const QString& separator = QStringLiteral("；"));
// A row's fields in the order of auditCaptions(), the action in words; the
// object and the values as stored, for lists a program reads.
QStringList auditFields(const AuditRow& row);

class AuditModel : public QSqlQueryModel {
    Q_OBJECT
public:
    enum Column { kId, kAt, kUser, kHost, kProgram, kAction, kObject, kOldValues, kNewValues, kReason, kColumns };

    explicit AuditModel(const Archive& archive, QObject* parent = nullptr);

    // Reads the trail again, with what others appended meanwhile.
    Status refresh();

    // The tooltip holds a cell's whole text, values one to a line: a column cuts what is long.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Archive& archive_;
};

} // namespace sf6
