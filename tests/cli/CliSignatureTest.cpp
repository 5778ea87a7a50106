// Signed certificates from the command line: the lab key and the people set up
// from a passwords file only its owner can read, issue and approval signed,
// verify with and without the outside copy of the lab certificate, a copy of
// the archive that keeps its signatures, and a signature rewritten by hand.
#include "certificate/Keys.h"
#include "tests/certificate/TestSigners.h"
#include "tests/cli/CliRun.h"

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

class CliSignatures : public clitest::CliFixture {
protected:
    void SetUp() override
    {
        archive = dir.filePath(QStringLiteral("archive.sqlite"));
        passwords = dir.filePath(QStringLiteral("passwords"));
        auto* s = startSim(4);
        ASSERT_EQ(sf6cli({QStringLiteral("sync"), QStringLiteral("--port"), s->portPath(), QStringLiteral("--archive"), archive}).exit, 0);
        ASSERT_EQ(cmd("relay", {"--serial", "R1", "--name", "主变A相", "--alarm", "0.55", "--lock1", "0.50"}).exit, 0);
        ASSERT_EQ(cmd("link", {"--records", "1-3", "--serial", "R1"}).exit, 0);
        // Set before any certificate: it is printed beside one, never part of its content.
        ASSERT_EQ(cmd("lab", {"--name", "华东电力试验研究院", "--verification-address", "https://lab.example.cn/v"}).exit, 0);
        ASSERT_EQ(cmd("standard", {"--serial", "S1", "--name", "校验仪", "--valid-until", "2030-06-30"}).exit, 0);
        writePasswords("实验室\tlab-pw\n张三\tzs\n李四\tls\n王五\tww\n");
    }
    void writePasswords(const QByteArray& text, QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner)
    {
        QFile f(passwords);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        ASSERT_TRUE(f.setPermissions(permissions));
    }
    CliRun cmd(const char* what, std::initializer_list<const char*> more = {}) const
    {
        QStringList args{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive};
        for (const char* m : more)
            args << QString::fromUtf8(m);
        return sf6cli(args);
    }
    CliRun withPasswords(const char* what, std::initializer_list<const char*> more) const
    {
        QStringList args{QStringLiteral("archive"), QString::fromLatin1(what), QStringLiteral("--archive"), archive,
                         QStringLiteral("--passwords"), passwords};
        for (const char* m : more)
            args << QString::fromUtf8(m);
        return sf6cli(args);
    }
    void setUpPeople()
    {
        const CliRun key = withPasswords("lab", {"--create-key"});
        ASSERT_EQ(key.exit, 0) << key.err.toStdString();
        addPeople();
    }
    // 张三 tests, 李四 checks, 王五 approves.
    void addPeople()
    {
        for (const auto& [name, role] : {std::pair{"张三", "校验员"}, std::pair{"李四", "核验员"}, std::pair{"王五", "批准人"}}) {
            const CliRun p = withPasswords("person", {"--name", name, "--roles", role});
            ASSERT_EQ(p.exit, 0) << p.err.toStdString();
        }
    }
    QString number(int n) const
    {
        return QStringLiteral("SF6-%1-%2").arg(QDate::currentDate().year()).arg(n, 4, 10, QChar(u'0'));
    }
    QTemporaryDir dir;
    QString archive, passwords;
};

} // namespace

