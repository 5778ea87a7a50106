#include "ops/Syncs.h"

namespace sf6::ops {

Expected<SyncArchived> keepSync(Archive& archive, const SyncReceived& sync)
{
    if (sync.records.empty())
        return SyncArchived{};
    return archiveSync(archive, SyncLog{Archive::now(), sync.program, sync.port, sync.recordTotal, sync.end, sync.records});
}

} // namespace sf6::ops
