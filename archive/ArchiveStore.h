#pragma once
// What goes into the archive and what comes out: the records of a sync, the
// reports made of them, and the lists the history, the exports and the
// command line show. Given an open archive it stores or reads; it does not
// know who asked.

#include "archive/Archive.h"
#include "report/ReportPage.h"
#include "sync/Columns.h"
#include "sync/SyncSession.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace sf6 {

// One sync as it ended, with the 105 bytes of every record that came.
struct SyncLog {
    QString when;           // Archive::now() when it ended
    QString program;        // "sf6companion" or "sf6cli"
    QString port;
    int recordTotal = 0;    // announced in the reply
    SyncEnd end = SyncEnd::Complete;
    std::vector<QByteArray> records;   // in reply order
    // An import: the file's SHA-256 and the rows that gave no record.
    QString fileSha256 = {};
    int rowsRefused = 0;
    // The records were rebuilt from list rows, which show every acquisition
    // mode but 0 as 手工输入: a record whose list texts equal an archived
    // record's is that record, whatever its mode byte.
    bool fromListTexts = false;
};

struct SyncArchived {
    int syncId = 0;
    int newRecords = 0;               // records the archive did not hold before
    std::vector<int> recordIds;       // per record of the log, in its order
    int matchedByTexts = 0;           // of the others: found by their list texts, not their bytes
};

// All in one transaction: the records not yet archived, the sync, and which
// records it brought. A record already archived is never stored twice.
Expected<SyncArchived> archiveSync(Archive& archive, const SyncLog& log);

// "已存档12条新记录" for the status bar and the command line.
QString archivedText(const SyncArchived& a);
inline const QString kTextNotArchived = QStringLiteral("未存档");

struct ArchivedRecord {
    int id = 0;
    QString archivedAt;
    QByteArray raw;
    // The list row of the record: column 0 is its archive number.
    ListRow row() const;
};

struct ArchiveFilter {
    std::optional<QDate> from, to;   // test date, both inclusive
    QString text;                    // in a report's relay or unit texts, or the linked relay's
    std::vector<int> ids;            // only these records (empty: all)
};

// The WHERE clause of a filter over records r, and the values it binds.
struct FilterClause {
    QString sql;                     // " WHERE ..." or empty
    QVariantList values;
};
FilterClause filterClause(const ArchiveFilter& filter);

// Newest test first.
Expected<std::vector<ArchivedRecord>> listRecords(const Archive& archive, const ArchiveFilter& filter);
// The same records handed over one at a time while the query runs, so a list
// of any length costs the memory of one record. each returns false to stop.
// each must not use the archive: a PostgreSQL connection is busy until the
// last row has come.
Status forEachRecord(const Archive& archive, const ArchiveFilter& filter,
                     const std::function<bool(const ArchivedRecord&)>& each);
Expected<int> countRecords(const Archive& archive, const ArchiveFilter& filter);

struct StoredReport {
    int id = 0;
    int recordId = 0;
    QString createdAt;
    QString source;       // "sf6companion" or "sf6cli"
    ReportDetails details;
    int judgementId = 0;  // the judgement the report printed (0: none)
};

Expected<int> storeReport(Archive& archive, int recordId, const ReportDetails& details, const QString& source,
                          int judgementId = 0);
// The record's latest report, if it has one.
// Several reports kept at once, all or none, in one transaction (a batch
// whose PDF is complete); returns their ids in order.
struct NewReport {
    int recordId = 0;
    ReportDetails details;
    int judgementId = 0;
};
Expected<std::vector<int>> storeReports(Archive& archive, const std::vector<NewReport>& reports, const QString& source);
// The record's latest report, if it has one.
Expected<std::optional<StoredReport>> latestReport(const Archive& archive, int recordId);
// The defaults with the lab's own fields (title, calibrating unit, the three
// signatures) of the archive's latest report, the way the lab last signed;
// the defaults alone while no report has been made.
Expected<ReportDetails> startingDetails(const Archive& archive, const ReportDetails& defaults);

struct SyncEntry {
    int id = 0;
    QString syncedAt, program, port, outcome;
    int recordTotal = 0, rowsReceived = 0, newRecords = 0;
    QString fileSha256 = {};   // an import's file; empty for a sync from the instrument
    int rowsRefused = 0;
};
Expected<std::vector<SyncEntry>> listSyncs(const Archive& archive);

// One archived record by its number; nullopt when there is none.
Expected<std::optional<ArchivedRecord>> findRecord(const Archive& archive, int id);

// The typed fields of a record, for the archive's columns.
struct RecordFields {
    std::optional<QString> testTime;   // "yyyy-MM-dd HH:mm:ss" where the bytes are a calendar time
    qint64 testOrder = 0;              // sorts records by their time, valid or not
    int temperatureTenths = 0, mode = 0, testCount = 0;
    int pressures[kValueCount] = {};
};
RecordFields recordFields(const QByteArray& raw);

} // namespace sf6
