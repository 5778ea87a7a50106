#pragma once
// The relay register in the archive: entries kept with every earlier version,
// records linked to their relay, judgements stored with the version of the
// entry they used (a judgement once made is never changed: an edit of the
// entry gives later judgements new values, never old ones), due dates and
// the drift of a relay over its records.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "register/Judgement.h"
#include "register/RelayEntry.h"

#include <QDate>

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

// The relay fields of a confirmed report: the entry of that serial number gets
// the dialog's name, model, production date and submitting unit (a new entry
// the defaults for the rest), and the record is linked to it. No serial
// number: nothing happens.
Expected<std::optional<RelayEntry>> applyReport(Archive& archive, int recordId, const ReportDetails& details,
                                                const QString& source);

Status linkRecord(Archive& archive, int recordId, const QString& serial);
Expected<std::optional<QString>> linkedSerial(const Archive& archive, int recordId);

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

// The record judged with its relay's current entry: the stored judgement when
// that version was used before, else a new one, stored unless store is false
// (its id is then 0).
Expected<JudgeOutcome> judgeRecord(Archive& archive, int recordId, bool store = true);
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
};
Expected<std::vector<RelayStatus>> relayStatuses(const Archive& archive, const QDate& today);

struct TrendPoint {
    QDateTime when;
    int recordId = 0;
    std::optional<Decimal> alarm, lock1, lock2;   // P20 mean action values
};
struct TrendData {
    RelayEntry entry;
    std::vector<TrendPoint> points;   // by test time
};
Expected<TrendData> trendOf(const Archive& archive, const QString& serial);

} // namespace sf6
