#pragma once
// The archive's tables, the same on SQLite and PostgreSQL: the same
// statements run on both. The program creates and upgrades its own schema;
// each version's statements are a step after the one before.

#include "base/Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace sf6 {
class Archive;
}

namespace sf6::schema {

// Version 1: records, syncs and the records each brought, reports.
// Version 2: the relay register with its history of values, the records'
// relays, judgements, and the judgement a report printed.
// Version 3: the folded search texts of reports and relay versions, and the
// record links made and undone.
// Version 4: what a sync from a file (an import) logs besides: the file's
// SHA-256 and the rows that gave no record.
// Version 5: the lab profile and reference standards with their versions,
// certificates and their approvals, and the audit trail.
// Version 6: the lab's decision rule, a standard's numeric expanded
// uncertainty and coverage factor, and the rule each judgement was made with
// (none: the simple rule of every judgement made before).
// Version 7: the versions of the lab, standards and relays kept as they are;
// the register's pointers move only to an entry's newest version; the audit
// trail's head and each year's last certificate number kept apart, moving
// only forward, so that cutting the newest rows is seen and no number comes
// twice.
// Version 8 (PostgreSQL; SQLite only takes the number): the audit trail,
// certificates, their numbers and approvals are written through functions
// run as the archive's owner, which take the user and the time from the
// server, so that the engineers' roles need no INSERT on those tables.
// Version 9: the lab's signing key and the people's (keys encrypted,
// certificates issued by the lab's), kept as they are with every version, and
// the certificates' signatures, kept as they are and written on PostgreSQL
// through the owner's function.
constexpr int kCurrentVersion = 10;
constexpr int kServerWritesVersion = 8;
constexpr int kSignaturesVersion = 9;

// The functions of version 8 and 9, by name.
const QStringList& writerFunctions();

struct Step {
    int version;                 // the version the archive has after this step
    std::vector<QString> statements;
    // Run after the statements, in the same transaction: values only the
    // program can compute for the rows already there.
    std::function<Status(const Archive&)> fill = {};
    // Run after the statements by an upgrade and by a copy alike: a change of
    // structure each engine says its own way. Leaves no guards of its own.
    std::function<Status(const Archive&)> reshape = {};
};
const std::vector<Step>& steps();

// The 48 pressure columns of records, in record order (Values[0..47]):
// p20_alarm_mean ... pt_lock2_return_3, each in 0.001 MPa.
const QStringList& pressureColumns();

// The tables this program creates; an archive with other tables only is not ours.
const QStringList& ownTables();

// SQLite's application id of our archives ("SF6A"): set when the program
// creates or upgrades one, so that any other database is told apart by a read.
constexpr qint32 kApplicationId = 0x53463641;

// What the engine answers, through the archive's own triggers, to any UPDATE
// or DELETE of these rows (and on PostgreSQL TRUNCATE).
inline const QString kRowsKeptAsTheyAre = QStringLiteral("存档中的记录、证书和审计记录按原样保存，不能修改或删除");
const QStringList& keptTables();
// What the engine answers when a relay's or standard's current version is
// set to any but its newest one.
inline const QString kNewestVersionOnly = QStringLiteral("台账只能指向最新保存的版本");
// What it answers when the trail's head or a year's last number would go back.
inline const QString kForwardOnly = QStringLiteral("存档记下的末条审计记录和证书序号只能向前，不能改回或删除");
// What the audit writer answers when the trail no longer ends at its head.
inline const QString kTrailCut = QStringLiteral("审计记录的末条与存档记下的不符，审计记录可能被截去或改动，"
                                                "不再写入（请用 sf6cli archive verify 检查存档）");
// What the certificate writer answers to content whose time, user or number
// is not the server's.
inline const QString kServerGivesTime = QStringLiteral("证书的出具时间、出具人和编号由服务器记下，与证书内容不符，未写入");

// The guards the archive's own triggers give, by name: the ones missing or
// disabled (or altered) in this archive, empty when all are in place. A
// writer refuses to write without them; verify names them.
Expected<QStringList> missingGuards(const Archive& archive);
// "存档的保护触发器缺失或已被改动：…"
QString missingGuardsText(const QStringList& missing);

// Puts every guard of this version in place (a copy's target, after its rows).
Status installGuards(const Archive& archive);

// The tables an archive of the given version has, lower case, sorted.
QStringList tablesOf(int version);

} // namespace sf6::schema
