// The certificate windows on a real archive: the lab profile and the
// standards saved from their windows, a certificate issued from the history
// window with its PDF, the refusals that issue nothing, and approval and
// amendment from the certificates window.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "archive/HistoryModel.h"
#include "archive/THistoryForm.h"
#include "certificate/Certificate.h"
#include "ops/PdfCheck.h"
#include "certificate/CertificatePages.h"
#include "certificate/People.h"
#include "certificate/TCertificatesForm.h"
#include "certificate/TCertifyDialog.h"
#include "certificate/TLabForm.h"
#include "certificate/TStandardsForm.h"
#include "register/RelayRegister.h"
#include "report/TForm4.h"
#include "sim/Records.h"
#include "tests/app/WindowDriver.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "ui/Choices.h"
#include "ui/TextInputs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

namespace {

const QString kStandard = QStringLiteral("STD-01");

template <class Window>
Window* topWindow()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* w = qobject_cast<Window*>(top); w && w->isVisible())
            return w;
    return nullptr;
}

QPushButton* button(QWidget* window, const QString& text)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

#ifndef _WIN32
// The PDF's text read back with the host's poppler: not under Wine, which
// starts Unix programs but cannot wait for them.
QString pdfText(const QString& file)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}
#endif

class CertificateWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
        w->setArchiveLocation(location);
        ASSERT_NE(w->archive(), nullptr);
        // Three tests of 2012-05-01, -02 and -03; the first two of relay R-1, the last of none.
        sf6::SyncLog log;
        log.when = sf6::Archive::now();
        log.program = QStringLiteral("test");
        log.records = sim::plausibleRecords(3);
        log.recordTotal = 3;
        const auto stored = sf6::archiveSync(*w->archive(), log);
        ASSERT_TRUE(stored.ok()) << stored.error().toStdString();
        ids = stored->recordIds;
        sf6::RelayEntry relay;
        relay.serial = QStringLiteral("R-1");
        relay.name = QStringLiteral("主变A相");
        relay.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
        ASSERT_TRUE(sf6::saveRelay(*w->archive(), relay, QStringLiteral("test")).ok());
        ASSERT_TRUE(sf6::linkRecords(*w->archive(), {ids[0], ids[1]}, relay.serial, QStringLiteral("test")).ok());
    }
    void TearDown() override
    {
        testsupport::deleteTopLevels<THistoryForm, TLabForm, TStandardsForm, TCertificatesForm, QPrintPreviewDialog>();
        w.reset();
    }
    void saveLab()
    {
        sf6::LabTexts lab;
        lab.name = QStringLiteral("华东电力试验研究院");
        ASSERT_TRUE(sf6::saveLab(*w->archive(), lab).ok());
    }
    void saveStandard(const QString& serial, const QString& validUntil)
    {
        sf6::StandardTexts s;
        s.name = QStringLiteral("数字压力校验仪");
        s.certificate = QStringLiteral("JZ-2011-778");
        s.validUntil = validUntil;
        ASSERT_TRUE(sf6::saveStandard(*w->archive(), serial, s).ok());
    }
    THistoryForm* openHistory()
    {
        THistoryForm* opened = nullptr;
        const auto c = QObject::connect(w.get(), &TForm1::historyOpened, [&](THistoryForm* h) { opened = h; });
        w->N15Click();
        QObject::disconnect(c);   // a later window must not write here
        return opened;
    }
    // The history window with one record selected, its 出具证书 clicked.
    TCertifyDialog* certifyDialog(int recordId)
    {
        THistoryForm* h = openHistory();
        if (!h)
            return nullptr;
        for (int row = 0; row < h->Model->rowCount(); ++row)
            if (h->Model->recordId(row) == recordId)
                h->HistoryGrid->selectRow(row);
        QPushButton* b = button(h, TCertifyDialog::kCommandCaption);
        if (!b)
            return nullptr;
        b->click();
        const auto dialogs = h->findChildren<TCertifyDialog*>();
        return dialogs.isEmpty() ? nullptr : dialogs.back();
    }
    static void fillSigners(TCertifyDialog* d, const QString& tester, const QString& checker)
    {
        d->edTester->setText(tester);
        d->edChecker->setText(checker);
        d->edHumidity->setText(QStringLiteral("55"));
    }
    static void chooseStandard(TCertifyDialog* d, const QString& serial)
    {
        for (int i = 0; i < d->cbStandard->count(); ++i)
            if (d->cbStandard->itemText(i).startsWith(serial))
                d->cbStandard->setCurrentIndex(i);
    }
    std::vector<sf6::CertificateListing> certificates() const { return *sf6::listCertificates(*w->archive()); }
    static QString cell(QTableWidget* t, int row, int column) { return t->item(row, column)->text(); }

    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    std::vector<int> ids;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(CertificateWindow, theCertificateCommandsFollowImportInTheToolsMenuAndNeedAnArchive)
{
    const QList<QAction*> tools = w->N5->actions();
    const qsizetype import = tools.indexOf(w->N17);
    ASSERT_GE(import, 0);
    ASSERT_GT(tools.size(), import + 3);
    EXPECT_EQ(tools[import + 1], w->N18);
    EXPECT_EQ(tools[import + 2], w->N19);
    EXPECT_EQ(tools[import + 3], w->N20);
    EXPECT_EQ(w->N18->text(), QStringLiteral("实验室信息(&A)"));
    EXPECT_EQ(w->N19->text(), QStringLiteral("标准器(&N)"));
    EXPECT_EQ(w->N20->text(), QStringLiteral("证书(&E)"));
    w->N6Click();   // connecting: the archive's commands stay on, as the history's do
    EXPECT_TRUE(w->N18->isEnabled() && w->N19->isEnabled() && w->N20->isEnabled());
    w->Timer1->stop();

    TForm1 without;   // --no-archive
    without.N18Click();
    without.N19Click();
    without.N20Click();
    EXPECT_EQ(messages.messages.size(), 3u);
    EXPECT_EQ(topWindow<TLabForm>(), nullptr);
    EXPECT_EQ(topWindow<TStandardsForm>(), nullptr);
    EXPECT_EQ(topWindow<TCertificatesForm>(), nullptr);
}

