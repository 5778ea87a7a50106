// archive merge: two PCs' SQLite archives with overlapping records, relays
// that agree and differ, and certificates, brought into a lab archive on
// either engine; merged again adds nothing; a clashing number, a failure at
// any step and bad files leave the lab archive exactly as it was.
#include "tests/certificate/CertificateFixture.h"

#include "archive/ArchiveCopy.h"
#include "archive/Schema.h"
#include "certificate/ArchiveMerge.h"
#include "certificate/People.h"
#include "archive/RecordSource.h"

#include <QFile>
#include <QSqlRecord>

namespace certtest {
namespace {

// Every row of every table, timestamps as text: any change to the target shows.
QStringList dump(const Archive& a)
{
    QStringList out;
    for (const QString& table : copyOrder()) {
        QSqlQuery q(a.database());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table))) << table.toStdString();
        while (q.next()) {
            QStringList row{table};
            for (int i = 0; i < q.record().count(); ++i)
                row << (q.value(i).typeId() == QMetaType::QDateTime ? Archive::timestampText(q.value(i))
                                                                     : q.value(i).toString());
            out << row.join(u'|');
        }
    }
    return out;
}

QString keyedPassword(const QString& name) { return name + QStringLiteral("-pw"); }

class Merge : public Certificates {
protected:
    struct Pc {
        QString file;
        std::shared_ptr<Archive> archive;
        std::vector<int> ids;
    };
    // A PC's archive: its records, relay R1 with the given alarm (linked to
    // its first three records), the lab under its prefix, the standard, and
    // one certificate issued at the given time.
    // With keyed, the PC has its own lab key and its signers sign.
    Pc pc(const QString& name, int records, const char* alarm, const QString& prefix, const QString& at, bool keyed = false)
    {
        Pc p;
        p.file = dir.filePath(name);
        ArchiveLocation l;
        l.engine = ArchiveLocation::Engine::SQLite;
        l.path = p.file;
        auto a = Archive::open(l);
        EXPECT_TRUE(a.ok());
        if (!a)
            return p;
        p.archive = *a;
        auto s = archiveSync(*p.archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), records,
                                                  SyncEnd::Complete, sim::plausibleRecords(records)});
        EXPECT_TRUE(s.ok());
        p.ids = s->recordIds;
        RelayEntry r1;
        r1.serial = QStringLiteral("R1");
        r1.name = QStringLiteral("主变A相");
        r1.alarm = Decimal::parse(QString::fromLatin1(alarm));
        r1.lock1 = Decimal::parse(QStringLiteral("0.50"));
        EXPECT_TRUE(saveRelay(*p.archive, r1, QStringLiteral("test")).ok());
        EXPECT_TRUE(linkRecords(*p.archive, {p.ids[0], p.ids[1], p.ids[2]}, QStringLiteral("R1")));
        LabTexts lab;
        lab.name = QStringLiteral("华东电力试验研究院");
        lab.prefix = prefix;
        lab.verificationAddress = QStringLiteral("https://lab.example.cn/") + prefix;
        EXPECT_TRUE(saveLab(*p.archive, lab).ok());
        StandardTexts st;
        st.name = QStringLiteral("SF6密度继电器校验仪");
        st.certificate = QStringLiteral("JZ2026-0815");
        st.validUntil = QStringLiteral("2030-06-30");
        EXPECT_TRUE(saveStandard(*p.archive, kStandard, st).ok());
        CertifyRequest rq = request(p.ids[2]);
        auto password = [](const QString& name) { return keyedPassword(name); };
        if (keyed) {
            EXPECT_TRUE(createLabKey(*p.archive, keyedPassword({})).ok());
            for (const auto& [person, role] : {std::pair{rq.tester, roles::kTester}, std::pair{rq.checker, roles::kChecker},
                                               std::pair{QStringLiteral("王五"), roles::kApprover}}) {
                PersonChange change;
                change.name = person;
                change.roles = QStringList{role};
                change.labPassword = keyedPassword({});
                change.personPassword = password(person);
                EXPECT_TRUE(savePerson(*p.archive, change).ok());
            }
            rq.testerPassword = password(rq.tester);
            rq.checkerPassword = password(rq.checker);
        }
        now = at;
        auto c = certify(*p.archive, rq);
        EXPECT_TRUE(c.ok()) << c.error().toStdString();
        if (c) {
            EXPECT_TRUE(approve(*p.archive, c->content.number, QStringLiteral("王五"),
                                keyed ? password(QStringLiteral("王五")) : QString()));
        }
        return p;
    }

    // The lab's archive holds two records of its own and nothing else: the PCs' ids are not its ids.
    void SetUp() override
    {
        setCertificateClock([this] { return now; });
        openWithRecords(sim::plausibleRecords(2, 7));
        ASSERT_FALSE(HasFatalFailure());
        a = pc(QStringLiteral("pc-a.sqlite"), 4, "0.55", QStringLiteral("A"), QStringLiteral("2025-03-01 10:00:00"));
        b = pc(QStringLiteral("pc-b.sqlite"), 6, "0.60", QStringLiteral("B"), QStringLiteral("2026-03-01 10:00:00"));
        ASSERT_FALSE(HasFailure());
        RelayEntry r2;
        r2.serial = QStringLiteral("R2");
        r2.name = QStringLiteral("主变B相");
        ASSERT_TRUE(saveRelay(*b.archive, r2, QStringLiteral("test")).ok());
    }

    QString issueOn(const Pc& p, int record)
    {
        auto c = certify(*p.archive, request(record));
        EXPECT_TRUE(c.ok()) << c.error().toStdString();
        return c ? c->content.number : QString();
    }

    void expectVerified()
    {
        auto v = verifyArchive(*archive);
        ASSERT_TRUE(v.ok()) << v.error().toStdString();
        EXPECT_TRUE(v->intact()) << v->firstProblem.toStdString();
    }

    Pc a, b;
};

