#pragma once
// The relay register in the archive: entries kept with every earlier version,
// records linked to their relay, judgements stored with the version of the
// entry they used (a judgement once made is never changed: an edit of the
// entry gives later judgements new values, never old ones), due dates and
// the drift of a relay over its records.

#include "archive/Archive.h"
#include "archive/ArchiveChanges.h"
#include "archive/ArchiveStore.h"
#include "register/Judgement.h"
#include "register/RelayEntry.h"

#include <QDate>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace sf6 {

Expected<std::optional<RelayEntry>> findRelay(const Archive& archive, const QString& serial);
Expected<RelayEntry> relayVersion(const Archive& archive, int versionId);
// Every version of an entry, oldest first.
Expected<std::vector<RelayEntry>> relayHistory(const Archive& archive, const QString& serial);
// The current version of every entry, by serial number.
Expected<std::vector<RelayEntry>> listRelays(const Archive& archive);

// Creates the entry or, where any value differs, its next version. Values
// checked by applyRelayTexts are taken as they are.
Expected<RelayEntry> saveRelay(Archive& archive, const RelayEntry& entry, const QString& source);

// One edit of an entry: the entry as it stands inside the write (new when
// there is none), the given texts applied, the next version stored, all in
// the one transaction, so two edits that overlap both keep their fields.
// A text applyRelayTexts refuses leaves `refused` set and stores nothing.
struct RelayEdit {
    std::optional<RelayEntry> saved;
    Status refused = Status::success();
};
Expected<RelayEdit> editRelay(Archive& archive, const QString& serial, const RelayTexts& texts, const QString& source);

// How a confirmed report may touch the record's link.
struct ReportRelay {
    bool serialChosen = true;   // the 编号 was typed or picked, not the dialog's untouched sample
    bool moveLink = false;      // the user agreed to move a linked record to this 编号
};

// The relay fields of a confirmed report: the entry of that serial number gets
// the dialog's name, model, production date and submitting unit (a new entry
// the defaults for the rest), and the record is linked to it. Nothing happens
// without a serial number, for a record linked to another relay unless
// moveLink, and for an unlinked record unless serialChosen.
Expected<std::optional<RelayEntry>> applyReport(Archive& archive, int recordId, const ReportDetails& details,
                                                const QString& source, const ReportRelay& how = {});

// Links the records to the entry, all in one transaction or none; a record
// linked elsewhere is moved. Every change is noted in link_changes.
Status linkRecord(Archive& archive, int recordId, const QString& serial, const QString& source = QStringLiteral("sf6"));
Status linkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& serial,
                   const QString& source = QStringLiteral("sf6"));
// Undoes the records' links, all or none; returns how many were linked.
Expected<int> unlinkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& source);
Expected<std::optional<QString>> linkedSerial(const Archive& archive, int recordId);

struct LinkChange {
    int recordId = 0;
    QString serial;
    bool linked = false;   // false: the link was undone (or moved away)
    QString changedAt, source;
};
// Every link to and from one relay, oldest first.
Expected<std::vector<LinkChange>> linkChanges(const Archive& archive, const QString& serial);

struct StoredJudgement {
    int id = 0;
    int recordId = 0;
    int relayVersionId = 0;
    QString madeAt;
    Judgement judgement;
};

struct JudgeOutcome {
    std::optional<StoredJudgement> judgement;
    QString whyNot;   // when there is none: not linked, no nominal value, ...
};

// An entry's values for the audit trail, under the register's column names.
QJsonObject relayAuditValues(const RelayEntry& e);

// The record judged with its relay's current entry under the lab's decision
// rule: the stored judgement when that version was used before with the same
// rule, else a new one, stored unless store is false (its id is then 0). A
// guard band takes U from the standard named; without one it is not judged.
Expected<JudgeOutcome> judgeRecord(Archive& archive, int recordId, bool store = true,
                                   const QString& standardSerial = {});
// The same with the current entry of the relay a report names, so that the
// relay printed is the relay judged.
Expected<JudgeOutcome> judgeRecordWith(Archive& archive, int recordId, const QString& serial, bool store = true,
                                       const QString& standardSerial = {});
// Adds a judgement inside the caller's write, with the rule it was made with.
Status insertJudgement(const Archive& archive, const StoredJudgement& s);
Expected<std::optional<StoredJudgement>> findJudgement(const Archive& archive, int judgementId);
// Every judgement of a record, oldest first.
Expected<std::vector<StoredJudgement>> judgementsOf(const Archive& archive, int recordId);

inline constexpr int kDueSoonDays = 30;

struct RelayStatus {
    RelayEntry entry;
    std::optional<QDate> lastTest;   // of the latest linked record
    int lastRecordId = 0;
    QString lastVerdict;             // "合格", "不合格" or empty
    std::optional<QDate> nextDue;    // last test + interval
    bool overdue = false;            // due before today
    bool dueSoon = false;            // due within kDueSoonDays
    // Linked records dated after today (a wrong instrument clock): left out of
    // the last test, or one such record would put the relay off for ever.
    std::vector<std::pair<int, QDate>> skipped;
};
Expected<std::vector<RelayStatus>> relayStatuses(const Archive& archive, const QDate& today);
// "继电器 R1：记录 7 的测试日期 2127-05-01 晚于今天，未用于计算到期日"; empty when none was skipped.
QString skippedRecordsNote(const RelayStatus& status);

// The register's 状态 of a relay: "未校验" (no linked test yet), "已过期",
// "30天内到期" or empty; the same in the window and on the command line.
QString stateText(const RelayStatus& s);

struct TrendPoint {
    QDateTime when;
    int recordId = 0;
    std::optional<Decimal> alarm, lock1, lock2;   // P20 mean action values
    // The record fails on that contact, judged with the entry the trend shows.
    bool alarmFails = false, lock1Fails = false, lock2Fails = false;
};
struct TrendData {
    RelayEntry entry;
    std::vector<TrendPoint> points;   // by test time
};
Expected<TrendData> trendOf(const Archive& archive, const QString& serial);

} // namespace sf6