TEST_F(CertificateWindow, theLabFormSavesEachChangeAsANewVersion)
{
    w->N18Click();
    TLabForm* f = topWindow<TLabForm>();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->edName->text().isEmpty());
    EXPECT_EQ(f->edPrefix->text(), sf6::kDefaultCertificatePrefix);
    f->edName->setText(QStringLiteral("华东电力试验研究院"));
    f->edPhone->setText(QStringLiteral("021-5555"));
    f->edPrefix->setText(QStringLiteral("HD"));
    f->btnSave->click();
    EXPECT_TRUE(messages.messages.empty());
    auto lab = sf6::currentLab(*w->archive());
    ASSERT_TRUE(lab.ok() && lab->has_value());
    EXPECT_EQ((*lab)->name, QStringLiteral("华东电力试验研究院"));
    EXPECT_EQ((*lab)->prefix, QStringLiteral("HD"));
    EXPECT_EQ((*lab)->version, 1);
    EXPECT_TRUE(f->lbVersion->text().contains(QStringLiteral("第1版")));

    f->edAddress->setText(QStringLiteral("上海市"));
    f->edVerificationAddress->setText(QStringLiteral(" https://lab.example.cn/check "));
    f->btnSave->click();
    lab = sf6::currentLab(*w->archive());
    EXPECT_EQ((*lab)->version, 2);
    EXPECT_EQ((*lab)->address, QStringLiteral("上海市"));
    EXPECT_EQ((*lab)->verificationAddress, QStringLiteral("https://lab.example.cn/check"));
    EXPECT_EQ((*lab)->phone, QStringLiteral("021-5555"));
    EXPECT_TRUE(f->lbVersion->text().contains(QStringLiteral("第2版")));

    // A change saved elsewhere meanwhile keeps its field; a refused prefix is told and stores nothing.
    sf6::LabTexts elsewhere;
    elsewhere.phone = QStringLiteral("021-6666");
    ASSERT_TRUE(sf6::saveLab(*w->archive(), elsewhere).ok());
    f->edPrefix->setText(QStringLiteral("HD/01"));
    f->btnSave->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(sf6::currentLab(*w->archive())->value().version, 3);
    f->edPrefix->setText(QStringLiteral("HD-01"));
    f->btnSave->click();
    lab = sf6::currentLab(*w->archive());
    EXPECT_EQ((*lab)->version, 4);
    EXPECT_EQ((*lab)->prefix, QStringLiteral("HD-01"));
    EXPECT_EQ((*lab)->phone, QStringLiteral("021-6666"));
    EXPECT_EQ(f->edPhone->text(), QStringLiteral("021-6666"));

    // A window opened later shows the current version.
    f->close();
    w->N18Click();
    TLabForm* again = topWindow<TLabForm>();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->edAddress->text(), QStringLiteral("上海市"));
    EXPECT_EQ(again->edPrefix->text(), QStringLiteral("HD-01"));
    EXPECT_EQ(again->edVerificationAddress->text(), QStringLiteral("https://lab.example.cn/check"));
}