TEST_P(Merge, BringsEachRecordOnceWithRelaysCertificatesAndTrailAndVerifies)
{
    std::vector<QString> steps;
    MergeOptions options;
    options.progress = [&steps](const QString&, const QString& step) { steps.push_back(step); };
    auto merged = mergeArchives(*archive, {a.file, b.file}, options);
    ASSERT_TRUE(merged.ok()) << merged.error().toStdString();
    // A's 4 new; B's first 4 are A's. R1 new from A, B's differs; R2 new.
    EXPECT_EQ(merged->text(), QStringLiteral("合并6条新记录，4条已在存档中；继电器2只（新版本1个）；证书2份"));
    EXPECT_EQ(steps.size(), 18u);
    expectVerified();

    // R1 is B's entry now, A's before it, each from its file.
    auto history = relayHistory(*archive, QStringLiteral("R1"));
    ASSERT_TRUE(history.ok());
    ASSERT_EQ(history->size(), 2u);
    EXPECT_EQ(history->back().alarm->text(), QStringLiteral("0.6"));
    QSqlQuery q(archive->database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT source FROM relay_versions WHERE serial_number = 'R1' ORDER BY id")));
    QStringList sources;
    while (q.next())
        sources << q.value(0).toString();
    EXPECT_EQ(sources, (QStringList{QStringLiteral("合并：pc-a.sqlite"), QStringLiteral("合并：pc-b.sqlite")}));

    // Each certificate checks out alone, its columns pointing at this archive's rows of the same bytes.
    for (const QString& number : {QStringLiteral("A-2025-0001"), QStringLiteral("B-2026-0001")}) {
        auto one = verifyCertificate(*archive, number);
        ASSERT_TRUE(one.ok()) << number.toStdString() << one.error().toStdString();
        EXPECT_TRUE(one->problem.isEmpty()) << one->problem.toStdString();
        auto found = findCertificate(*archive, number);
        ASSERT_TRUE(found.ok() && found->has_value());
        EXPECT_EQ((*found)->state.approvedBy, QStringLiteral("王五"));
    }
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT DISTINCT c.record_id, r.raw FROM certificates c JOIN records r ON r.id = c.record_id")));
    ASSERT_TRUE(q.next()) << "both PCs certified their third record, the same bytes";
    const int certified = q.value(0).toInt();
    EXPECT_EQ(q.value(1).toByteArray(), sim::plausibleRecords(3).back());
    EXPECT_FALSE(q.next());
    q.finish();
    EXPECT_NE(certified, 3) << "this archive's own id for it";

    // Amended here, the amendment is for the same record: the row's, not the id its content names.
    now = QStringLiteral("2026-04-01 10:00:00");
    auto amended = amend(*archive, QStringLiteral("B-2026-0001"), QStringLiteral("湿度写错"), CertifyRequest{});
    ASSERT_TRUE(amended.ok()) << amended.error().toStdString();
    EXPECT_EQ(amended->content.asLeft.recordId, certified);
    expectVerified();

    // The trail: every source row carried, then one row per file naming where its chain ended.
    int carried = 0;
    QStringList closing;
    ASSERT_TRUE(forEachAuditRow(*archive, [&](const AuditRow& r) {
        carried += r.action == audit::kMergedRow;
        if (r.action == audit::kMerged)
            closing << r.object;
        return true;
    }));
    int sourceRows = 0;
    for (const Pc* p : {&a, &b})
        ASSERT_TRUE(forEachAuditRow(*p->archive, [&](const AuditRow&) { return ++sourceRows > 0; }));
    EXPECT_EQ(carried, sourceRows);
    EXPECT_EQ(closing, (QStringList{QStringLiteral("archive pc-a.sqlite"), QStringLiteral("archive pc-b.sqlite")}));

    // The same file again brings nothing new and the archive still verifies.
    auto again = mergeArchives(*archive, {a.file});
    ASSERT_TRUE(again.ok()) << again.error().toStdString();
    EXPECT_EQ(again->text(), QStringLiteral("合并0条新记录，4条已在存档中；继电器0只（新版本0个）；证书0份"));
    EXPECT_EQ(again->auditRows, 0) << "A's trail was carried already";
    expectVerified();
    // A carries on on its PC; merged again, only what came after comes over.
    now = QStringLiteral("2025-04-01 10:00:00");
    const QString later = issueOn(a, a.ids[0]);
    auto tail = mergeArchives(*archive, {a.file});
    ASSERT_TRUE(tail.ok()) << tail.error().toStdString();
    EXPECT_EQ(tail->certificates, 1);
    EXPECT_EQ(tail->auditRows, 1) << "its issue";
    auto one = verifyCertificate(*archive, later);
    ASSERT_TRUE(one.ok());
    EXPECT_TRUE(one->problem.isEmpty()) << one->problem.toStdString();
    expectVerified();
}

TEST_P(Merge, VerifyFindsAMergedCertificateOrCarriedRowChangedAfterwards)
{
    ASSERT_TRUE(mergeArchives(*archive, {a.file, b.file}).ok());
    expectVerified();
    const QStringList before = dump(*archive);
    // Its record column moved to another record of the archive.
    tamper(QStringLiteral("certificates"),
           QStringLiteral("UPDATE certificates SET record_id = record_id - 1 WHERE number = 'B-2026-0001'"));
    auto v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_FALSE(v->intact());
    EXPECT_TRUE(v->firstProblem.contains(QStringLiteral("B-2026-0001"))) << v->firstProblem.toStdString();
    tamper(QStringLiteral("certificates"),
           QStringLiteral("UPDATE certificates SET record_id = record_id + 1 WHERE number = 'B-2026-0001'"));
    EXPECT_EQ(dump(*archive), before);
    expectVerified();
    // Its content altered: the hash no longer holds.
    tamper(QStringLiteral("certificates"),
           QStringLiteral("UPDATE certificates SET content = replace(content, '李四', '李五') WHERE number = 'A-2025-0001'"));
    v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_TRUE(v->firstProblem.contains(QStringLiteral("A-2025-0001"))) << v->firstProblem.toStdString();
}

TEST_P(Merge, VerifyFindsACarriedRowRewrittenWithTheWholeTrailRehashed)
{
    ASSERT_TRUE(mergeArchives(*archive, {a.file}).ok());
    // Someone with the database's keys changes what a carried row says A's
    // relay was, then hashes the trail again from there to its head.
    std::vector<AuditRow> rows;
    ASSERT_TRUE(forEachAuditRow(*archive, [&rows](const AuditRow& r) { return rows.push_back(r), true; }));
    QString previous(64, u'0');
    bool changed = false;
    QStringList statements;
    for (AuditRow& r : rows) {
        if (!changed && r.action == audit::kMergedRow && r.newValues.contains(QStringLiteral("0.55"))) {
            r.newValues.replace(QStringLiteral("0.55"), QStringLiteral("0.65"));
            changed = true;
        }
        r.previousHash = previous;
        r.hash = auditRowHash(previous, r);
        previous = r.hash;
        QString values = r.newValues;
        statements << QStringLiteral("UPDATE audit SET new_values = '%1', previous_hash = '%2', hash = '%3' WHERE id = %4")
                          .arg(values.replace(u'\'', QStringLiteral("''")), r.previousHash, r.hash)
                          .arg(r.id);
    }
    ASSERT_TRUE(changed);
    statements << QStringLiteral("UPDATE archive_head SET audit_hash = '%1'").arg(previous);
    QSqlQuery q(archive->database());
    const QStringList off = sqlite() ? QStringList{QStringLiteral("DROP TRIGGER audit_kept_update"),
                                                   QStringLiteral("DROP TRIGGER archive_head_forward_update")}
                                     : QStringList{QStringLiteral("ALTER TABLE audit DISABLE TRIGGER audit_kept"),
                                                   QStringLiteral("ALTER TABLE archive_head DISABLE TRIGGER archive_head_forward")};
    for (const QString& sql : off + statements)
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
    if (sqlite()) {
        ASSERT_TRUE(schema::installGuards(*archive));
    } else {
        ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE audit ENABLE TRIGGER audit_kept")));
        ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE archive_head ENABLE TRIGGER archive_head_forward")));
    }
    auto v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_TRUE(v->firstProblem.contains(QStringLiteral("合并进来的审计记录"))) << v->firstProblem.toStdString();
}

TEST_P(Merge, SignedCertificatesKeepTheirSignersAndAnotherLabKeyIsRefused)
{
    Pc d = pc(QStringLiteral("pc-d.sqlite"), 4, "0.55", QStringLiteral("D"), QStringLiteral("2024-03-01 10:00:00"), true);
    ASSERT_FALSE(HasFailure());
    auto merged = mergeArchives(*archive, {d.file});
    ASSERT_TRUE(merged.ok()) << merged.error().toStdString();
    auto v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_TRUE(v->intact()) << v->firstProblem.toStdString();
    EXPECT_EQ(v->signatures, 3) << "tester, checker and approver";
    EXPECT_TRUE(v->labKey);
    auto people = listPeople(*archive);
    ASSERT_TRUE(people.ok());
    EXPECT_EQ(people->size(), 3u);
    // A signature naming another row of the trail than the one it was made after.
    QSqlQuery q(archive->database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT audit_id FROM signatures ORDER BY id LIMIT 1")) && q.next());
    const int auditId = q.value(0).toInt();
    q.finish();
    tamper(QStringLiteral("signatures"),
           QStringLiteral("UPDATE signatures SET audit_id = %1 WHERE audit_id = %2").arg(auditId - 1).arg(auditId));
    v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_FALSE(v->intact());
    tamper(QStringLiteral("signatures"),
           QStringLiteral("UPDATE signatures SET audit_id = %1 WHERE audit_id = %2").arg(auditId).arg(auditId - 1));
    expectVerified();

    // Another PC that made its own lab key: refused, nothing of it kept.
    Pc e = pc(QStringLiteral("pc-e.sqlite"), 5, "0.55", QStringLiteral("E"), QStringLiteral("2023-03-01 10:00:00"), true);
    const QStringList before = dump(*archive);
    auto refused = mergeArchives(*archive, {e.file});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.status().code(), ErrorCode::MergeClash);
    EXPECT_TRUE(refused.error().contains(QStringLiteral("实验室证书"))) << refused.error().toStdString();
    EXPECT_EQ(dump(*archive), before);

    // Signed where it was issued, so a signature taken away here is missed.
    tamper(QStringLiteral("signatures"), QStringLiteral("DELETE FROM signatures WHERE role = '%1'").arg(roles::kChecker));
    v = verifyArchive(*archive);
    ASSERT_TRUE(v.ok());
    EXPECT_TRUE(v->firstProblem.contains(QStringLiteral("缺少%1的签名").arg(roles::kChecker))) << v->firstProblem.toStdString();
}

TEST_P(Merge, RecordsImportedOnAPcStayImportedFromTheirFile)
{
    const QString sha(64, u'a');
    SyncLog import{Archive::now(), QStringLiteral("test"), QStringLiteral("old.xlsx"), 2, SyncEnd::Complete,
                   sim::plausibleRecords(2, 9)};
    import.fileSha256 = sha;
    auto imported = archiveSync(*a.archive, import);
    ASSERT_TRUE(imported.ok()) << imported.error().toStdString();
    ASSERT_TRUE(mergeArchives(*archive, {a.file}).ok());
    expectVerified();
    std::map<QString, int> sources;
    std::vector<QByteArray> all = sim::plausibleRecords(4);
    for (const QByteArray& r : sim::plausibleRecords(2, 9))
        all.push_back(r);
    for (const QByteArray& raw : all) {
        QSqlQuery q(archive->database());
        q.prepare(QStringLiteral("SELECT id FROM records WHERE raw = ?"));
        q.addBindValue(raw);
        ASSERT_TRUE(q.exec() && q.next());
        auto source = recordSource(*archive, q.value(0).toInt());
        ASSERT_TRUE(source.ok() && source->has_value());
        ++sources[(*source)->text()];
        if ((*source)->imported) {
            EXPECT_EQ((*source)->sha256, sha);
        }
    }
    EXPECT_EQ(sources, (std::map<QString, int>{{QStringLiteral("仪器同步"), 4}, {QStringLiteral("导入 old.xlsx"), 2}}));
}

TEST_P(Merge, AClashingNumberRefusesEverythingAndListsIt)
{
    ASSERT_TRUE(mergeArchives(*archive, {a.file}).ok());
    // A third PC under A's prefix issued A-2025-0001 too, for another record.
    Pc c = pc(QStringLiteral("pc-c.sqlite"), 5, "0.55", QStringLiteral("A"), QStringLiteral("2025-03-02 10:00:00"));
    const QStringList before = dump(*archive);
    auto merged = mergeArchives(*archive, {b.file, c.file});
    ASSERT_FALSE(merged.ok());
    EXPECT_EQ(merged.status().code(), ErrorCode::MergeClash);
    EXPECT_TRUE(merged.error().contains(c.file + QStringLiteral("：证书 A-2025-0001"))) << merged.error().toStdString();
    EXPECT_FALSE(merged.error().contains(QStringLiteral("B-2026"))) << "B's number is free";
    EXPECT_EQ(dump(*archive), before);
    expectVerified();
}

TEST_P(Merge, FailingAtAnyStepLeavesTheTargetAsItWas)
{
    const QStringList before = dump(*archive);
    for (int step = 1; step <= 18; ++step) {
        MergeOptions options;
        options.failAfterStep = step;
        auto merged = mergeArchives(*archive, {a.file, b.file}, options);
        ASSERT_FALSE(merged.ok()) << step;
        EXPECT_EQ(dump(*archive), before) << "after step " << step;
    }
    ASSERT_TRUE(mergeArchives(*archive, {a.file, b.file}).ok());
    expectVerified();
}

TEST_P(Merge, BadFilesAreRefusedEachByItsOwnCode)
{
    const QStringList before = dump(*archive);
    // The file whole without its write-ahead log, to be copied.
    ASSERT_TRUE(QSqlQuery(a.archive->database()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    const QString text = dir.filePath(QStringLiteral("notes.sqlite"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an archive at all\n");
    }
    // An older and a newer program's archive: copies of A with another version.
    auto versioned = [&](const char* name, int version) {
        const QString file = dir.filePath(QLatin1String(name));
        EXPECT_TRUE(QFile::copy(a.file, file));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("versioned"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        EXPECT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(version)));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("versioned"));
        return file;
    };
    // A's trail with one row changed by hand.
    const QString altered = dir.filePath(QStringLiteral("altered.sqlite"));
    ASSERT_TRUE(QFile::copy(a.file, altered));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("altered"));
        db.setDatabaseName(altered);
        ASSERT_TRUE(db.open());
        {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER audit_kept_update"))) << q.lastError().text().toStdString();
            ASSERT_TRUE(q.exec(QStringLiteral("UPDATE audit SET reason = 'x' WHERE id = 2")));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("altered"));
    const std::pair<QString, ErrorCode> refused[] = {
        {dir.filePath(QStringLiteral("missing.sqlite")), ErrorCode::ArchiveUnavailable},
        {text, ErrorCode::ArchiveForeign},
        {versioned("old.sqlite", schema::kCurrentVersion - 1), ErrorCode::SchemaOlder},
        {versioned("new.sqlite", schema::kCurrentVersion + 1), ErrorCode::SchemaNewer},
        {altered, ErrorCode::Altered},
    };
    for (const auto& [file, code] : refused) {
        // The good file first: a bad one anywhere refuses them all.
        auto merged = mergeArchives(*archive, {a.file, file});
        ASSERT_FALSE(merged.ok()) << file.toStdString();
        EXPECT_EQ(merged.status().code(), code) << file.toStdString() << merged.error().toStdString();
        EXPECT_TRUE(merged.error().contains(file)) << merged.error().toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("missing.sqlite")))) << "a missing source is not created";
    auto twice = mergeArchives(*archive, {a.file, dir.path() + QStringLiteral("/./pc-a.sqlite")});
    ASSERT_FALSE(twice.ok());
    EXPECT_EQ(twice.status().code(), ErrorCode::Usage);
    if (sqlite()) {
        auto itself = mergeArchives(*archive, {archive->location().path});
        ASSERT_FALSE(itself.ok());
        EXPECT_EQ(itself.status().code(), ErrorCode::SameArchive);
    }
    EXPECT_EQ(dump(*archive), before);
}

INSTANTIATE_TEST_SUITE_P(Engines, Merge, archivetest::testedEngines(), archivetest::engineName);

} // namespace
} // namespace certtest
