#pragma once
// The one way an entry that keeps its versions (the lab profile, a reference
// standard, a relay) takes its next version: inside the caller's write, the
// version row numbered after the one before and stamped with the time, the
// entry pointing at it, and the change on the audit trail; all kept or none
// with the write.

#include "archive/Archive.h"
#include "archive/Audit.h"

#include <functional>

namespace sf6 {

struct VersionStamp {
    int id = 0;          // of the version row
    int version = 0;     // 1 for a new entry
    QString changedAt;
};

struct NextVersion {
    QString versionsTable;   // "relay_versions": the row's id comes from it
    QString insert;          // the version row's INSERT
    std::function<QVariantList(const VersionStamp&)> values;   // bound to insert
    int previousVersion = 0;   // 0: a new entry
    // The entry that points at its current version by serial number
    // ("relays", "standards"); empty where the newest version is current (the lab).
    QString entriesTable;
    QString serial;
    // The audit trail's entry: its action and object, the values before (null
    // for a new entry) and the new values, given the new version's number.
    QString action, object;
    QJsonValue oldValues;
    std::function<QJsonValue(int version)> newValues;
    QString doing;           // for a failure's message: "保存继电器台账"
};

Expected<VersionStamp> addVersion(Archive& archive, const NextVersion& next);

// The stamp on the entry's own fields.
template <class Entry>
void stampEntry(Entry& e, const VersionStamp& v)
{
    e.versionId = v.id;
    e.version = v.version;
    e.changedAt = v.changedAt;
}

} // namespace sf6