TEST_F(CliSignatures, aLooseOrIncompletePasswordsFileIsRefusedAndNothingIsMade)
{
    writePasswords("实验室\tlab-pw\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    const CliRun loose = withPasswords("lab", {"--create-key"});
    EXPECT_EQ(loose.exit, 2);
    EXPECT_TRUE(loose.err.contains(QStringLiteral("不予使用"))) << loose.err.toStdString();
    const CliRun none = cmd("lab", {"--export-certificate", dir.filePath(QStringLiteral("lab.crt")).toUtf8().constData()});
    EXPECT_EQ(none.exit, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("还没有签名密钥"))) << none.err.toStdString();

    writePasswords("张三 zs\n");
    EXPECT_EQ(withPasswords("lab", {"--create-key"}).exit, 2) << "a line without a tab";
    writePasswords("张三\tzs\n");
    const CliRun missing = withPasswords("lab", {"--create-key"});
    EXPECT_EQ(missing.exit, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("没有 实验室 的密码"))) << missing.err.toStdString();
    // Standard input is no terminal here: the password is asked for by name, not guessed.
    const CliRun noTerminal = cmd("lab", {"--create-key"});
    EXPECT_EQ(noTerminal.exit, 2);
    EXPECT_TRUE(noTerminal.err.contains(QStringLiteral("需要 实验室 的密码"))) << noTerminal.err.toStdString();
    EXPECT_EQ(cmd("lab", {"--export-certificate", dir.filePath(QStringLiteral("lab.crt")).toUtf8().constData()}).exit, 1)
        << "still no key";
}

TEST_F(CliSignatures, signedIssueAndApprovalVerifyWithTheOutsideCopyAndSurviveACopy)
{
    setUpPeople();
    ASSERT_FALSE(HasFatalFailure());
    const QString crt = dir.filePath(QStringLiteral("lab.crt"));
    ASSERT_EQ(cmd("lab", {"--export-certificate", crt.toUtf8().constData()}).exit, 0);

    const CliRun wrong = withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "李四", "--checker", "张三"});
    EXPECT_EQ(wrong.exit, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("李四没有校验员的角色"))) << wrong.err.toStdString();
    const CliRun issued = withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "张三", "--checker", "李四"});
    ASSERT_EQ(issued.exit, 0) << issued.err.toStdString();
    EXPECT_EQ(issued.out.trimmed(), number(1)) << "the refusal spent no number";
    const CliRun approved = withPasswords("approve", {"--certificate", number(1).toUtf8().constData(), "--approver", "王五"});
    ASSERT_EQ(approved.exit, 0) << approved.err.toStdString();

    const CliRun plain = cmd("verify");
    EXPECT_EQ(plain.exit, 0) << plain.err.toStdString();
    EXPECT_TRUE(plain.out.contains(QStringLiteral("3个签名")));
    EXPECT_TRUE(plain.out.contains(QStringLiteral("实验室证书未与存档外的副本核对"))) << plain.out.toStdString();
    const CliRun trusted = cmd("verify", {"--trust", crt.toUtf8().constData()});
    EXPECT_EQ(trusted.exit, 0) << trusted.err.toStdString();
    EXPECT_TRUE(trusted.out.contains(QStringLiteral("实验室证书与存档外的副本相符"))) << trusted.out.toStdString();
    const CliRun one = cmd("verify", {"--certificate", number(1).toUtf8().constData(), "--trust", crt.toUtf8().constData()});
    EXPECT_EQ(one.exit, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.startsWith(QStringLiteral("校验码："))) << one.out.toStdString();
    EXPECT_TRUE(one.out.contains(QStringLiteral("3个签名\n实验室证书与存档外的副本相符"))) << one.out.toStdString();

    const QString copy = dir.filePath(QStringLiteral("copy.sqlite"));
    const CliRun copied = cmd("copy", {"--to", copy.toUtf8().constData()});
    ASSERT_EQ(copied.exit, 0) << copied.err.toStdString();
    const CliRun there = sf6cli({QStringLiteral("archive"), QStringLiteral("verify"), QStringLiteral("--archive"), copy,
                                 QStringLiteral("--trust"), crt});
    EXPECT_EQ(there.exit, 0) << there.err.toStdString();
    EXPECT_TRUE(there.out.contains(QStringLiteral("3个签名"))) << there.out.toStdString();

    // Another lab's certificate is not this one's.
    QTemporaryDir other;
    const QString otherArchive = other.filePath(QStringLiteral("other.sqlite"));
    ASSERT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("lab"), QStringLiteral("--archive"), otherArchive,
                      QStringLiteral("--create-key"), QStringLiteral("--passwords"), passwords})
                  .exit,
              0);
    const QString otherCrt = other.filePath(QStringLiteral("other.crt"));
    ASSERT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("lab"), QStringLiteral("--archive"), otherArchive,
                      QStringLiteral("--export-certificate"), otherCrt})
                  .exit,
              0);
    const CliRun foreign = cmd("verify", {"--trust", otherCrt.toUtf8().constData()});
    EXPECT_EQ(foreign.exit, 7);
    EXPECT_TRUE(foreign.err.contains(QStringLiteral("存档中的实验室证书与存档外的副本不符"))) << foreign.err.toStdString();
}

