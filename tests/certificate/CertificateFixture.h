#pragma once
// An archive on either engine with six records, a relay linked to the first
// three, a lab and a standard: everything a certificate needs, and a way to
// go round the engine's guard as someone with the database's keys would.

#include "archive/Audit.h"
#include "certificate/Certificate.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/archive/PgServer.h"
#include "tests/archive/SyncedArchive.h"

#include <QSqlQuery>
#include <QTemporaryDir>

// Failures show texts as texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace certtest {

using archivetest::Engine;
using namespace sf6;

inline const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

// plausibleRecords(6) are tests of 2012-05-01 to 2012-05-06, in that order.
inline const QString kStandard = QStringLiteral("STD-1");

class Certificates : public archivetest::SyncedArchive {
protected:
    void SetUp() override
    {
        setCertificateClock([this] { return now; });
        openWithRecords(sim::plausibleRecords(6));
        ASSERT_FALSE(HasFatalFailure());
        RelayEntry r1;
        r1.serial = QStringLiteral("R1");
        r1.name = QStringLiteral("主变A相");
        r1.alarm = Decimal::parse(QStringLiteral("0.55"));
        r1.lock1 = Decimal::parse(QStringLiteral("0.50"));
        ASSERT_TRUE(saveRelay(*archive, r1, QStringLiteral("test")).ok());
        ASSERT_TRUE(linkRecords(*archive, {ids[0], ids[1], ids[2]}, QStringLiteral("R1")));
        LabTexts lab;
        lab.name = QStringLiteral("华东电力试验研究院");
        ASSERT_TRUE(saveLab(*archive, lab).ok());
        StandardTexts st;
        st.name = QStringLiteral("SF6密度继电器校验仪");
        st.certificate = QStringLiteral("JZ2026-0815");
        st.validUntil = QStringLiteral("2030-06-30");
        ASSERT_TRUE(saveStandard(*archive, kStandard, st).ok());
    }
    void TearDown() override { setCertificateClock({}); }

    CertifyRequest request(int record) const
    {
        CertifyRequest rq;
        rq.recordId = record;
        rq.standardSerial = kStandard;
        rq.tester = QStringLiteral("张三");
        rq.checker = QStringLiteral("李四");
        rq.humidity = QStringLiteral("55");
        return rq;
    }
    QString issue(int record)
    {
        auto c = certify(*archive, request(record));
        EXPECT_TRUE(c.ok()) << c.error().toStdString();
        return c ? c->content.number : QString();
    }
    bool sqlite() const { return GetParam() == Engine::SQLite; }
    // Statements the engine's guard refuses, run by someone who went round
    // it and put it back afterwards, as it was.
    void tamper(const QString& table, const QStringList& statements)
    {
        QSqlQuery q(archive->database());
        const QString kept = QStringLiteral("存档中的记录、证书和审计记录按原样保存，不能修改或删除");
        if (sqlite()) {
            for (const char* event : {"update", "delete"})
                ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER IF EXISTS %1_kept_%2").arg(table, QLatin1String(event))));
        } else {
            ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE %1 DISABLE TRIGGER %1_kept").arg(table)));
        }
        for (const QString& sql : statements)
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
        if (sqlite()) {
            for (const char* event : {"UPDATE", "DELETE"})
                ASSERT_TRUE(q.exec(QStringLiteral("CREATE TRIGGER %1_kept_%2 BEFORE %3 ON %1 BEGIN SELECT RAISE(ABORT, '%4'); END")
                                       .arg(table, QString::fromLatin1(event).toLower(), QLatin1String(event), kept)));
        } else {
            ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE %1 ENABLE TRIGGER %1_kept").arg(table)));
        }
    }
    void tamper(const QString& table, const QString& sql) { tamper(table, QStringList{sql}); }

    QString now = QStringLiteral("2026-03-01 10:00:00");
};


} // namespace certtest
