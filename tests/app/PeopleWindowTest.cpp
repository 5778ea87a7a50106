// 工具 → 人员 on a real archive: the lab's key made from the window, people
// added, changed and retired with the lab's password typed in masked
// fields, refusals that save nothing, and one's own password changed so
// that only the new one opens the key.
#include "app/TForm1.h"
#include "certificate/People.h"
#include "certificate/Keys.h"
#include "certificate/TPeopleForm.h"
#include "tests/certificate/TestSigners.h"
#include "tests/app/WindowDriver.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <deque>

namespace {

const QString kLab = QStringLiteral("实验室-密码");
const QString kName = QStringLiteral("张三");

// Answers the window's questions in turn, as typed; a question beyond them is cancelled.
class TypedAnswers {
public:
    TypedAnswers(std::initializer_list<QString> typed) : typed_(typed)
    {
        ui::TextInputs::setHandler([this](const ui::TextRequest& r) -> std::optional<QString> {
            requests.push_back(r);
            if (typed_.empty())
                return std::nullopt;
            QString t = typed_.front();
            typed_.pop_front();
            return t;
        });
    }
    ~TypedAnswers() { ui::TextInputs::setHandler({}); }
    TypedAnswers(const TypedAnswers&) = delete;
    TypedAnswers& operator=(const TypedAnswers&) = delete;

    bool allSecret() const
    {
        return std::all_of(requests.begin(), requests.end(), [](const ui::TextRequest& r) { return r.secret; });
    }
    std::vector<ui::TextRequest> requests;

private:
    std::deque<QString> typed_;
};

class PeopleWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
        w->setArchiveLocation(location);
        ASSERT_NE(w->archive(), nullptr);
    }
    void TearDown() override
    {
        testsupport::deleteTopLevels<TPeopleForm>();
        w.reset();
    }
    TPeopleForm* openPeople()
    {
        TPeopleForm* opened = nullptr;
        const auto c = QObject::connect(w.get(), &TForm1::peopleOpened, [&](TPeopleForm* f) { opened = f; });
        w->N25Click();
        QObject::disconnect(c);
        return opened;
    }
    static int rowOf(const TPeopleForm* f, const QString& name)
    {
        for (int row = 0; row < f->PeopleGrid->rowCount(); ++row)
            if (f->PeopleGrid->item(row, 0)->text() == name)
                return row;
        return -1;
    }
    static QString cell(const TPeopleForm* f, const QString& name, int column)
    {
        const int row = rowOf(f, name);
        return row < 0 ? QString() : f->PeopleGrid->item(row, column)->text();
    }
    std::optional<sf6::PersonVersion> person(const QString& name) const
    {
        auto found = sf6::findPerson(*w->archive(), name);
        return found ? *found : std::nullopt;
    }

    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(PeopleWindow, peopleFollowTheBackupInTheToolsMenuAndNeedAnArchive)
{
    const QList<QAction*> tools = w->N5->actions();
    const qsizetype backup = tools.indexOf(w->N24);
    ASSERT_GE(backup, 0);
    ASSERT_GT(tools.size(), backup + 1);
    EXPECT_EQ(tools[backup + 1], w->N25);
    EXPECT_EQ(w->N25->objectName(), QStringLiteral("N25"));

    TForm1 without;   // --no-archive
    without.N25Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.messages.back().text.contains(QStringLiteral("--no-archive")));
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TPeopleForm*>(top) && top->isVisible());
}

TEST_F(PeopleWindow, theLabKeyIsMadeWithATypedPasswordAndItsCertificateExported)
{
    TPeopleForm* f = openPeople();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->lbLabKey->text(), TPeopleForm::kNoLabKey);
    EXPECT_FALSE(f->btnAdd->isEnabled()) << "no one signs before the lab has a key";
    EXPECT_FALSE(f->btnExportCertificate->isEnabled());
    {
        TypedAnswers typed{kLab, QStringLiteral("不一样")};
        f->btnCreateKey->click();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages.back().text, TPeopleForm::kPasswordsDiffer);
        EXPECT_FALSE(sf6::currentLabKey(*w->archive())->has_value());
    }
    TypedAnswers typed{kLab, kLab};
    f->btnCreateKey->click();
    EXPECT_EQ(typed.requests.size(), 2u);
    EXPECT_TRUE(typed.allSecret());
    const auto key = sf6::currentLabKey(*w->archive());
    ASSERT_TRUE(key && key->has_value());
    EXPECT_TRUE(f->lbLabKey->text().contains((*key)->fingerprint)) << f->lbLabKey->text().toStdString();
    EXPECT_FALSE(f->btnCreateKey->isEnabled());
    EXPECT_TRUE(f->btnAdd->isEnabled());

    // The key is locked under what was typed: a person is issued with it, not with another.
    sf6::PersonChange c{QStringLiteral("王五"), QStringList{sf6::roles::kApprover}, false, false,
                        QStringLiteral("别的"), QStringLiteral("pw")};
    EXPECT_EQ(sf6::savePerson(*w->archive(), c).code(), sf6::ErrorCode::WrongPassword);
    c.labPassword = kLab;
    EXPECT_TRUE(sf6::savePerson(*w->archive(), c).ok());

    const QString pem = dir.filePath(QStringLiteral("实验室证书.pem"));
    ui::SaveAnswer save(pem);
    f->btnExportCertificate->click();
    QFile file(pem);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), (*key)->certificatePem);
}