TEST_F(CertificateWindow, theStandardsFormAddsEditsAndMarksAnExpiredStandard)
{
    w->N19Click();
    TStandardsForm* f = topWindow<TStandardsForm>();
    ASSERT_NE(f, nullptr);
    f->setToday(QDate(2026, 6, 1));
    f->btnNewClick();
    f->edSerial->setText(kStandard);
    f->edName->setText(QStringLiteral("数字压力校验仪"));
    f->edCertificate->setText(QStringLiteral("JZ-2025-101"));
    f->edValidUntil->setText(QStringLiteral("2027-03-31"));
    f->edUncertainty->setText(QStringLiteral("0.05级"));
    f->btnSave->click();
    ASSERT_EQ(f->StandardGrid->rowCount(), 1);
    EXPECT_EQ(cell(f->StandardGrid, 0, 0), kStandard);
    EXPECT_EQ(cell(f->StandardGrid, 0, TStandardsForm::kStateColumn), TStandardsForm::kValid);

    // An edit is the standard's next version, the other fields kept.
    f->StandardGridClick(0);
    f->edIssuer->setText(QStringLiteral("上海市计量测试技术研究院"));
    f->btnSave->click();
    auto found = sf6::findStandard(*w->archive(), kStandard);
    ASSERT_TRUE(found.ok() && found->has_value());
    EXPECT_EQ((*found)->version, 2);
    EXPECT_EQ((*found)->issuer, QStringLiteral("上海市计量测试技术研究院"));
    EXPECT_EQ((*found)->certificate, QStringLiteral("JZ-2025-101"));
    EXPECT_EQ(f->StandardGrid->rowCount(), 1);

    f->btnNewClick();
    f->edSerial->setText(QStringLiteral("STD-OLD"));
    f->edValidUntil->setText(QStringLiteral("2026-05-31"));
    f->btnSave->click();
    ASSERT_EQ(f->StandardGrid->rowCount(), 2);
    for (int r = 0; r < 2; ++r)
        if (cell(f->StandardGrid, r, 0) == QStringLiteral("STD-OLD")) {
            EXPECT_EQ(cell(f->StandardGrid, r, TStandardsForm::kStateColumn), TStandardsForm::kExpired);
            EXPECT_EQ(f->StandardGrid->item(r, 0)->background().color(), TStandardsForm::kExpiredColour);
        }
    EXPECT_TRUE(messages.messages.empty());

    // A date that is none is refused by the core's message and stores nothing.
    f->btnNewClick();
    f->edSerial->setText(QStringLiteral("STD-BAD"));
    f->edValidUntil->setText(QStringLiteral("2027-13-01"));
    f->btnSave->click();
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(f->StandardGrid->rowCount(), 2);
    EXPECT_FALSE(sf6::findStandard(*w->archive(), QStringLiteral("STD-BAD"))->has_value());
}

