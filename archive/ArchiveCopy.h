#pragma once
// The whole archive copied into an empty one, SQLite or PostgreSQL either
// way: every table, row by row with its ids, texts, bytes and hashes as they
// are, read from one snapshot of the source and written in one transaction
// on the target with the guards in place before it commits. A copy broken
// off leaves no archive: an SQLite target is written beside itself and
// renamed at the end; a PostgreSQL one is only the transaction.

#include "archive/Archive.h"

#include <functional>

namespace sf6 {

struct CopyOptions {
    // A table's rows done so far, now and then and once at its end.
    std::function<void(const QString& table, qint64 rows)> progress;
    // For tests: the copy fails after writing the Nth table (1 the first), 0 never.
    int failAfterTable = 0;
};

// The tables copied, in the order that keeps every reference to a row
// already written.
const QStringList& copyOrder();

// What a table holds, as progress names it to the user.
QString tableTitle(const QString& table);

// Refused, each with its code: a target that holds anything (named), the
// source itself, either side of a schema this program does not know.
Status copyArchive(const Archive& source, const ArchiveLocation& target, const CopyOptions& options = {});

} // namespace sf6
