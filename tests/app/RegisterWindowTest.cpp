// The register in the window: its menu item, the register window with its
// refusals and due marks, the report dialog's pick from the register, judged
// reports of two pages, and the history's links and trends. A report
// confirmed keeps the record's relay; the dialog opens with that relay and
// the lab's last details; the windows follow each other's changes.
#include "app/TForm1.h"
#include "archive/THistoryForm.h"
#include "register/RelayRegister.h"
#include "register/TRelayRegisterForm.h"
#include "register/TTrendForm.h"
#include "report/TForm3.h"
#include "report/TForm4.h"
#include "sim/Records.h"
#include "tests/app/CalibratorFixture.h"
#include "tests/app/WindowDriver.h"
#include "ui/Choices.h"
#include "ui/FileDialogs.h"
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

class RegisterWindow : public testsupport::CalibratorFixture {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
        w->setArchiveLocation(location);
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(3));
        script.bytesPerSecond = 0;
        serveCalibrator(script);
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
        CalibratorFixture::TearDown();
    }
    TRelayRegisterForm* openRegister()
    {
        TRelayRegisterForm* opened = nullptr;
        const auto c = QObject::connect(w.get(), &TForm1::registerOpened, [&](TRelayRegisterForm* f) { opened = f; });
        w->N16Click();
        QObject::disconnect(c);
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
    THistoryForm* openHistory()
    {
        THistoryForm* h = nullptr;
        const auto c = QObject::connect(w.get(), &TForm1::historyOpened, [&](THistoryForm* f) { h = f; });
        w->N15Click();
        QObject::disconnect(c);
        return h;
    }
    static QPushButton* button(QWidget* window, const QString& text)
    {
        for (QPushButton* b : window->findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    std::vector<int> recordIds() const
    {
        std::vector<int> ids;
        for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i)
            ids.push_back(w->archiveNumber(w->ListView1->topLevelItem(i)));
        return ids;
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
    ASSERT_GE(tools.size(), 6);   // 导入数据… follows it
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
    {
        ui::ChoiceAnswer move(0);
        d->btnConfirm->click();
        ASSERT_EQ(move.requests.size(), 1u);
        EXPECT_EQ(move.requests[0].label, QStringLiteral("记录已关联到继电器 R1，改为关联到 R2？"));
    }
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

// The testers' case: records linked to a relay with nominal values, reported
// from the history. The dialog shows that relay, and confirming keeps the
// links and prints each record's judgement.
TEST_F(RegisterWindow, aLinkedRecordsReportOpensWithItsRelayAndKeepsItsLinkAndVerdict)
{
    sf6::RelayEntry e;
    e.serial = QStringLiteral("HB2019-0457");
    e.name = QStringLiteral("2#主变继电器");
    e.model = QStringLiteral("MBS-1000");
    e.made = QStringLiteral("2019-03-01");
    e.client = QStringLiteral("天山换流站");
    e.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
    ASSERT_TRUE(sf6::saveRelay(*w->archive(), e, QStringLiteral("test")).ok());
    ASSERT_TRUE(sf6::linkRecords(*w->archive(), recordIds(), e.serial));

    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    h->HistoryGrid->selectAll();
    TForm3* d = nullptr;
    QObject::connect(h, &THistoryForm::reportDialogOpened, [&](TForm3* opened) { d = opened; });
    h->btnReportClick();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ((QStringList{d->mmjdqmc->toPlainText(), d->mmxh->toPlainText(), d->mmbh->toPlainText(),
                           d->mmscrq->toPlainText(), d->mmsjdw->toPlainText()}),
              (QStringList{e.name, e.model, e.serial, e.made, e.client}));
    TForm4* form = nullptr;
    QObject::connect(d, &TForm3::pagePreviewed, [&](TForm4* f) { form = f; });
    d->btnConfirm->click();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->Pages.size(), 6u) << "each record's page and its judgement page";
    for (int id : recordIds())
        EXPECT_EQ(**sf6::linkedSerial(*w->archive(), id), e.serial);
    EXPECT_EQ((*sf6::relayHistory(*w->archive(), e.serial)).size(), 1u) << "the register's values, unchanged";
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();

    // From the main window: typing another 编号 asks; 取消 keeps the link.
    d->close();
    TForm3* main = reportDialog();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->mmbh->toPlainText(), e.serial);
    main->mmbh->setPlainText(QStringLiteral("R9"));
    {
        ui::ChoiceAnswer keep(-1);
        main->btnConfirm->click();
        ASSERT_EQ(keep.requests.size(), 1u);
        EXPECT_EQ(keep.requests[0].label, QStringLiteral("记录已关联到继电器 HB2019-0457，改为关联到 R9？"));
    }
    const int selected = w->archiveNumber(w->ListView1->selectedItems().value(0));
    EXPECT_EQ(**sf6::linkedSerial(*w->archive(), selected), e.serial);
    EXPECT_FALSE(*sf6::findRelay(*w->archive(), QStringLiteral("R9")));
    {
        ui::ChoiceAnswer move(0);
        main->btnConfirm->click();
    }
    EXPECT_EQ(**sf6::linkedSerial(*w->archive(), selected), QStringLiteral("R9"));
}

// An unlinked record with the dialog as it opened: confirming, or only saving
// a PDF, links nothing and makes no entry of the sample relay.
TEST_F(RegisterWindow, anUntouchedDialogLinksNothing)
{
    TForm3* d = reportDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->mmbh->toPlainText(), QStringLiteral("20121212"));
    {
        ui::SaveAnswer answer(dir.filePath(QStringLiteral("only.pdf")));
        d->btnPdf->click();
    }
    d->btnConfirm->click();
    const int selected = w->archiveNumber(w->ListView1->selectedItems().value(0));
    EXPECT_FALSE(*sf6::linkedSerial(*w->archive(), selected));
    EXPECT_TRUE((*sf6::listRelays(*w->archive())).empty());
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();
}