// A lab whose key comes from an outside authority, exported the older way
// (RC2, 3DES): imported, it is the people's root, and what it signs is
// checked by the customer against the lab's certificate alone.
TEST_F(CliSignatures, aLabKeyFromAnAuthoritysPfxSignsWhatTheCustomerChecks)
{
    const certtest::AuthorityIssuedLab issued;
    X509* root = issued.root.get();
    const auto signerKey = certtest::newKey();
    const auto signer = certtest::newCertificate(QStringLiteral("文件签名"), signerKey.get(), root, issued.rootKey.get(), 3);
    const auto write = [this](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString labPfx = write(QStringLiteral("实验室 密钥.pfx"), certtest::pfx(issued.labKey.get(), issued.lab.get(), {root},
                                                                               QStringLiteral("pfx-pw"), true));
    const QString signerPfx = write(QStringLiteral("signer.pfx"), certtest::pfx(signerKey.get(), signer.get(), {root},
                                                                              QStringLiteral("pfx-pw"), false));
    const QString crt = dir.filePath(QStringLiteral("lab.crt"));
    const QByteArray people = "实验室\tlab-pw\n张三\tzs\n李四\tls\n王五\tww\n";

    writePasswords(people + labPfx.toUtf8() + "\twrong\n");
    const CliRun wrong = withPasswords("lab", {"--import-key", labPfx.toUtf8().constData()});
    EXPECT_EQ(wrong.exit, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("PKCS#12 文件的密码不对"))) << wrong.err.toStdString();
    writePasswords(people + signerPfx.toUtf8() + "\tpfx-pw\n");
    const CliRun notCa = withPasswords("lab", {"--import-key", signerPfx.toUtf8().constData()});
    EXPECT_EQ(notCa.exit, 2);
    EXPECT_TRUE(notCa.err.contains(QStringLiteral("不能签发人员的证书"))) << notCa.err.toStdString();
    const QString big = write(QStringLiteral("录像.pfx"), QByteArray(2 << 20, '\x30'));
    writePasswords(people + big.toUtf8() + "\tpfx-pw\n");
    const CliRun tooBig = withPasswords("lab", {"--import-key", big.toUtf8().constData()});
    EXPECT_EQ(tooBig.exit, 2);
    EXPECT_TRUE(tooBig.err.contains(QStringLiteral("不是 PKCS#12（.pfx/.p12）密钥文件"))) << tooBig.err.toStdString();
    EXPECT_EQ(cmd("lab", {"--export-certificate", crt.toUtf8().constData()}).exit, 1) << "no refusal kept a key";

    writePasswords(people + labPfx.toUtf8() + "\tpfx-pw\n");
    const CliRun imported = withPasswords("lab", {"--import-key", labPfx.toUtf8().constData()});
    ASSERT_EQ(imported.exit, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.err.contains(sf6::keys::fingerprint(issued.lab.get()))) << imported.err.toStdString();
    ASSERT_EQ(cmd("lab", {"--export-certificate", crt.toUtf8().constData()}).exit, 0);
    addPeople();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "张三", "--checker", "李四"}).exit, 0);
    const QString pdf = dir.filePath(QStringLiteral("cert.pdf"));
    const CliRun approved = withPasswords("approve", {"--certificate", number(1).toUtf8().constData(), "--approver", "王五",
                                                     "--pdf", pdf.toUtf8().constData()});
    ASSERT_EQ(approved.exit, 0) << approved.err.toStdString();

    const CliRun verified = cmd("verify", {"--trust", crt.toUtf8().constData()});
    EXPECT_EQ(verified.exit, 0) << verified.err.toStdString();
    const CliRun genuine = sf6cli({QStringLiteral("verify-pdf"), pdf, QStringLiteral("--trust"), crt,
                                   QStringLiteral("--archive"), archive});
    EXPECT_EQ(genuine.exit, 0) << genuine.err.toStdString() << genuine.out.toStdString();
}

