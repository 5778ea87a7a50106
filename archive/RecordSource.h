#pragma once
// Where a record's data came from: the calibrator itself (a sync) or a file
// someone imported, with the file's name and SHA-256. A record the instrument
// sent in any sync counts as the instrument's, whatever was imported besides.

#include "archive/Archive.h"

#include <optional>

namespace sf6 {

struct RecordSource {
    bool imported = false;
    QString file, sha256;   // the first import that stored it
    int syncId = 0;
    // "仪器同步" or "导入 old.xlsx", as the history, the judgement page and certificates say it.
    QString text() const;
};

// None when no sync holds the record.
Expected<std::optional<RecordSource>> recordSource(const Archive& archive, int recordId);

} // namespace sf6