// The lab's details (title, unit, signatures) come back in the next dialog,
// from the archive; the relay fields do not.
TEST_F(RegisterWindow, theNextDialogOpensWithTheLabDetailsLastConfirmed)
{
    TForm3* first = reportDialog();
    ASSERT_NE(first, nullptr);
    first->mmBbbt->setPlainText(QStringLiteral("年度校验报告"));
    first->mmjydw->setPlainText(QStringLiteral("电科院"));
    first->mmjy->setPlainText(QStringLiteral("赵六"));
    first->mmsh->setPlainText(QStringLiteral("钱七"));
    first->mmsp->setPlainText(QStringLiteral("孙八"));
    first->mmjdqmc->setPlainText(QStringLiteral("3#继电器"));
    first->btnConfirm->click();
    first->close();
    TForm3* next = reportDialog();
    ASSERT_NE(next, nullptr);
    ASSERT_NE(next, first);
    EXPECT_EQ((QStringList{next->mmBbbt->toPlainText(), next->mmjydw->toPlainText(), next->mmjy->toPlainText(),
                           next->mmsh->toPlainText(), next->mmsp->toPlainText()}),
              (QStringList{"年度校验报告", "电科院", "赵六", "钱七", "孙八"}));
    EXPECT_EQ(next->mmjdqmc->toPlainText(), QStringLiteral("1#开关继电器"));
}

