#pragma once
// Other archives (typically each PC's SQLite file) brought into this one,
// all files in one transaction on the target: records new by their bytes,
// relays, standards and the lab by their values (a differing entry becomes
// a new version), judgements, reports and links with their records,
// certificates under their own numbers, and each source's audit trail
// carried into the target's chain row by row with its original hashes.

#include "archive/Archive.h"

#include <QStringList>

#include <functional>

namespace sf6 {

struct MergeOptions {
    // What is being done now, for the user: the file and the step's name.
    std::function<void(const QString& file, const QString& step)> progress;
    // For tests: the merge fails after its Nth step (1 the first), 0 never.
    int failAfterStep = 0;
};

struct MergeSummary {
    int newRecords = 0, presentRecords = 0;
    int newRelays = 0, newRelayVersions = 0;
    int certificates = 0;   // new in the target
    int auditRows = 0;      // carried from the sources
    // "合并N条新记录，M条已在存档中；继电器X只（新版本Y个）；证书Z份"
    QString text() const;
};

// The number a source's certificate has, and why it cannot come over:
// another certificate in the target (or in another source) has it.
struct MergeClash {
    QString number, file;
};
// "证书编号冲突，未合并任何内容：…"
QString mergeClashText(const std::vector<MergeClash>& clashes);

// Refused, each with its code and nothing changed: a file that is missing or
// unreadable (ArchiveUnavailable), not an archive (ArchiveForeign), of an
// older (SchemaOlder) or newer (SchemaNewer) schema, the target itself
// (SameArchive), failing verify (Altered), a certificate number used by
// another certificate or a lab key other than this archive's (MergeClash).
Expected<MergeSummary> mergeArchives(Archive& target, const QStringList& files, const MergeOptions& options = {});

} // namespace sf6