TEST_F(CertificateWindow, certifyingFromTheHistoryIssuesANumberAndAPdfThatHoldsIt)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    TCertifyDialog* d = certifyDialog(ids[1]);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->lbLab->text().contains(QStringLiteral("华东电力试验研究院")));
    EXPECT_TRUE(d->lbRelay->text().contains(QStringLiteral("R-1")));
    EXPECT_TRUE(d->btnOK->isEnabled());
    EXPECT_FALSE(d->btnSavePdf->isEnabled());
    chooseStandard(d, kStandard);
    fillSigners(d, QStringLiteral("张三"), QStringLiteral("李四"));
    d->btnOK->click();
    ASSERT_TRUE(d->issuedCertificate().has_value()) << messages.texts().join(u'\n').toStdString();
    const QString number = d->issuedCertificate()->content.number;
    EXPECT_TRUE(number.startsWith(QStringLiteral("SF6-%1-0001").arg(QDate::currentDate().year())));
    EXPECT_TRUE(d->lbNumber->text().contains(number));
    EXPECT_FALSE(d->btnOK->isEnabled());   // one dialog, one certificate
    ASSERT_EQ(certificates().size(), 1u);
    EXPECT_EQ(certificates().front().recordId, ids[1]);
    EXPECT_EQ(certificates().front().tester, QStringLiteral("张三"));

    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    ui::SaveAnswer answer(pdf);
    ASSERT_TRUE(d->btnSavePdf->isEnabled());
    d->btnSavePdf->click();
    ASSERT_EQ(answer.requests.size(), 1u);
    // In the folder last saved to, named after the number.
    EXPECT_EQ(QFileInfo(answer.requests.front().initialName).fileName(), number + QStringLiteral(".pdf"));
    ASSERT_TRUE(QFile::exists(pdf));
#ifndef _WIN32
    EXPECT_TRUE(pdfText(pdf).contains(number));
#endif
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(CertificateWindow, aRefusedCertificateIsToldAndIssuesNothing)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    saveStandard(QStringLiteral("STD-OLD"), QStringLiteral("2012-04-30"));   // before the test of 2012-05-02

    TCertifyDialog* d = certifyDialog(ids[1]);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->cbStandard->itemText(1).contains(QStringLiteral("已过期")) ||
                d->cbStandard->itemText(0).contains(QStringLiteral("已过期")));
    chooseStandard(d, kStandard);
    fillSigners(d, QStringLiteral("张三"), QStringLiteral("张三"));
    d->btnOK->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_FALSE(d->issuedCertificate().has_value());
    EXPECT_TRUE(d->btnOK->isEnabled());

    chooseStandard(d, QStringLiteral("STD-OLD"));
    d->edChecker->setText(QStringLiteral("李四"));
    d->btnOK->click();
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages.back().text, sf6::standardExpiredText(QStringLiteral("STD-OLD"), QStringLiteral("2012-04-30"),
                                                                       QStringLiteral("2012-05-02")));
    EXPECT_FALSE(d->issuedCertificate().has_value());
    EXPECT_TRUE(certificates().empty());

    // The refusals took no number.
    chooseStandard(d, kStandard);
    d->btnOK->click();
    ASSERT_TRUE(d->issuedCertificate().has_value());
    EXPECT_TRUE(d->issuedCertificate()->content.number.endsWith(QStringLiteral("-0001")));
}

