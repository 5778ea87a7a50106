// Certificates from the command line: the lab and a standard kept, a record
// certified with its number on standard output, refusals with their reasons,
// approval and amendment, reprints that later edits leave alone, and the
// check of the archive with its exit code 7.
#include "tests/cli/CliRun.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

// Room for SQLite's shared-memory file (32 KB) but not for a certificate's
// pages in the write-ahead log.
constexpr int kWalRoomKb = 32;

QString pdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class CliCertificates : public clitest::CliFixture {
protected:
    void SetUp() override
    {
        archive = dir.filePath(QStringLiteral("archive.sqlite"));
        auto* s = startSim(4);
        ASSERT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), archive}).exit, 0);
        ASSERT_EQ(cmd("relay", {"--serial", "R1", "--name", "主变A相", "--alarm", "0.55", "--lock1", "0.50"}).exit, 0);
        ASSERT_EQ(cmd("link", {"--records", "1-3", "--serial", "R1"}).exit, 0);
        const CliRun lab = cmd("lab", {"--name", "华东电力试验研究院", "--accreditation", "CNAS L0001"});
        ASSERT_EQ(lab.exit, 0) << lab.err.toStdString();
        ASSERT_EQ(cmd("standard", {"--serial", "S1", "--name", "校验仪", "--certificate", "JZ2026-0815", "--issuer",
                                   "省计量院", "--valid-until", "2030-06-30", "--uncertainty", "0.05级"})
                      .exit,
                  0);
    }
    CliRun cmd(const char* what, std::initializer_list<const char*> more = {}) const
    {
        QStringList args{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive};
        for (const char* m : more)
            args << QString::fromUtf8(m);
        return sf6cli(args);
    }
    CliRun certify(std::initializer_list<const char*> more = {}) const
    {
        QStringList args{QStringLiteral("archive"), QStringLiteral("certify"), QStringLiteral("--archive"), archive,
                         QStringLiteral("--standard"), QStringLiteral("S1"), QStringLiteral("--tester"),
                         QStringLiteral("张三"), QStringLiteral("--checker"), QStringLiteral("李四")};
        for (const char* m : more)
            args << QString::fromUtf8(m);
        return sf6cli(args);
    }
    QString number(int n) const
    {
        return QStringLiteral("SF6-%1-%2").arg(QDate::currentDate().year()).arg(n, 4, 10, QChar(u'0'));
    }
    // Changed behind the program's back, past the engine's guard.
    void tamper(const QString& sql)
    {
        const QString name = QStringLiteral("tamper");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(archive);
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER records_kept_update")));
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QTemporaryDir dir;
    QString archive;
};

} // namespace