TEST_F(PeopleWindow, aLabKeyIsImportedFromAnAuthoritysPfxWithItsPasswordTypedMasked)
{
    const certtest::AuthorityIssuedLab issued;
    X509* lab = issued.lab.get();
    const QString file = dir.filePath(QStringLiteral("实验室 密钥.pfx"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(certtest::pfx(issued.labKey.get(), lab, {issued.root.get()}, QStringLiteral("pfx-pw"), false));
    }
    TPeopleForm* f = openPeople();
    ASSERT_NE(f, nullptr);
    ui::OpenAnswer open({file});
    {
        TypedAnswers typed{QStringLiteral("不对"), kLab, kLab};
        f->btnImportKey->click();
        EXPECT_TRUE(typed.allSecret());
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages.back().text, QStringLiteral("PKCS#12 文件的密码不对"));
        EXPECT_FALSE(sf6::currentLabKey(*w->archive())->has_value());
    }
    TypedAnswers typed{QStringLiteral("pfx-pw"), kLab, kLab};
    f->btnImportKey->click();
    EXPECT_EQ(typed.requests.size(), 3u) << "the file's password, then the lab's twice";
    EXPECT_TRUE(typed.allSecret());
    const auto key = sf6::currentLabKey(*w->archive());
    ASSERT_TRUE(key && key->has_value()) << messages.messages.back().text.toStdString();
    EXPECT_EQ((*key)->fingerprint, sf6::keys::fingerprint(lab));
    EXPECT_TRUE(f->lbLabKey->text().contains((*key)->fingerprint));
    EXPECT_FALSE(f->btnImportKey->isEnabled());
    EXPECT_TRUE(f->btnAdd->isEnabled());
    // Locked under the lab's password typed here; the people's certificates chain to the imported one.
    sf6::PersonChange c{QStringLiteral("王五"), QStringList{sf6::roles::kApprover}, false, false, kLab, QStringLiteral("pw")};
    ASSERT_TRUE(sf6::savePerson(*w->archive(), c).ok());
    auto signer = sf6::unlockPerson(*w->archive(), QStringLiteral("王五"), QStringLiteral("pw"));
    ASSERT_TRUE(signer.ok()) << signer.error().toStdString();
    EXPECT_TRUE(sf6::keys::issuedBy(signer->certificate.get(), lab));
}