// Once the lab has a signing key the dialog asks each signer's password,
// masked; a wrong one is told and issues nothing, and no password stays.
TEST_F(CertificateWindow, aSignedArchiveAsksTheSignersPasswordsMasked)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    TCertifyDialog* unsignedDialog = certifyDialog(ids[1]);
    ASSERT_NE(unsignedDialog, nullptr);
    EXPECT_FALSE(unsignedDialog->edTesterPassword->isVisibleTo(unsignedDialog)) << "no key, no password";
    unsignedDialog->close();

    ASSERT_TRUE(sf6::createLabKey(*w->archive(), QStringLiteral("lab")).ok());
    for (const auto& [name, role] : {std::pair{QStringLiteral("张三"), sf6::roles::kTester},
                                     std::pair{QStringLiteral("李四"), sf6::roles::kChecker}}) {
        sf6::PersonChange c;
        c.name = name;
        c.roles = QStringList{role};
        c.labPassword = QStringLiteral("lab");
        c.personPassword = name + QStringLiteral("-pw");
        ASSERT_TRUE(sf6::savePerson(*w->archive(), c).ok());
    }
    TCertifyDialog* d = certifyDialog(ids[1]);
    ASSERT_NE(d, nullptr);
    for (QLineEdit* e : {d->edTesterPassword, d->edCheckerPassword}) {
        EXPECT_TRUE(e->isVisibleTo(d));
        EXPECT_EQ(e->echoMode(), QLineEdit::Password);
    }
    chooseStandard(d, kStandard);
    fillSigners(d, QStringLiteral("张三"), QStringLiteral("李四"));
    d->edTesterPassword->setText(QStringLiteral("张三-pw"));
    d->edCheckerPassword->setText(QStringLiteral("guess"));
    d->btnOK->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.messages.back().text.contains(QStringLiteral("李四的密码不对"))) << messages.messages.back().text.toStdString();
    EXPECT_TRUE(certificates().empty());
    d->edCheckerPassword->setText(QStringLiteral("李四-pw"));
    d->btnOK->click();
    ASSERT_TRUE(d->issuedCertificate().has_value()) << messages.texts().join(u'\n').toStdString();
    EXPECT_TRUE(d->edTesterPassword->text().isEmpty());
    EXPECT_TRUE(d->edCheckerPassword->text().isEmpty());
    EXPECT_EQ(sf6::signaturesOf(*w->archive(), d->issuedCertificate()->id)->size(), 2u);
    // Saved straight away: unapproved, so unsigned, but naming who signed it so far.
    const QString issuedPdf = dir.filePath(QStringLiteral("issued.pdf"));
    {
        ui::SaveAnswer where(issuedPdf);
        d->btnSavePdf->click();
    }
    ASSERT_TRUE(QFile::exists(issuedPdf)) << messages.texts().join(u'\n').toStdString();
#ifndef _WIN32
    const QString issuedText = pdfText(issuedPdf);
    EXPECT_TRUE(issuedText.contains(QStringLiteral("电子签名"))) << issuedText.toStdString();
    EXPECT_TRUE(issuedText.contains(QStringLiteral("未批准"))) << issuedText.toStdString();
#endif

    // Once approved, 保存PDF asks the approver's password and saves the PDF signed.
    sf6::PersonChange approver;
    approver.name = QStringLiteral("王五");
    approver.roles = QStringList{sf6::roles::kApprover};
    approver.labPassword = QStringLiteral("lab");
    approver.personPassword = QStringLiteral("王五-pw");
    ASSERT_TRUE(sf6::savePerson(*w->archive(), approver).ok());
    const QString number = d->issuedCertificate()->content.number;
    ASSERT_TRUE(sf6::approve(*w->archive(), number, approver.name, approver.personPassword).ok());
    w->N20Click();
    TCertificatesForm* f = topWindow<TCertificatesForm>();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->selectNumber(number));
    const QString pdf = dir.filePath(QStringLiteral("signed.pdf"));
    ui::SaveAnswer where(pdf);
    const size_t told = messages.messages.size();
    {
        ui::TextAnswer wrong(QStringLiteral("guess"));
        f->btnSavePdf->click();
        ASSERT_EQ(wrong.requests.size(), 1u);
        EXPECT_TRUE(wrong.requests[0].secret);
    }
    EXPECT_EQ(messages.messages.size(), told + 1) << "a wrong password is told";
    EXPECT_FALSE(QFile::exists(pdf));
    {
        ui::TextAnswer right(approver.personPassword);
        f->btnSavePdf->click();
    }
    ASSERT_TRUE(QFile::exists(pdf)) << messages.texts().join(u'\n').toStdString();
    const auto check = sf6::ops::checkCertificatePdf(pdf, {}, w->archive());
    ASSERT_TRUE(check.ok()) << check.error().toStdString();
    EXPECT_TRUE(check->genuine()) << sf6::ops::pdfCheckReport(*check).toStdString();
}