TEST_F(CliCertificates, aCertificateHoldsUntilItsRecordIsAlteredThenVerifySaysWhichAndExits7)
{
    const CliRun issued = certify({"--record", "3", "--as-found", "1", "--humidity", "55"});
    ASSERT_EQ(issued.exit, 0) << issued.err.toStdString();
    EXPECT_EQ(issued.out, number(1) + u'\n');
    EXPECT_TRUE(issued.err.contains(QStringLiteral("结论："))) << issued.err.toStdString();

    const CliRun whole = cmd("verify");
    EXPECT_EQ(whole.exit, 0) << whole.err.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^存档完整：\\d+条审计记录，1份证书\n$")).match(whole.out).hasMatch())
        << whole.out.toStdString();
    const CliRun code = sf6cli({QStringLiteral("archive"), QStringLiteral("verify"), QStringLiteral("--archive"), archive,
                                QStringLiteral("--certificate"), number(1)});
    EXPECT_EQ(code.exit, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^校验码：[A-Z2-7]{4}(-[A-Z2-7]{4}){3}\n$")).match(code.out).hasMatch())
        << code.out.toStdString();

    tamper(QStringLiteral("UPDATE records SET temperature_tenths = 0, raw = X'00' || substr(raw, 2) WHERE id = 1"));
    const CliRun altered = cmd("verify");
    EXPECT_EQ(altered.exit, 7);
    EXPECT_TRUE(altered.out.isEmpty());
    EXPECT_TRUE(altered.err.contains(QStringLiteral("证书 %1 的记录 1 已被改动").arg(number(1)))) << altered.err.toStdString();
    const CliRun paper = sf6cli({QStringLiteral("archive"), QStringLiteral("verify"), QStringLiteral("--archive"), archive,
                                 QStringLiteral("--certificate"), number(1)});
    EXPECT_EQ(paper.exit, 7);
    EXPECT_EQ(paper.out, code.out) << "the code of the paper is still given";
}

TEST_F(CliCertificates, refusalsSayWhyAndSpendNoNumber)
{
    ASSERT_EQ(cmd("standard", {"--serial", "OLD", "--valid-until", "2012-05-01"}).exit, 0);
    const CliRun expired = sf6cli({QStringLiteral("archive"), QStringLiteral("certify"), QStringLiteral("--archive"), archive,
                                   QStringLiteral("--record"), QStringLiteral("3"), QStringLiteral("--standard"),
                                   QStringLiteral("OLD"), QStringLiteral("--tester"), QStringLiteral("张三"),
                                   QStringLiteral("--checker"), QStringLiteral("李四")});
    EXPECT_EQ(expired.exit, 1);
    EXPECT_TRUE(expired.out.isEmpty());
    EXPECT_TRUE(expired.err.contains(QStringLiteral("标准器 OLD 的证书（有效期至 2012-05-01）在测试日期 2012-05-03 之前已过期，不能出具证书")))
        << expired.err.toStdString();
    const CliRun same = certify({"--record", "3", "--checker", "张三"});
    EXPECT_EQ(same.exit, 1);
    EXPECT_TRUE(same.err.contains(QStringLiteral("同一人")));
    EXPECT_EQ(certify({"--record", "4"}).exit, 1) << "record 4 is not linked";
    EXPECT_EQ(certify({"--record", "x"}).exit, 2);
    EXPECT_EQ(cmd("certify", {"--record", "3"}).exit, 2) << "no standard, tester or checker";
    const CliRun prefix = cmd("lab", {"--prefix", "SF6/A"});
    EXPECT_EQ(prefix.exit, 2);
    EXPECT_TRUE(prefix.err.contains(QStringLiteral("证书编号前缀")));
    EXPECT_EQ(cmd("standard", {"--serial", "S2", "--valid-until", "30.06.2030"}).exit, 2);

    EXPECT_EQ(certify({"--record", "3"}).out, number(1) + u'\n');
}

TEST_F(CliCertificates, approvalOnceAmendmentAndTheListShowWhatBecameOfEach)
{
    ASSERT_EQ(certify({"--record", "2"}).exit, 0);
    ASSERT_EQ(certify({"--record", "3", "--approver", "王五"}).exit, 0);
    EXPECT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("approve"), QStringLiteral("--archive"), archive,
                      QStringLiteral("--certificate"), number(1), QStringLiteral("--approver"), QStringLiteral("王五")})
                  .exit,
              0);
    const CliRun twice = sf6cli({QStringLiteral("archive"), QStringLiteral("approve"), QStringLiteral("--archive"), archive,
                                 QStringLiteral("--certificate"), number(1), QStringLiteral("--approver"),
                                 QStringLiteral("王五")});
    EXPECT_EQ(twice.exit, 1);
    EXPECT_TRUE(twice.err.contains(QStringLiteral("不能再次批准")));
    const CliRun amended = sf6cli({QStringLiteral("archive"), QStringLiteral("amend"), QStringLiteral("--archive"), archive,
                                   QStringLiteral("--certificate"), number(2), QStringLiteral("--reason"),
                                   QStringLiteral("湿度记错"), QStringLiteral("--humidity"), QStringLiteral("60")});
    ASSERT_EQ(amended.exit, 0) << amended.err.toStdString();
    EXPECT_EQ(amended.out, number(3) + u'\n');
    EXPECT_TRUE(amended.err.contains(QStringLiteral("本证书替代 %1，原因：湿度记错").arg(number(2))));

    const CliRun list = cmd("certificates");
    ASSERT_EQ(list.exit, 0);
    const QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("证书编号\t档案号\t调整前档案号\t继电器编号\t结论")));
    EXPECT_TRUE(lines[1].startsWith(number(1) + QStringLiteral("\t2\t\tR1\t")));
    EXPECT_EQ(lines[1].section(u'\t', 8, 8), QStringLiteral("王五"));
    EXPECT_FALSE(lines[1].section(u'\t', 9, 9).isEmpty()) << "approved at";
    EXPECT_EQ(lines[1].section(u'\t', 10, 10), QStringLiteral("已批准"));
    EXPECT_EQ(lines[2].section(u'\t', 10, 10), QStringLiteral("已替代"));
    EXPECT_EQ(lines[3].section(u'\t', 10, 10), QStringLiteral("未批准"));

    const CliRun lab = cmd("lab", {"--json", "-"});
    const QJsonObject o = QJsonDocument::fromJson(lab.out.toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("校验单位")).toString(), QStringLiteral("华东电力试验研究院"));
    EXPECT_EQ(o.value(QStringLiteral("证书编号前缀")).toString(), QStringLiteral("SF6"));
}

