#pragma once
// Synced rows as tab-separated text and as JSON, columns in list order.

#include "archive/ArchiveStore.h"
#include "sync/Columns.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QStringList>

#include <vector>

namespace cli {

// The archive's two columns in front of the list's 1 to 52.
inline const QString kArchiveNumberCaption = QStringLiteral("档案号");
inline const QString kArchivedAtCaption = QStringLiteral("存档时间");

// A text as one TSV field: tabs and line breaks become spaces. Every TSV sf6cli
// writes goes through this, so one stored line break never splits a row.
QString tsvField(QString s);

QByteArray rowsAsTsv(const std::vector<sf6::ListRow>& rows);
QByteArray rowsAsJson(const std::vector<sf6::ListRow>& rows);
// Archived records: archive number, archiving time, then columns 1 to 52 as the list shows them.
QByteArray recordsAsTsv(const std::vector<sf6::ArchivedRecord>& records);
QByteArray recordsAsJson(const std::vector<sf6::ArchivedRecord>& records);
// The bytes of recordsAsTsv or recordsAsJson a record at a time, for lists
// too long to hold: head(), row() for each record, then tail().
class RecordsText {
public:
    enum Format { Tsv, Json };
    explicit RecordsText(Format format) : format_(format) {}
    QByteArray head() const;
    QByteArray row(const sf6::ArchivedRecord& record);
    QByteArray tail() const;

private:
    Format format_;
    size_t rows_ = 0;
};
// The outcome in Chinese in TSV; JSON keeps the stored English names (complete, stalled…).
QByteArray syncsAsTsv(const std::vector<sf6::SyncEntry>& syncs);
QByteArray syncsAsJson(const std::vector<sf6::SyncEntry>& syncs);

// A compact table of the first columns, for people reading a terminal.
// A list of texts as the other lists are written: TSV to standard output
// unless --json (or --tsv FILE) says otherwise; each row's fields under the
// header's captions in JSON. Returns the exit code.
int writeTable(const QCommandLineParser& p, const QStringList& header, const std::vector<QStringList>& rows);

QByteArray rowsAsTable(const std::vector<sf6::ListRow>& rows, int columns);

} // namespace cli
