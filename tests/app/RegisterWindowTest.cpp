// The register in the window: its menu item, the register window with its
// refusals and due marks, the report dialog's pick from the register, judged
// reports of two pages, and the history's links and trends.
#include "app/TForm1.h"
#include "archive/THistoryForm.h"
#include "register/RelayRegister.h"
#include "register/TRelayRegisterForm.h"
#include "register/TTrendForm.h"
#include "report/TForm3.h"
#include "report/TForm4.h"
#include "sim/Records.h"
#include "tests/link/SimFixture.h"
#include "tests/app/WindowDriver.h"
#include "ui/Choices.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using sf6::CommandState;

namespace {

class RegisterWindow : public testsupport::PortsFixture {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
        w->setArchiveLocation(location);
        auto* s = startSims(1)[0];
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(3));
        script.bytesPerSecond = 0;
        s->setSyncScript(script);
        testsupport::connectThroughScan(*w);
        w->N8Click();
        ASSERT_EQ(w->commandState(), CommandState::SyncDone);
    }
    void TearDown() override
    {
        std::vector<QPointer<QWidget>> windows;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<TForm3*>(top) || qobject_cast<THistoryForm*>(top) || qobject_cast<TRelayRegisterForm*>(top)
                || qobject_cast<TTrendForm*>(top) || qobject_cast<QPrintPreviewDialog*>(top))
                windows.emplace_back(top);
        for (const QPointer<QWidget>& top : windows)
            delete top.data();
        w.reset();
        PortsFixture::TearDown();
    }
    TRelayRegisterForm* openRegister()
    {
        TRelayRegisterForm* opened = nullptr;
        QObject::connect(w.get(), &TForm1::registerOpened, [&](TRelayRegisterForm* f) { opened = f; });
        w->N16Click();
        return opened;
    }
    void saveRelay(const char* serial, bool withValues)
    {
        sf6::RelayEntry e;
        e.serial = QString::fromLatin1(serial);
        e.name = QStringLiteral("主变A相");
        if (withValues)
            e.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
        ASSERT_TRUE(sf6::saveRelay(*w->archive(), e, QStringLiteral("test")).ok());
    }
    TForm3* reportDialog()
    {
        w->N1Click();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<TForm3*>(top); d && d->isVisible())
                return d;
        return nullptr;
    }
    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(RegisterWindow, theRegisterComesLastInTheToolsMenuAndIsAlwaysOn)
{
    const QList<QAction*> tools = w->N5->actions();
    ASSERT_EQ(tools.size(), 6);
    EXPECT_EQ(tools[4], w->N15);
    EXPECT_EQ(tools[5]->text(), QStringLiteral("继电器台账(&L)"));
    w->N6Click();   // connecting: only exit and about of the specified commands
    EXPECT_TRUE(w->N16->isEnabled());
    w->Timer1->stop();
}

TEST_F(RegisterWindow, theRegisterWindowSavesRefusesByFieldAndMarksDueDates)
{
    TRelayRegisterForm* f = openRegister();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->windowTitle(), QStringLiteral("继电器台账"));
    f->edSerial->setText(QStringLiteral("R1"));
    f->edName->setText(QStringLiteral("主变A相"));
    f->edLower->setText(QStringLiteral("负0.1"));
    f->btnSaveClick();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.texts()[0].contains(QStringLiteral("「量程下限」"))) << messages.texts()[0].toStdString();
    EXPECT_EQ(f->RelayGrid->rowCount(), 0) << "nothing stored";

    f->edLower->setText(QStringLiteral("-0.1"));
    f->edAlarm->setText(QStringLiteral("0.55"));
    f->cbClass->setCurrentText(QStringLiteral("2.5"));
    f->btnSaveClick();
    ASSERT_EQ(f->RelayGrid->rowCount(), 1);
    EXPECT_EQ(f->RelayGrid->item(0, 0)->text(), QStringLiteral("R1"));
    EXPECT_EQ(f->RelayGrid->item(0, 4)->text(), QStringLiteral("2.5"));
    EXPECT_EQ(f->VersionGrid->rowCount(), 1);

    // Linked to a test of 2012-05-03 with a yearly interval: overdue by now,
    // due soon in April 2013.
    ASSERT_TRUE(sf6::linkRecord(f->archive(), w->archiveNumber(w->ListView1->topLevelItem(2)), QStringLiteral("R1")));
    f->setToday(QDate(2013, 4, 20));
    EXPECT_EQ(f->RelayGrid->item(0, 7)->text(), QStringLiteral("2013-05-03"));
    EXPECT_EQ(f->RelayGrid->item(0, 8)->text(), QStringLiteral("30天内到期"));
    EXPECT_EQ(f->RelayGrid->item(0, 0)->background().color(), TRelayRegisterForm::kDueSoonColour);
    f->setToday(QDate(2026, 12, 9));
    EXPECT_EQ(f->RelayGrid->item(0, 8)->text(), QStringLiteral("已过期"));
    EXPECT_EQ(f->RelayGrid->item(0, 0)->background().color(), TRelayRegisterForm::kOverdueColour);
    EXPECT_FALSE(f->RelayGrid->item(0, 6)->text().isEmpty()) << "the last verdict";

    // An edit is a new version, the old one still listed.
    f->RelayGridClick(0);
    f->edAlarm->setText(QStringLiteral("0.56"));
    f->btnSaveClick();
    EXPECT_EQ(f->VersionGrid->rowCount(), 2);
    EXPECT_EQ(f->VersionGrid->item(0, 4)->text(), QStringLiteral("0.55"));
    EXPECT_EQ(f->VersionGrid->item(1, 4)->text(), QStringLiteral("0.56"));

    TTrendForm* trend = nullptr;
    QObject::connect(f, &TRelayRegisterForm::trendOpened, [&](QWidget* t) { trend = qobject_cast<TTrendForm*>(t); });
    f->btnTrendClick();
    ASSERT_NE(trend, nullptr);
    EXPECT_EQ(trend->data().points.size(), 1u);
}

