#pragma once
// Linking archived records to a relay of the register, undoing it, and
// judging a record by its relay: the same for the history window and sf6cli.

#include "archive/Archive.h"
#include "register/RelayRegister.h"

#include <vector>

namespace sf6::ops {

// All the records or none; a record linked elsewhere is moved. A read-only
// archive refuses with its reason before anything is tried.
Status linkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& serial, const QString& source);
// Returns how many of the records were linked.
Expected<int> unlinkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& source);

struct JudgeResult {
    std::optional<StoredJudgement> judgement;   // nullopt: whyNot says why there is none
    QString whyNot;
    // Why the judgement given was not kept (asked not to, a read-only archive,
    // a failure while keeping it); empty when it was kept.
    QString notKept;
    bool keepFailed = false;                    // keeping was tried and failed
};
// The record judged by the relay it is linked to. An archive that cannot keep
// the judgement still gives it, and says so.
Expected<JudgeResult> judgeRecord(Archive& archive, int recordId, bool keep, const QString& standardSerial = {});

} // namespace sf6::ops