TEST_F(PeopleWindow, aPersonIsAddedChangedAndRetiredWithTheLabsPasswordAndNeverDeleted)
{
    ASSERT_TRUE(sf6::createLabKey(*w->archive(), kLab).ok());
    TPeopleForm* f = openPeople();
    ASSERT_NE(f, nullptr);
    f->edName->setText(kName);
    {
        // No role: told before any password is asked.
        TypedAnswers typed{kLab, QStringLiteral("zs-1"), QStringLiteral("zs-1")};
        f->btnAdd->click();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_TRUE(messages.messages.back().text.contains(QStringLiteral("角色")));
        EXPECT_TRUE(typed.requests.empty());
        EXPECT_FALSE(person(kName));
        messages.messages.clear();
    }
    f->cbTester->setChecked(true);
    {
        TypedAnswers typed{QStringLiteral("猜的"), QStringLiteral("zs-1"), QStringLiteral("zs-1")};
        f->btnAdd->click();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_TRUE(messages.messages.back().text.contains(QStringLiteral("密码"))) << messages.messages.back().text.toStdString();
        EXPECT_FALSE(person(kName)) << "a wrong lab password adds no one";
        EXPECT_EQ(f->PeopleGrid->rowCount(), 0);
    }
    {
        TypedAnswers typed{kLab, QStringLiteral("zs-1"), QStringLiteral("zs-2")};
        f->btnAdd->click();
        ASSERT_EQ(messages.messages.size(), 2u);
        EXPECT_EQ(messages.messages.back().text, TPeopleForm::kPasswordsDiffer);
        EXPECT_FALSE(person(kName));
    }
    {
        TypedAnswers typed{kLab, QStringLiteral("zs-1"), QStringLiteral("zs-1")};
        f->btnAdd->click();
        EXPECT_EQ(messages.messages.size(), 2u) << messages.messages.back().text.toStdString();
        EXPECT_EQ(typed.requests.size(), 3u);
        EXPECT_TRUE(typed.allSecret());
    }
    ASSERT_EQ(f->PeopleGrid->rowCount(), 1);
    EXPECT_EQ(cell(f, kName, 1), sf6::roles::kTester);
    EXPECT_EQ(cell(f, kName, TPeopleForm::kStateColumn), TPeopleForm::kActive);
    EXPECT_EQ(cell(f, kName, 3), QStringLiteral("1"));
    EXPECT_EQ(cell(f, kName, TPeopleForm::kFingerprintColumn), person(kName)->fingerprint);
    EXPECT_TRUE(sf6::unlockSigner(*w->archive(), kName, QStringLiteral("zs-1"), sf6::roles::kTester).ok());

    // Roles changed: a wrong lab password changes nothing, the right one makes version 2.
    f->cbChecker->setChecked(true);
    {
        TypedAnswers typed{QStringLiteral("猜的")};
        f->btnSave->click();
        EXPECT_EQ(messages.messages.size(), 3u);
        EXPECT_EQ(person(kName)->version, 1);
    }
    {
        TypedAnswers typed{kLab};
        f->btnSave->click();
        EXPECT_EQ(messages.messages.size(), 3u) << messages.messages.back().text.toStdString();
        EXPECT_TRUE(typed.allSecret());
    }
    EXPECT_EQ(person(kName)->roles, (QStringList{sf6::roles::kTester, sf6::roles::kChecker}));
    EXPECT_EQ(cell(f, kName, 3), QStringLiteral("2"));
    EXPECT_TRUE(cell(f, kName, 1).contains(sf6::roles::kChecker));
    EXPECT_TRUE(sf6::unlockSigner(*w->archive(), kName, QStringLiteral("zs-1"), sf6::roles::kChecker).ok());

    {
        TypedAnswers typed{kLab};
        f->btnRetire->click();
    }
    EXPECT_EQ(cell(f, kName, TPeopleForm::kStateColumn), TPeopleForm::kRetired);
    EXPECT_TRUE(person(kName)->retired);
    EXPECT_EQ(sf6::unlockSigner(*w->archive(), kName, QStringLiteral("zs-1"), sf6::roles::kTester).code(),
              sf6::ErrorCode::PersonRetired);
    // Still listed after reopening: retired, not deleted.
    f->close();
    TPeopleForm* again = openPeople();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(cell(again, kName, TPeopleForm::kStateColumn), TPeopleForm::kRetired);
    again->PeopleGridClick(rowOf(again, kName));
    EXPECT_TRUE(again->cbTester->isChecked() && again->cbChecker->isChecked() && !again->cbApprover->isChecked());
}

TEST_F(PeopleWindow, onesOwnPasswordIsChangedWithTheOldOneOnly)
{
    ASSERT_TRUE(sf6::createLabKey(*w->archive(), kLab).ok());
    sf6::PersonChange c{kName, QStringList{sf6::roles::kTester}, false, false, kLab, QStringLiteral("zs-1")};
    ASSERT_TRUE(sf6::savePerson(*w->archive(), c).ok());
    TPeopleForm* f = openPeople();
    ASSERT_NE(f, nullptr);
    f->PeopleGridClick(rowOf(f, kName));
    EXPECT_EQ(f->edName->text(), kName);
    {
        TypedAnswers typed{QStringLiteral("猜的"), QStringLiteral("zs-2"), QStringLiteral("zs-2")};
        f->btnPassword->click();
        ASSERT_EQ(messages.messages.size(), 1u);
    }
    {
        TypedAnswers typed{QStringLiteral("zs-1"), QStringLiteral("zs-2"), QStringLiteral("zs-2")};
        f->btnPassword->click();
        EXPECT_EQ(messages.messages.size(), 1u) << messages.messages.back().text.toStdString();
        EXPECT_EQ(typed.requests.size(), 3u);
        EXPECT_TRUE(typed.allSecret());
    }
    EXPECT_TRUE(sf6::unlockPerson(*w->archive(), kName, QStringLiteral("zs-2")).ok());
    EXPECT_EQ(sf6::unlockPerson(*w->archive(), kName, QStringLiteral("zs-1")).code(), sf6::ErrorCode::WrongPassword);
    EXPECT_EQ(cell(f, kName, 3), QStringLiteral("2"));

    // A forgotten password: a new key with the lab's password.
    {
        TypedAnswers typed{kLab, QStringLiteral("zs-3"), QStringLiteral("zs-3")};
        f->btnNewKey->click();
        EXPECT_EQ(messages.messages.size(), 1u) << messages.messages.back().text.toStdString();
    }
    EXPECT_TRUE(sf6::unlockPerson(*w->archive(), kName, QStringLiteral("zs-3")).ok());
    EXPECT_EQ(sf6::unlockPerson(*w->archive(), kName, QStringLiteral("zs-2")).code(), sf6::ErrorCode::WrongPassword);
}