// The history shows each record's relay and verdict and undoes links; the
// register window follows without being asked, and lists the links made and
// undone.
TEST_F(RegisterWindow, theHistoryShowsRelayAndVerdictAndTheWindowsFollowEachOther)
{
    saveRelay("R1", true);
    TRelayRegisterForm* f = openRegister();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->RelayGrid->rowCount(), 1);
    EXPECT_EQ(f->RelayGrid->item(0, 8)->text(), QStringLiteral("未校验"));
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    h->HistoryGrid->selectAll();
    {
        ui::ChoiceAnswer pick(0);
        button(h, QStringLiteral("关联继电器"))->click();
    }
    ASSERT_EQ(h->Model->rowCount(), 3);
    EXPECT_EQ(h->Model->index(0, sf6::HistoryModel::kRelayColumn).data().toString(), QStringLiteral("R1"));
    EXPECT_EQ(h->HistoryGrid->selectionModel()->selectedRows().size(), 3) << "the selection survives the refresh";
    EXPECT_FALSE(f->RelayGrid->item(0, 5)->text().isEmpty()) << "the register saw the links: a last test";

    const int first = h->Model->recordId(0);
    const auto judged = sf6::judgeRecord(h->archive(), first);
    ASSERT_TRUE(judged.ok() && judged->judgement);
    EXPECT_EQ(h->Model->index(0, sf6::HistoryModel::kVerdictColumn).data().toString(),
              judged->judgement->judgement.verdict());

    h->HistoryGrid->clearSelection();
    h->HistoryGrid->selectRow(0);
    button(h, QStringLiteral("取消关联"))->click();
    EXPECT_FALSE(*sf6::linkedSerial(h->archive(), first));
    EXPECT_EQ(h->Model->index(0, sf6::HistoryModel::kRelayColumn).data().toString(), QString());
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.texts()[1], QStringLiteral("已取消1条记录的关联。"));

    f->RelayGridClick(0);
    ASSERT_EQ(f->LinkGrid->rowCount(), 4);
    EXPECT_EQ(f->LinkGrid->item(3, 1)->text(), QString::number(first));
    EXPECT_EQ(f->LinkGrid->item(3, 2)->text(), QStringLiteral("取消关联"));
}

// The register finds a relay by part of its serial, name, model or unit, in
// any case or width; its columns sort; a failed relay is marked as an overdue
// one is.
TEST_F(RegisterWindow, theRegisterSearchesSortsAndMarksFailedRelays)
{
    saveRelay("R1", false);
    sf6::RelayEntry failing;
    failing.serial = QStringLiteral("R2");
    failing.name = QStringLiteral("母线继电器");
    failing.model = QStringLiteral("ABB");
    failing.alarm = sf6::Decimal::parse(QStringLiteral("0.10"));   // far from any reading: 不合格
    ASSERT_TRUE(sf6::saveRelay(*w->archive(), failing, QStringLiteral("test")).ok());
    ASSERT_TRUE(sf6::linkRecord(*w->archive(), recordIds()[0], QStringLiteral("R2")));
    TRelayRegisterForm* f = openRegister();
    ASSERT_NE(f, nullptr);
    f->setToday(QDate(2012, 5, 10));   // neither overdue nor due soon
    f->RelayGrid->sortByColumn(0, Qt::DescendingOrder);
    ASSERT_EQ(f->RelayGrid->item(0, 0)->text(), QStringLiteral("R2"));
    EXPECT_EQ(f->RelayGrid->item(0, 6)->text(), QStringLiteral("不合格"));
    EXPECT_EQ(f->RelayGrid->item(0, 0)->background().color(), TRelayRegisterForm::kOverdueColour);
    EXPECT_EQ(f->RelayGrid->item(1, 8)->text(), QStringLiteral("未校验"));
    f->RelayGridClick(0);
    EXPECT_EQ(f->edSerial->text(), QStringLiteral("R2")) << "a click takes the row shown, whatever the order";

    f->edSearch->setText(QStringLiteral("ａｂｂ"));
    EXPECT_FALSE(f->RelayGrid->isRowHidden(0));
    EXPECT_TRUE(f->RelayGrid->isRowHidden(1));
    f->edSearch->setText(QStringLiteral("主变"));
    EXPECT_TRUE(f->RelayGrid->isRowHidden(0));
    EXPECT_FALSE(f->RelayGrid->isRowHidden(1));
    f->edSearch->clear();
    EXPECT_FALSE(f->RelayGrid->isRowHidden(0) || f->RelayGrid->isRowHidden(1));
}
