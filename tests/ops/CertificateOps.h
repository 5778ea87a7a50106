#pragma once
// An archive with a record that agrees, one whose P20 does not, and one
// from an imported file, all linked to relay R1; a lab and a standard S1.
#include "archive/ArchiveStore.h"
#include "ops/Certificates.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace opstest {

using namespace sf6;

inline const QString kSource = QStringLiteral("test");

class CertificateOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto a = Archive::open(*ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite"))));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = std::move(*a);
        sim::RecordFields off = sim::agreeingRecord(2);
        off.values[7] = 391;   // P20报警值2 0.005 MPa off the equation
        auto s = archiveSync(*archive, {Archive::now(), kSource, QStringLiteral("COM3"), 2, SyncEnd::Complete,
                                        {sim::encodeRecord(sim::agreeingRecord(1)), sim::encodeRecord(off)}});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        synced = s->recordIds;
        SyncLog fromFile{Archive::now(), QStringLiteral("import"), QStringLiteral("old.xlsx"), 1, SyncEnd::Complete,
                         {sim::encodeRecord(sim::agreeingRecord(3))}};
        fromFile.fileSha256 = QString(64, u'b');
        s = archiveSync(*archive, fromFile);
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        imported = s->recordIds.at(0);

        RelayEntry r;
        r.serial = QStringLiteral("R1");
        r.alarm = Decimal::parse(QStringLiteral("0.390"));
        ASSERT_TRUE(saveRelay(*archive, r, kSource).ok());
        ASSERT_TRUE(linkRecords(*archive, {synced[0], synced[1], imported}, QStringLiteral("R1"), kSource));
        LabTexts lab;
        lab.name = QStringLiteral("实验室");
        ASSERT_TRUE(saveLab(*archive, lab).ok());
        StandardTexts st;
        st.validUntil = QStringLiteral("2030-01-01");
        ASSERT_TRUE(saveStandard(*archive, QStringLiteral("S1"), st).ok());
    }

    CertifyRequest request(int record) const
    {
        CertifyRequest rq;
        rq.recordId = record;
        rq.standardSerial = QStringLiteral("S1");
        rq.tester = QStringLiteral("张三");
        rq.checker = QStringLiteral("李四");
        return rq;
    }
    int auditRows() const { return (*verifyArchive(*archive)).auditRows; }
    size_t certificates() const { return (*listCertificates(*archive)).size(); }
    CertificateState state(const QString& number) const
    {
        const auto c = findCertificate(*archive, number);
        return c.ok() && *c ? (*c)->state : CertificateState{};
    }

    QTemporaryDir dir;
    std::shared_ptr<Archive> archive;
    std::vector<int> synced;
    int imported = 0;
};

} // namespace opstest
