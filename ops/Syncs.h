#pragma once
// A sync's records kept in the archive the one way both programs keep them:
// stamped with the clock's time and the program, every record once.

#include "archive/ArchiveStore.h"

#include <vector>

namespace sf6::ops {

struct SyncReceived {
    QString program;        // "sf6companion" or "sf6cli"
    QString port;
    int recordTotal = 0;    // announced in the reply
    SyncEnd end = SyncEnd::Complete;
    std::vector<QByteArray> records;   // 105 bytes each, in reply order
};

// Nothing is kept of a sync that brought no record. The status-bar text of
// the outcome is archivedText(result).
Expected<SyncArchived> keepSync(Archive& archive, const SyncReceived& sync);

} // namespace sf6::ops