// A record imported from a file is certified only once the user confirms
// its readings; the certificate then says where they came from.
TEST_F(CertificateWindow, anImportedRecordIsCertifiedOnlyWhenTheUserConfirmsIt)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    sf6::SyncLog imported;
    imported.when = sf6::Archive::now();
    imported.program = QStringLiteral("test");
    imported.port = QStringLiteral("old.xlsx");
    imported.fileSha256 = QString(64, u'c');
    imported.records = {sim::plausibleRecords(4).back()};
    imported.recordTotal = 1;
    const auto stored = sf6::archiveSync(*w->archive(), imported);
    ASSERT_TRUE(stored.ok()) << stored.error().toStdString();
    const int record = stored->recordIds.front();
    ASSERT_TRUE(sf6::linkRecords(*w->archive(), {record}, QStringLiteral("R-1"), QStringLiteral("test")).ok());

    TCertifyDialog* d = certifyDialog(record);
    ASSERT_NE(d, nullptr);
    chooseStandard(d, kStandard);
    fillSigners(d, QStringLiteral("张三"), QStringLiteral("李四"));
    {
        ui::ChoiceAnswer no(-1);
        d->btnOK->click();
        ASSERT_EQ(no.requests.size(), 1u);
        EXPECT_EQ(no.requests.front().label,
                  QStringLiteral("记录 %1 的数据来自导入的文件 old.xlsx，不是从校验仪同步的。确认数据无误，仍要出具证书吗？").arg(record));
    }
    EXPECT_FALSE(d->issuedCertificate().has_value());
    EXPECT_TRUE(certificates().empty());
    EXPECT_TRUE(messages.messages.empty()) << "a question declined is no error";
    {
        ui::ChoiceAnswer yes(0);
        d->btnOK->click();
    }
    ASSERT_TRUE(d->issuedCertificate().has_value()) << messages.texts().join(u'\n').toStdString();
    EXPECT_EQ(d->issuedCertificate()->content.asLeft.source, QStringLiteral("导入 old.xlsx"));
    const QString pdf = dir.filePath(QStringLiteral("imported.pdf"));
    {
        ui::SaveAnswer answer(pdf);
        d->btnSavePdf->click();
    }
    ASSERT_TRUE(QFile::exists(pdf));
#ifndef _WIN32
    EXPECT_TRUE(pdfText(pdf).remove(u' ').contains(QStringLiteral("数据来源：导入old.xlsx"))) << pdfText(pdf).toStdString();
#endif

    // A record from the instrument asks nothing.
    TCertifyDialog* synced = certifyDialog(ids[0]);
    ASSERT_NE(synced, nullptr);
    chooseStandard(synced, kStandard);
    fillSigners(synced, QStringLiteral("张三"), QStringLiteral("李四"));
    ui::ChoiceAnswer asked(-1);
    synced->btnOK->click();
    EXPECT_TRUE(asked.requests.empty());
    EXPECT_TRUE(synced->issuedCertificate().has_value());
}

