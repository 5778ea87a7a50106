#include "archive/ArchiveChanges.h"

namespace sf6 {

ArchiveChanges& archiveChanges()
{
    static ArchiveChanges changes;
    return changes;
}

} // namespace sf6
