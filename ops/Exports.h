#pragma once
// Archived records written as a workbook (column A the archive number). The
// file appears only when complete: a failure, or a stop asked for, leaves no
// file.

#include "archive/ArchiveStore.h"

#include <functional>

namespace sf6::ops {

struct RecordsExported {
    qint64 rows = 0;
    Status read = Status::success();      // the archive's part
    Status written = Status::success();   // the file's part
    bool stopped = false;                 // step asked to stop: nothing written, nothing wrong
};
// Told after each row how many are done; false stops the export.
using ExportStep = std::function<bool(qint64 done)>;

// The records a filter finds, read from the archive as they are written.
RecordsExported exportRecords(const Archive& archive, const ArchiveFilter& filter, const QString& file,
                              const ExportStep& step = {});

} // namespace sf6::ops