TEST_F(CertificateWindow, theCommandCertifiesOneLinkedRecord)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    TCertifyDialog* d = certifyDialog(ids[2]);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->lbRelay->text().contains(QStringLiteral("未关联继电器")));
    EXPECT_FALSE(d->btnOK->isEnabled());

    // Two records selected: told, and no dialog.
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    h->HistoryGrid->selectAll();
    button(h, TCertifyDialog::kCommandCaption)->click();
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(h->findChildren<TCertifyDialog*>().isEmpty());
    EXPECT_TRUE(certificates().empty());
}

TEST_F(CertificateWindow, theAsFoundPickerOffersOnlyTheSameRelaysEarlierRecords)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    TCertifyDialog* later = certifyDialog(ids[1]);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->asFoundChoices(), std::vector<int>{ids[0]});
    later->close();
    TCertifyDialog* first = certifyDialog(ids[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->asFoundChoices().empty());
    EXPECT_EQ(first->cbAsFound->count(), 1);   // 无

    // Chosen, it is certified with the record it names.
    later = certifyDialog(ids[1]);
    ASSERT_NE(later, nullptr);
    chooseStandard(later, kStandard);
    fillSigners(later, QStringLiteral("张三"), QStringLiteral("李四"));
    later->cbAsFound->setCurrentIndex(1);
    later->btnOK->click();
    ASSERT_TRUE(later->issuedCertificate().has_value()) << messages.texts().join(u'\n').toStdString();
    ASSERT_TRUE(later->issuedCertificate()->content.asFound.has_value());
    EXPECT_EQ(later->issuedCertificate()->content.asFound->recordId, ids[0]);
}

TEST_F(CertificateWindow, approvalAndAmendmentFromTheCertificatesWindowChangeItsState)
{
    saveLab();
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    sf6::CertifyRequest request;
    request.recordId = ids[1];
    request.standardSerial = kStandard;
    request.tester = QStringLiteral("张三");
    request.checker = QStringLiteral("李四");
    const auto issued = sf6::certify(*w->archive(), request);
    ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
    const QString number = issued->content.number;

    w->N20Click();
    TCertificatesForm* f = topWindow<TCertificatesForm>();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->CertificateGrid->rowCount(), 1);
    EXPECT_EQ(cell(f->CertificateGrid, 0, TCertificatesForm::kNumberColumn), number);
    EXPECT_EQ(cell(f->CertificateGrid, 0, TCertificatesForm::kStateColumn), sf6::kStateUnapproved);

    f->btnApproveClick();   // nothing selected
    EXPECT_EQ(messages.messages.size(), 1u);
    ASSERT_TRUE(f->selectNumber(number));
    {
        ui::TextAnswer cancel(std::nullopt);
        f->btnApprove->click();
        EXPECT_EQ(cancel.requests.size(), 1u);
    }
    EXPECT_EQ(cell(f->CertificateGrid, 0, TCertificatesForm::kStateColumn), sf6::kStateUnapproved);
    {
        ui::TextAnswer approver(QStringLiteral("王五"));
        f->btnApprove->click();
    }
    EXPECT_EQ(cell(f->CertificateGrid, 0, TCertificatesForm::kStateColumn), sf6::kStateApproved);
    EXPECT_EQ(cell(f->CertificateGrid, 0, 7), QStringLiteral("王五"));
    EXPECT_FALSE(cell(f->CertificateGrid, 0, 8).isEmpty());
    EXPECT_FALSE(f->btnApprove->isEnabled());
    {
        ui::TextAnswer again(QStringLiteral("王五"));
        f->btnApproveClick();   // approved twice: the core refuses
    }
    EXPECT_EQ(messages.messages.size(), 2u);

    TCertifyDialog* amend = nullptr;
    QObject::connect(f, &TCertificatesForm::amendmentOpened, [&](TCertifyDialog* d) { amend = d; });
    ASSERT_TRUE(f->selectNumber(number));
    f->btnAmend->click();
    ASSERT_NE(amend, nullptr);
    EXPECT_EQ(amend->edTester->text(), QStringLiteral("张三"));
    amend->btnOK->click();   // no reason yet: the core refuses
    EXPECT_EQ(messages.messages.size(), 3u);
    EXPECT_FALSE(amend->issuedCertificate().has_value());
    amend->edReason->setText(QStringLiteral("湿度记错"));
    amend->edHumidity->setText(QStringLiteral("60"));
    amend->btnOK->click();
    ASSERT_TRUE(amend->issuedCertificate().has_value()) << messages.texts().join(u'\n').toStdString();
    const QString replacement = amend->issuedCertificate()->content.number;
    EXPECT_NE(replacement, number);
    EXPECT_EQ(amend->issuedCertificate()->content.supersedes, number);

    ASSERT_EQ(f->CertificateGrid->rowCount(), 2);
    for (int r = 0; r < 2; ++r) {
        const QString n = cell(f->CertificateGrid, r, TCertificatesForm::kNumberColumn);
        EXPECT_EQ(cell(f->CertificateGrid, r, TCertificatesForm::kStateColumn),
                  n == number ? sf6::kStateSuperseded : sf6::kStateUnapproved);
    }
    // The replaced one can be neither approved nor replaced again, and stays printable.
    const QString pdf = dir.filePath(QStringLiteral("old.pdf"));
    ui::SaveAnswer answer(pdf);
    ASSERT_TRUE(f->selectNumber(number));
    EXPECT_FALSE(f->btnApprove->isEnabled());
    EXPECT_FALSE(f->btnAmend->isEnabled());
    f->btnSavePdf->click();
    ASSERT_TRUE(QFile::exists(pdf));