TEST_F(RegisterWindow, theReportDialogFillsTheRelayFromTheRegister)
{
    saveRelay("R5", false);
    sf6::RelayEntry e = **sf6::findRelay(*w->archive(), QStringLiteral("R5"));
    e.model = QStringLiteral("MBS-1000");
    e.made = QStringLiteral("2019-03-01");
    e.client = QStringLiteral("天山换流站");
    ASSERT_TRUE(sf6::saveRelay(*w->archive(), e, QStringLiteral("test")).ok());
    TForm3* d = reportDialog();
    ASSERT_NE(d, nullptr);
    ASSERT_FALSE(d->btnRelay->isHidden());
    EXPECT_EQ(d->mmjdqmc->toPlainText(), QStringLiteral("1#开关继电器")) << "a new dialog still shows the defaults";
    {
        ui::ChoiceAnswer pick(0);
        d->btnRelay->click();
        ASSERT_EQ(pick.requests.size(), 1u);
        EXPECT_TRUE(pick.requests[0].items.value(0).startsWith(QStringLiteral("R5")));
    }
    EXPECT_EQ(d->mmjdqmc->toPlainText(), QStringLiteral("主变A相"));
    EXPECT_EQ(d->mmxh->toPlainText(), QStringLiteral("MBS-1000"));
    EXPECT_EQ(d->mmbh->toPlainText(), QStringLiteral("R5"));
    EXPECT_EQ(d->mmscrq->toPlainText(), QStringLiteral("2019-03-01"));
    EXPECT_EQ(d->mmsjdw->toPlainText(), QStringLiteral("天山换流站"));
}

// A record whose relay has a nominal value: the report has the conclusion
// below the frame and the items on a second page; without one, one page.
TEST_F(RegisterWindow, aJudgedRecordsReportHasTwoPages)
{
    saveRelay("R1", true);
    TForm3* d = reportDialog();
    ASSERT_NE(d, nullptr);
    TForm4* form = nullptr;
    QObject::connect(d, &TForm3::pagePreviewed, [&](TForm4* f) { form = f; });
    d->mmbh->setPlainText(QStringLiteral("R1"));
    d->btnConfirm->click();
    ASSERT_NE(form, nullptr);
    ASSERT_EQ(form->Pages.size(), 2u);
    const sf6::PageLabel* conclusion = form->Pages[0].label(sf6::kConclusionLabel);
    ASSERT_NE(conclusion, nullptr);
    EXPECT_TRUE(conclusion->text.startsWith(QStringLiteral("结论：")));
    EXPECT_EQ(form->Pages[1].label(QStringLiteral("QRJTitle"))->text, QStringLiteral("校验结果判定"));

    form = nullptr;
    d->mmbh->setPlainText(QStringLiteral("R2"));   // a new entry, no nominal value
    d->btnConfirm->click();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->Pages.size(), 1u);
    EXPECT_EQ(form->Pages[0].label(sf6::kConclusionLabel), nullptr);
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();
}

TEST_F(RegisterWindow, theHistoryLinksASelectionAndShowsItsTrend)
{
    saveRelay("R1", true);
    THistoryForm* h = nullptr;
    QObject::connect(w.get(), &TForm1::historyOpened, [&](THistoryForm* f) { h = f; });
    w->N15Click();
    ASSERT_NE(h, nullptr);
    QPushButton* link = nullptr;
    QPushButton* trendButton = nullptr;
    for (QPushButton* b : h->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("关联继电器"))
            link = b;
        if (b->text() == QStringLiteral("趋势图"))
            trendButton = b;
    }
    ASSERT_TRUE(link && trendButton);
    h->HistoryGrid->selectAll();
    {
        ui::ChoiceAnswer pick(0);
        link->click();
    }
    for (int r = 0; r < h->Model->rowCount(); ++r)
        EXPECT_EQ(*sf6::linkedSerial(h->archive(), h->Model->recordId(r)), QStringLiteral("R1"));
    TTrendForm* trend = nullptr;
    QObject::connect(w.get(), &TForm1::trendOpened, [&](QWidget* t) { trend = qobject_cast<TTrendForm*>(t); });
    trendButton->click();
    ASSERT_NE(trend, nullptr);
    EXPECT_EQ(trend->data().points.size(), 3u);
}