// A PDF that fails costs no certificate; a reprint after the relay, the
// standard and the lab were edited prints what was issued.
TEST_F(CliCertificates, aFailedPdfLeavesTheCertificateIssuedAndAReprintIgnoresLaterEdits)
{
    const CliRun failed = certify({"--record", "3", "--pdf", dir.filePath(QStringLiteral("no/such/folder/c.pdf")).toUtf8().constData()});
    EXPECT_EQ(failed.exit, 5);
    EXPECT_EQ(failed.out, number(1) + u'\n');
    EXPECT_TRUE(failed.err.contains(QStringLiteral("重新打印"))) << failed.err.toStdString();

    const QString first = dir.filePath(QStringLiteral("first.pdf")), second = dir.filePath(QStringLiteral("second.pdf"));
    const QByteArray firstArg = first.toUtf8(), secondArg = second.toUtf8(), numberArg = number(1).toUtf8();
    ASSERT_EQ(cmd("certificate", {"--number", numberArg.constData(), "--pdf", firstArg.constData()}).exit, 0);
    ASSERT_EQ(cmd("relay", {"--serial", "R1", "--name", "改名", "--alarm", "0.45"}).exit, 0);
    ASSERT_EQ(cmd("standard", {"--serial", "S1", "--certificate", "JZ2027-0001", "--valid-until", "2031-01-01"}).exit, 0);
    ASSERT_EQ(cmd("lab", {"--name", "新名称"}).exit, 0);
    ASSERT_EQ(cmd("certificate", {"--number", numberArg.constData(), "--pdf", secondArg.constData()}).exit, 0);
    const QString text = pdfText(first);
    EXPECT_TRUE(text.contains(QStringLiteral("JZ2026-0815")));
    EXPECT_TRUE(text.contains(QStringLiteral("华东电力试验研究院")));
    EXPECT_TRUE(text.contains(number(1)));
    EXPECT_EQ(pdfText(second), text);
    EXPECT_EQ(cmd("certificate", {"--number", "SF6-1999-0001", "--pdf", secondArg.constData()}).exit, 1);
}

// A guard dropped by hand: no command writes any more, each saying which is
// missing, and verify names it with exit 7.
TEST_F(CliCertificates, aDroppedGuardStopsWritesAndVerifyNamesIt)
{
    tamper(QStringLiteral("SELECT 1"));   // drops records_kept_update, changes nothing
    const CliRun lab = cmd("lab", {"--phone", "021-1"});
    EXPECT_NE(lab.exit, 0);
    EXPECT_TRUE(lab.err.contains(QStringLiteral("存档的保护触发器缺失或已被改动：records_kept_update"))) << lab.err.toStdString();
    const CliRun issued = certify({"--record", "3"});
    EXPECT_NE(issued.exit, 0);
    EXPECT_TRUE(issued.out.isEmpty());
    const CliRun check = cmd("verify");
    EXPECT_EQ(check.exit, 7);
    EXPECT_TRUE(check.err.contains(QStringLiteral("存档的保护触发器缺失或已被改动：records_kept_update"))) << check.err.toStdString();
}

// A disk that fills up. A certificate whose PDF could not be written stays
// issued: exit 5, nothing said to be written, and the way to print it again
// (/dev/full refuses every write, as a full disk does). A database that cannot
// take the certificate (the shell's file-size limit stops the write-ahead
// log) refuses it as a failure of the archive: exit 6 with what the engine's
// failure means, and no number spent.
TEST_F(CliCertificates, aFullDiskFailsThePdfWithExit5AndTheArchiveWithExit6)
{
    const CliRun cut = certify({"--record", "3", "--pdf", "/dev/full"});
    EXPECT_EQ(cut.exit, 5) << cut.err.toStdString();
    EXPECT_EQ(cut.out, number(1) + u'\n') << "issued all the same";
    EXPECT_TRUE(cut.err.contains(QStringLiteral("磁盘空间不足"))) << cut.err.toStdString();
    EXPECT_TRUE(cut.err.contains(QStringLiteral("sf6cli archive certificate --number %1 --pdf FILE").arg(number(1))))
        << cut.err.toStdString();
    EXPECT_FALSE(cut.err.contains(QStringLiteral("已写入"))) << cut.err.toStdString();
    const QString pdf = dir.filePath(QStringLiteral("c.pdf"));
    const QByteArray pdfArg = pdf.toUtf8(), numberArg = number(1).toUtf8();
    ASSERT_EQ(cmd("certificate", {"--number", numberArg.constData(), "--pdf", pdfArg.constData()}).exit, 0);
    EXPECT_TRUE(pdfText(pdf).contains(number(1)));

    const CliRun full = clitest::bash(QStringLiteral("trap '' XFSZ; ulimit -f \"$1\"; exec \"$CLI\" archive certify "
                                                     "--archive \"$2\" --record 2 --standard S1 --tester 张三 --checker 李四"),
                                      {QString::number(kWalRoomKb), archive});
    EXPECT_EQ(full.exit, 6) << full.err.toStdString();
    EXPECT_TRUE(full.out.isEmpty()) << full.out.toStdString();
    EXPECT_TRUE(full.err.contains(QStringLiteral("磁盘已满")) || full.err.contains(QStringLiteral("读写存档文件时出错")))
        << full.err.toStdString();
    EXPECT_FALSE(full.err.contains(QStringLiteral("数据库报告了错误"))) << full.err.toStdString();
    const CliRun next = certify({"--record", "2"});
    ASSERT_EQ(next.exit, 0) << next.err.toStdString();
    EXPECT_EQ(next.out, number(2) + u'\n') << "no number spent by the refused one";
}