#ifndef _WIN32
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(number));
    EXPECT_TRUE(text.contains(replacement));
#endif
}

TEST_F(CertificateWindow, thePreviewShowsEveryPageOfTheSelectedCertificate)
{
    sf6::LabTexts lab;
    lab.name = QStringLiteral("华东电力试验研究院");
    lab.verificationAddress = QStringLiteral("https://lab.example.cn/核对");
    ASSERT_TRUE(sf6::saveLab(*w->archive(), lab).ok());
    saveStandard(kStandard, QStringLiteral("2027-03-31"));
    sf6::CertifyRequest request;
    request.recordId = ids[1];
    request.standardSerial = kStandard;
    request.tester = QStringLiteral("张三");
    request.checker = QStringLiteral("李四");
    request.asFoundRecordId = ids[0];
    const auto issued = sf6::certify(*w->archive(), request);
    ASSERT_TRUE(issued.ok()) << issued.error().toStdString();

    w->N20Click();
    TCertificatesForm* f = topWindow<TCertificatesForm>();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->btnPreview->isEnabled());   // nothing selected
    ASSERT_TRUE(f->selectNumber(issued->content.number));
    const QWidgetList before = QApplication::topLevelWidgets();
    f->btnPreview->click();
    TForm4* page = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TForm4*>(top); p && !before.contains(top))
            page = p;
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page->previewDialog(), nullptr);
    EXPECT_EQ(page->Pages.size(), sf6::certificatePages(issued->content, sf6::CertificateState{}).size());
    EXPECT_GT(page->Pages.size(), 3u);   // the record, its judgement, the record before adjustment, the last page
    // The QR code as the PDF has it: with the lab's verification address.
    sf6::CertificatePrintExtras extras;
    extras.verificationAddress = *lab.verificationAddress;
    const auto withAddress = sf6::certificatePages(issued->content, sf6::CertificateState{}, extras);
    const auto without = sf6::certificatePages(issued->content, sf6::CertificateState{});
    ASSERT_FALSE(page->Pages.front().codes.empty());
    ASSERT_NE(withAddress.front().codes.front().dark, without.front().codes.front().dark);
    EXPECT_EQ(page->Pages.front().codes.front().dark, withAddress.front().codes.front().dark);
}