TEST_F(CliSignatures, aPasswordChangedAndASignatureRewrittenByHand)
{
    setUpPeople();
    ASSERT_FALSE(HasFatalFailure());
    writePasswords("张三\tzs\n张三\tzs-new\n李四\tls\n");
    const CliRun changed = withPasswords("person", {"--name", "张三", "--new-password"});
    ASSERT_EQ(changed.exit, 0) << changed.err.toStdString();
    const CliRun old = withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "张三", "--checker", "李四"});
    EXPECT_EQ(old.exit, 1);
    EXPECT_TRUE(old.err.contains(QStringLiteral("张三的密码不对"))) << old.err.toStdString();
    writePasswords("张三\tzs-new\n李四\tls\n");
    ASSERT_EQ(withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "张三", "--checker", "李四"}).exit, 0);
    const CliRun people = cmd("people");
    EXPECT_TRUE(people.out.contains(QStringLiteral("张三\t校验员\t在用\t2\t"))) << people.out.toStdString();

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        db.setDatabaseName(archive);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER signatures_kept_update")));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE signatures SET person = '王五' WHERE role = '核验员'")));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TRIGGER signatures_kept_update BEFORE UPDATE ON signatures BEGIN "
                                          "SELECT RAISE(ABORT, '存档中的记录、证书和审计记录按原样保存，不能修改或删除'); END")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
    const CliRun v = cmd("verify");
    EXPECT_EQ(v.exit, 7);
    EXPECT_TRUE(v.err.contains(QStringLiteral("证书 %1 的核验员（王五）签名与签名人的证书不符").arg(number(1)))) << v.err.toStdString();
    EXPECT_TRUE(v.err.contains(QStringLiteral("证书 %1 的核验员是 李四，签名的却是 王五").arg(number(1)))) << v.err.toStdString();
    const CliRun one = cmd("verify", {"--certificate", number(1).toUtf8().constData()});
    EXPECT_EQ(one.exit, 7) << "the certificate's own check reads its signatures too";
    EXPECT_TRUE(one.err.contains(QStringLiteral("证书 %1 的核验员（王五）签名与签名人的证书不符").arg(number(1)))) << one.err.toStdString();
}

// What the customer gets: the approver signs the PDF at approval and at each
// reprint; the lab's outside copy finds it genuine, one byte changed is not,
// and no password means no PDF rather than an unsigned one.
TEST_F(CliSignatures, theApprovedPdfIsSignedByItsApproverAndCheckedByTheCustomer)
{
    setUpPeople();
    ASSERT_FALSE(HasFatalFailure());
    const QString crt = dir.filePath(QStringLiteral("lab.crt"));
    ASSERT_EQ(cmd("lab", {"--export-certificate", crt.toUtf8().constData()}).exit, 0);
    const QString unapproved = dir.filePath(QStringLiteral("unapproved.pdf"));
    const CliRun issued = withPasswords("certify", {"--record", "1", "--standard", "S1", "--tester", "张三", "--checker",
                                                    "李四", "--pdf", unapproved.toUtf8().constData()});
    ASSERT_EQ(issued.exit, 0) << issued.err.toStdString();
    const CliRun early = sf6cli({QStringLiteral("verify-pdf"), unapproved, QStringLiteral("--trust"), crt});
    EXPECT_EQ(early.exit, 7) << "an unapproved certificate's PDF is not signed";

    // The address the lab's customers check at, set in its profile, goes into the QR code.
    const CliRun address = cmd("lab", {"--verification-address", "https://lab.example.cn/核对"});
    ASSERT_EQ(address.exit, 0) << address.err.toStdString();
    EXPECT_TRUE(address.out.endsWith(QStringLiteral("核验地址\thttps://lab.example.cn/核对\n"))) << address.out.toStdString();
    const QString pdf = dir.filePath(QStringLiteral("approved.pdf"));
    const CliRun approved = withPasswords("approve", {"--certificate", number(1).toUtf8().constData(), "--approver", "王五",
                                                      "--pdf", pdf.toUtf8().constData()});
    ASSERT_EQ(approved.exit, 0) << approved.err.toStdString();
    const CliRun verified = cmd("verify", {"--trust", crt.toUtf8().constData()});
    EXPECT_EQ(verified.exit, 0) << verified.err.toStdString();
    {
        QProcess render;
        render.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-f"), QStringLiteral("1"),
                                                  QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                                                  QStringLiteral("-png"), pdf, dir.filePath(QStringLiteral("page1"))});
        ASSERT_TRUE(render.waitForFinished(60000));
        QProcess decode;
        decode.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), dir.filePath(QStringLiteral("page1.png"))});
        ASSERT_TRUE(decode.waitForFinished(60000));
        const QString qr = QString::fromUtf8(decode.readAllStandardOutput());
        EXPECT_TRUE(qr.contains(QStringLiteral("核验地址：https://lab.example.cn/核对"))) << qr.toStdString();
        EXPECT_TRUE(qr.contains(number(1))) << qr.toStdString();
    }
    const CliRun genuine = sf6cli({QStringLiteral("verify-pdf"), pdf, QStringLiteral("--trust"), crt,
                                   QStringLiteral("--archive"), archive});
    EXPECT_EQ(genuine.exit, 0) << genuine.out.toStdString() << genuine.err.toStdString();
    EXPECT_TRUE((genuine.out + genuine.err).contains(QStringLiteral("王五"))) << genuine.out.toStdString();
    const CliRun byArchive = sf6cli({QStringLiteral("verify-pdf"), pdf, QStringLiteral("--archive"), archive});
    EXPECT_EQ(byArchive.exit, 0) << byArchive.out.toStdString() << byArchive.err.toStdString();
    EXPECT_TRUE(byArchive.out.contains(QStringLiteral("实验室证书取自存档"))) << byArchive.out.toStdString();

    const QString reprint = dir.filePath(QStringLiteral("reprint.pdf"));
    const CliRun noPassword = cmd("certificate", {"--number", number(1).toUtf8().constData(), "--pdf",
                                                  reprint.toUtf8().constData()});
    EXPECT_EQ(noPassword.exit, 2) << noPassword.err.toStdString();
    EXPECT_FALSE(QFile::exists(reprint));
    const CliRun again = withPasswords("certificate", {"--number", number(1).toUtf8().constData(), "--pdf",
                                                       reprint.toUtf8().constData()});
    ASSERT_EQ(again.exit, 0) << again.err.toStdString();
    EXPECT_EQ(sf6cli({QStringLiteral("verify-pdf"), reprint, QStringLiteral("--trust"), crt}).exit, 0);

    QFile f(reprint);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    const qsizetype at = bytes.indexOf("/MediaBox");
    ASSERT_GT(at, 0);
    bytes[at + 1] = 'm';
    f.seek(0);
    f.write(bytes);
    f.close();
    const CliRun altered = sf6cli({QStringLiteral("verify-pdf"), reprint, QStringLiteral("--trust"), crt});
    EXPECT_EQ(altered.exit, 7) << altered.out.toStdString();
}
