// The main window driven as a user drives it, against simulated calibrators on
// real pseudo-terminals.
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "app/TForm1.h"
#include "app/TForm2.h"
#include "report/TForm3.h"
#include "sim/Records.h"
#include "tests/app/InstrumentFixture.h"
#include "tests/app/WindowDriver.h"
#include "tests/link/SlowPort.h"
#include "view/SidePanel.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using sf6::Command;
using sf6::CommandState;

namespace {

class MainWindow : public testsupport::InstrumentFixture {
protected:
    void SetUp() override { w = std::make_unique<TForm1>(); }
    void TearDown() override
    {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<TForm3*>(top))
                delete top;
        w.reset();
        InstrumentFixture::TearDown();
    }

    // Runs the connect command through its ten spinner ticks and the scan.
    void connect()
    {
        testsupport::connectThroughScan(*w);
    }

    testsupport::Instrument* connectToSim(int records = 0)
    {
        auto* s = startInstrument();
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(records));
        script.bytesPerSecond = 0;
        s->setSyncScript(script);
        connect();
        EXPECT_EQ(w->commandState(), CommandState::Online);
        return s;
    }

    // Waits, with the event loop running, until the sync is over.
    void waitSyncEnd(std::chrono::milliseconds limit = 6s)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->commandState() != CommandState::Syncing; }, int(limit.count())));
    }

    // Fills the list through the decode step, as a sync would, without the wire.
    void loadRows(int n)
    {
        w->Sync.loop().start();
        w->Sync.loop().poll(sim::makeSyncReply(sim::plausibleRecords(n)));
        w->AddDBGridClick();
    }

    std::vector<Command> enabledCommands() const
    {
        std::vector<Command> out;
        for (int c = 0; c < sf6::kCommandCount; ++c)
            if (w->commandEnabled(Command(c)))
                out.push_back(Command(c));
        return out;
    }

    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i)
            out << w->ListView1->topLevelItem(i)->text(c);
        return out;
    }

    void selectRow(int i)
    {
        w->ListView1->clearSelection();
        w->ListView1->topLevelItem(i)->setSelected(true);
    }

    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

using C = Command;

TEST_F(MainWindow, startUp_onlyConnectExitAndAboutAreAvailable)
{
    EXPECT_EQ(w->windowTitle(), QStringLiteral("vizAZ6izuzivevovedod"));
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::TB1}));
    EXPECT_TRUE(w->A1->isEnabled());
    EXPECT_FALSE(w->PopupMenu1->AutoPopup);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(255, 0, 0));
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(w->Timer3->isActive());
    EXPECT_EQ(w->ListView1->columnCount(), 53);
    EXPECT_EQ(w->ListView1->headerItem()->text(51), QStringLiteral("Pt闭锁回2-2\""));
    EXPECT_EQ(w->ListView1->columnWidth(0), 50);
    EXPECT_EQ(w->ListView1->columnWidth(1), 150);
    EXPECT_EQ(w->ListView1->columnWidth(52), 100);
    EXPECT_EQ(w->Panel1->width(), 525);
    for (int c = 1; c <= 52; ++c)
        EXPECT_TRUE(w->Panel1->valueText(c).isEmpty()) << c;
}

TEST_F(MainWindow, rightClickOnTheList_showsThePopupOnlyWhenAutoPopupIsOn)
{
    w->show();
    w->ListView1ContextPopup(QPoint(10, 10));
    EXPECT_FALSE(w->PopupMenu1->isVisible());
    w->PopupMenu1->AutoPopup = true;
    w->ListView1ContextPopup(QPoint(10, 10));
    EXPECT_TRUE(w->PopupMenu1->isVisible());
    w->PopupMenu1->hide();
}

TEST_F(MainWindow, spinner_showsDashBackslashSlash_thenScans)
{
    sf6::setPortListOverride(QStringList{});
    w->N6Click();
    EXPECT_TRUE(w->Timer1->isActive());
    QStringList seen;
    for (int i = 0; i < 9; ++i) {
        w->Timer1Timer();
        seen << w->panelText(1);
    }
    const QString b = QStringLiteral("开始联机...");
    EXPECT_EQ(seen, (QStringList{b + "-", b + "\\", b + "/", b + "-", b + "\\", b + "/", b + "-", b + "\\", b + "/"}));
    EXPECT_TRUE(messages.messages.empty());
    w->Timer1Timer();   // the tenth tick runs the scan
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_EQ(w->panelText(1), b + "-");
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("没有可用的串口资源！")});
}

TEST_F(MainWindow, connectionButton_scansOnlyAfterAFullSpinner)
{
    auto* s = startInstrument();
    w->ConnectionClick();
    EXPECT_EQ(s->probesSeen(), 0);
}

TEST_F(MainWindow, connectSuccess_goesOnlineGreenWithPortKind)
{
    auto* s = connectToSim();
    EXPECT_EQ(s->probesSeen(), 1);
    EXPECT_EQ(w->panelText(1), QStringLiteral("联机成功"));
    EXPECT_EQ(w->panelText(2), QStringLiteral("通信端口：串口"));
    EXPECT_EQ(w->Connected, 1);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(0, 128, 0));
    EXPECT_TRUE(w->MSComm1.IsOpen());
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::N7, C::N8, C::TB1, C::TB2}));
    EXPECT_EQ(w->cbxComlist->count(), 1);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainWindow, connectFailure_saysSoOnce_andAllowsARetry)
{
    auto* s = startInstrument();
    s->setProbeAnswer(sim::ProbeAnswer::Silent);
    connect();
    EXPECT_EQ(w->panelText(1), QStringLiteral("联机失败"));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("联机失败！")});
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("zo(ro)duderizavov"));
    EXPECT_EQ(messages.messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(w->Connected, 0);
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::TB1}));
    EXPECT_FALSE(w->MSComm1.IsOpen()) << "a refused port is released at once";
    EXPECT_EQ(messages.messages[0].details, instrumentPort() + QStringLiteral("：无应答"));
}

TEST_F(MainWindow, noPorts_reportsAndLeavesConnectEnabled)
{
    sf6::setPortListOverride(QStringList{});
    connect();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("没有可用的串口资源！")});
    EXPECT_EQ(w->commandState(), CommandState::NoPorts);
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::TB1}));
}

TEST_F(MainWindow, newConnectWhileConnected_turnsRedAtOnceAndEmptiesTheList)
{
    connectToSim();
    loadRows(2);
    w->N6Click();
    EXPECT_EQ(w->Connected, 0);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(255, 0, 0));
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 0);
    EXPECT_TRUE(w->panelText(2).isEmpty());
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4}));
    w->Timer1->stop();
}

// A port whose open blocks sorts before the instrument's (a pseudo-terminal, or DEMO).
const QString kBlockingPort = QStringLiteral("/dev/aaa-blocking");

TEST_F(MainWindow, aPortWhoseOpenBlocks_keepsTheWindowTurning_andTheScanGoesOnToTheInstrument)
{
    auto* s = startInstrument();
    sf6::setPortListOverride(QStringList{kBlockingPort, instrumentPort()});
    testsupport::SlowPort slow(kBlockingPort);
    w->N6Click();
    for (int i = 0; i < 10; ++i)
        w->Timer1Timer();
    EXPECT_EQ(w->commandState(), CommandState::Scanning);
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N7})) << "disconnect and exit work during a scan";
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->panelText(2) == QStringLiteral("正在试探 ") + kBlockingPort; }, 2000))
        << "the port being tried is shown";

    // The longest the event loop went without turning while the open blocked.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start();
    ASSERT_TRUE(testsupport::waitScanEnd(*w));
    EXPECT_LT(worst, 300) << "the window stood still for " << worst << " ms";
    EXPECT_GE(clock.elapsed(), 500) << "measured while the open blocked";

    EXPECT_EQ(w->commandState(), CommandState::Online);
    EXPECT_EQ(w->panelText(2), QStringLiteral("通信端口：串口"));
    EXPECT_TRUE(w->MSComm1.IsOpen());
    EXPECT_EQ(s->probesSeen(), 1);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainWindow, disconnectOrExitDuringAScan_endsItAtOnce)
{
    auto* s = startInstrument();
    sf6::setPortListOverride(QStringList{kBlockingPort, instrumentPort()});
    testsupport::SlowPort slow(kBlockingPort);
    w->N6Click();
    for (int i = 0; i < 10; ++i)
        w->Timer1Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.opens() == 1; }, 2000));
    w->N7Click();
    EXPECT_FALSE(w->Scanner1.running());
    QCoreApplication::processEvents();   // whatever the scan had posted
    EXPECT_EQ(w->commandState(), CommandState::Disconnected);
    EXPECT_EQ(w->panelText(1), QStringLiteral("连接已断开！"));
    EXPECT_TRUE(w->panelText(2).isEmpty());
    EXPECT_TRUE(messages.messages.empty()) << "a cancelled scan reports nothing";
    EXPECT_EQ(s->probesSeen(), 0) << "no port is tried after the disconnect";
    EXPECT_FALSE(w->MSComm1.IsOpen());

    // Exit while the open blocks again: the window closes without waiting for it.
    w->show();
    w->N6Click();
    for (int i = 0; i < 10; ++i)
        w->Timer1Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.opens() == 2; }, 2000));
    QElapsedTimer clock;
    clock.start();
    w->N4Click();
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->Scanner1.running());
    EXPECT_EQ(s->probesSeen(), 0);
}

TEST_F(MainWindow, disconnect_closesThePortAndClearsEverything)
{
    connectToSim();
    loadRows(3);
    w->ListView1Click();
    w->N7Click();
    EXPECT_FALSE(w->MSComm1.IsOpen());
    EXPECT_EQ(w->panelText(1), QStringLiteral("连接已断开！"));
    EXPECT_TRUE(w->panelText(2).isEmpty());
    EXPECT_TRUE(w->panelText(3).isEmpty());
    EXPECT_EQ(w->Connected, 0);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(255, 0, 0));
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 0);
    EXPECT_TRUE(w->Panel1->valueText(1).isEmpty());
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::TB1}));
    EXPECT_FALSE(w->PopupMenu1->AutoPopup);
}

TEST_F(MainWindow, aboutTwice_givesTwoModelessBoxes)
{
    w->A1Click();
    w->A1Click();
    const auto boxes = w->aboutBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0], boxes[1]);
    for (TForm2* b : boxes) {
        EXPECT_TRUE(b->isVisible());
        EXPECT_FALSE(b->isModal());
        EXPECT_EQ(b->windowTitle(), QStringLiteral("关于"));
    }
    boxes[0]->Button1Click();
    EXPECT_FALSE(boxes[0]->isVisible());
    EXPECT_TRUE(boxes[1]->isVisible());
}

TEST_F(MainWindow, closingWhileConnected_closesThePort)
{
    connectToSim();
    w->show();
    w->N4Click();
    EXPECT_FALSE(w->MSComm1.IsOpen());
}

TEST_F(MainWindow, statusBar_panelOneTakesTheRest_panelThreeStaysInside)
{
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const int before = w->StatusBar1->panelWidth(1);
    w->resize(w->width() + 100, w->height());
    QTest::qWait(20);
    EXPECT_EQ(w->StatusBar1->panelWidth(1), before + 100);
    const QWidget* p3 = w->StatusBar1->panel(3);
    EXPECT_LE(p3->mapTo(w->StatusBar1, QPoint(p3->width(), 0)).x(), w->StatusBar1->width());
}

// --- Sync through the window ---------------------------------------------------

TEST_F(MainWindow, syncWholeReplyInFirstPoll_completesWithoutTheTimer)
{
    connectToSim(3);
    w->N8Click();
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    EXPECT_FALSE(w->Timer3->isActive());
    EXPECT_EQ(column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(w->panelText(1), QStringLiteral("数据同步完成"));
    EXPECT_EQ(w->panelText(3), QStringLiteral("共有3条数据，当前加载3条  "));
    EXPECT_EQ(w->ListView1->selectedItems().value(0), w->ListView1->topLevelItem(2));
    EXPECT_EQ(w->Panel1->valueText(1), w->ListView1->topLevelItem(2)->text(1));
    EXPECT_EQ(enabledCommands().size(), size_t(sf6::kCommandCount));
    EXPECT_FALSE(w->StatusBar1->progress()->isVisible());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainWindow, syncInThreeBatches_addsRowsPollByPoll)
{
    auto* s = connectToSim();
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(2));
    script.chunks = {{50, 0ms}, {60, 1500ms}, {105, 1000ms}};
    s->setSyncScript(script);

    std::vector<int> rowsAfterPoll;
    QStringList countsShown;
    QObject::connect(w->Timer3, &QTimer::timeout, w.get(), [&] {
        rowsAfterPoll.push_back(w->ListView1->topLevelItemCount());
        countsShown << w->StatusBar1->progressCount()->text();
    });
    w->N8Click();
    EXPECT_EQ(w->Sync.loop().RecordsReady(), 0);
    EXPECT_TRUE(w->Timer3->isActive());
    EXPECT_TRUE(w->panelText(3).isEmpty());
    waitSyncEnd();
    EXPECT_EQ(rowsAfterPoll, (std::vector{1, 2}));
    EXPECT_EQ(countsShown.value(0), QStringLiteral("1/2")) << "the count beside the bar, not painted over by it";
    EXPECT_FALSE(w->StatusBar1->progress()->isTextVisible());
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    EXPECT_FALSE(w->Timer3->isActive());
}

TEST_F(MainWindow, syncOfZeroRecords_endsEmptyWithItsMessage)
{
    connectToSim(0);
    w->N8Click();
    waitSyncEnd();
    EXPECT_EQ(w->commandState(), CommandState::SyncEmpty);
    EXPECT_EQ(w->panelText(3), QStringLiteral("共有0条数据，当前加载0条  "));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("数据同步完成当前共有0条记录！")});
    EXPECT_EQ(enabledCommands(), (std::vector{C::N4, C::N6, C::N7, C::N8, C::TB1, C::TB2}));
}

TEST_F(MainWindow, syncWithoutAnswer_endsEmptyInTheFirstPoll)
{
    auto* s = connectToSim();
    sim::SyncScript silent;
    silent.answer = false;
    s->setSyncScript(silent);
    w->N8Click();
    EXPECT_EQ(w->commandState(), CommandState::SyncEmpty);
    EXPECT_FALSE(w->Timer3->isActive());
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("数据同步完成当前共有0条记录！")});
}

TEST_F(MainWindow, syncWhileClosed_asksToConnectAndKeepsTheRows)
{
    loadRows(2);
    w->N8Click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("请先连接！")});
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(w->panelText(1), QStringLiteral("开始数据同步..."));
    EXPECT_EQ(w->commandState(), CommandState::Idle);
}

TEST_F(MainWindow, stalledSync_endsAfterTenEmptyPollsKeepingItsRows)
{
    auto* s = connectToSim();
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(2));
    script.stopAfter = 120;
    script.bytesPerSecond = 0;
    s->setSyncScript(script);
    w->N8Click();
    ASSERT_EQ(w->ListView1->topLevelItemCount(), 1);
    ASSERT_EQ(w->commandState(), CommandState::Syncing);
    w->Timer3->stop();   // drive the polls by hand instead of waiting ten seconds
    for (int i = 0; i < 9; ++i)
        w->Timer3Timer();
    EXPECT_EQ(w->commandState(), CommandState::Syncing);
    EXPECT_TRUE(messages.messages.empty());
    w->Timer3Timer();
    EXPECT_EQ(w->panelText(1), QStringLiteral("数据同步中断"));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("数据同步中断，已加载1条记录！")});
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    EXPECT_FALSE(w->Timer3->isActive());
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 1);
    // As after a complete sync, the side panel shows the last record that came.
    EXPECT_EQ(w->Panel1->valueText(1), w->ListView1->topLevelItem(0)->text(1));
}

#ifdef SF6_HAVE_SIM
// A far end that hangs up: the simulator on a pseudo-terminal only.
TEST_F(MainWindow, hangUpDuringSync_reportsOnceClosesAndKeepsRows)
{
    auto* s = connectToSim();
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(3));
    script.stopAfter = 120;
    script.bytesPerSecond = 0;
    script.hangUpAtEnd = true;
    script.hangUpDelay = 300ms;   // a hang-up discards what the driver still holds
    s->setSyncScript(script);
    w->N8Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->commandState() != CommandState::Syncing; }, 3000));
    QTest::qWait(100);   // any repeated error from the port would arrive now
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_FALSE(w->MSComm1.IsOpen());
    EXPECT_EQ(w->Connected, 0);
    EXPECT_EQ(w->panelText(1), QStringLiteral("连接已断开！"));
    EXPECT_FALSE(w->Timer3->isActive());
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 1);
    EXPECT_EQ(w->commandState(), CommandState::LinkLostWithRows);
    EXPECT_TRUE(w->commandEnabled(C::N6));
    EXPECT_FALSE(w->commandEnabled(C::N8));
    EXPECT_FALSE(w->commandEnabled(C::N7));
}

TEST_F(MainWindow, hangUpWhileIdleOnline_reportsOnceAndAllowsAReconnect)
{
    auto* s = connectToSim(2);
    w->N8Click();
    ASSERT_EQ(w->commandState(), CommandState::SyncDone);
    s->hangUp();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->Connected == 0; }, 3000));
    QTest::qWait(100);
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_FALSE(w->MSComm1.IsOpen());
    EXPECT_EQ(w->panelText(1), QStringLiteral("连接已断开！"));
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(255, 0, 0));
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(w->commandState(), CommandState::LinkLostWithRows);
}
#endif

// --- Deletion, report and export entry points ------------------------------------

TEST_F(MainWindow, deletion_removesTheSelectedRowKeepingNumbersAndCounters)
{
    loadRows(5);
    selectRow(2);
    w->ListView1Click();
    const QString shown = w->Panel1->valueText(1);
    const QString counter = w->panelText(3);
    w->N3Click();
    EXPECT_EQ(column(0), (QStringList{"1", "2", "4", "5"}));
    EXPECT_TRUE(w->ListView1->selectedItems().isEmpty());
    EXPECT_EQ(w->ListView1->currentItem(), nullptr) << "the row that moved up must not look chosen";
    EXPECT_EQ(w->panelText(3), counter);
    EXPECT_EQ(w->Panel1->valueText(1), shown);
    w->N13Click();   // nothing selected now: nothing happens
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 4);
    selectRow(0);
    w->N13Click();
    EXPECT_EQ(column(0), (QStringList{"2", "4", "5"}));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainWindow, reportWithoutSelection_asksForARowFromEveryEntryPoint)
{
    loadRows(2);
    w->ListView1->clearSelection();
    w->N1Click();
    w->ToolButton3Click();
    w->N11Click();
    w->ListView1DblClick();
    EXPECT_EQ(messages.texts(), QStringList(4, QStringLiteral("请选择一行数据！")));
    EXPECT_TRUE(w->findChildren<TForm3*>().isEmpty());
}

TEST_F(MainWindow, mouseOnTheEmptyAreaBelowTheRows_dropsTheSelection)
{
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    loadRows(2);
    QWidget* vp = w->ListView1->viewport();
    const QPoint below(20, vp->height() - 5);
    ASSERT_EQ(w->ListView1->itemAt(below), nullptr);

    // A double click below the rows asks for a row instead of opening a dialog.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, below);
    EXPECT_TRUE(w->ListView1->selectedItems().isEmpty());
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("请选择一行数据！")});

    // A click on a row shows it in the side panel; one below keeps the panel as it was.
    const QRect row0 = w->ListView1->visualItemRect(w->ListView1->topLevelItem(0));
    const int apart = QApplication::doubleClickInterval() + 50;   // not part of the double click
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(20, row0.center().y()), apart);
    EXPECT_EQ(w->Panel1->valueText(1), w->ListView1->topLevelItem(0)->text(1));
    QTest::mouseClick(vp, Qt::LeftButton, {}, below, apart);
    EXPECT_TRUE(w->ListView1->selectedItems().isEmpty());
    EXPECT_EQ(w->Panel1->valueText(1), w->ListView1->topLevelItem(0)->text(1));
    w->N3Click();
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 2);
}

TEST_F(MainWindow, reportDialog_keepsItsRowAfterTheListIsResynced)
{
    loadRows(3);
    selectRow(1);
    w->N1Click();
    TForm3* dialog = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<TForm3*>(top); d && d->isVisible())
            dialog = d;
    ASSERT_NE(dialog, nullptr);
    const QString time = w->ListView1->topLevelItem(1)->text(1);
    EXPECT_EQ(dialog->rowCopy().value(1), time);
    loadRows(1);   // a new sync empties and refills the list
    EXPECT_EQ(dialog->rowCopy().value(0), QStringLiteral("2"));
    EXPECT_EQ(dialog->rowCopy().value(1), time);
}

TEST_F(MainWindow, export_asksForANameAddsXlsxAndRemembersIt)
{
    loadRows(2);
    QTemporaryDir dir;
    {
        ui::SaveAnswer cancel{QString()};
        w->N2Click();
        ASSERT_EQ(cancel.requests.size(), 1u);
        EXPECT_EQ(cancel.requests[0].filter, QStringLiteral("EXCEL文件(*.xlsx)"));
        EXPECT_EQ(QFileInfo(cancel.requests[0].initialName).fileName(),
                  QDate::currentDate().toString(Qt::ISODate) + QStringLiteral(".xlsx"))
            << "the dialog offers the sync's date as the name";
    }
    {
        ui::SaveAnswer answer{dir.filePath(QStringLiteral("records"))};
        w->ToolButton4Click();
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("records.xlsx"))));
    {
        ui::SaveAnswer again{QString()};
        w->N12Click();
        ASSERT_EQ(again.requests.size(), 1u);
        EXPECT_EQ(again.requests[0].initialName, dir.filePath(QStringLiteral("records.xlsx")));
    }
    EXPECT_TRUE(messages.messages.empty());
}

// The PDF dialog and the workbook dialog share the folder last used.
TEST_F(MainWindow, export_startsInTheFolderLastUsedByAnySaveDialog)
{
    loadRows(2);
    QTemporaryDir first, second;
    {
        ui::SaveAnswer answer{first.filePath(QStringLiteral("records"))};
        w->N2Click();
    }
    {
        ui::SaveAnswer other{second.filePath(QStringLiteral("report.pdf"))};
        ui::FileDialogs::saveFileName(ui::SaveRequest{QStringLiteral("导出PDF"), QStringLiteral("r.pdf"), QString()});
    }
    ui::SaveAnswer again{QString()};
    w->N2Click();
    ASSERT_EQ(again.requests.size(), 1u);
    EXPECT_EQ(again.requests[0].initialName, second.filePath(QStringLiteral("records.xlsx")));
}

} // namespace

namespace {

TEST(TopLevelErrors, anExceptionEscapingAHandler_isShownOnceAndTheProgramGoesOn)
{
    ui::MessageRecorder messages;
    QTimer::singleShot(0, [] { throw std::runtime_error("端口配置失败"); });
    QTest::qWait(20);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("端口配置失败"));
    EXPECT_EQ(messages.messages[0].icon, QMessageBox::Critical);
    bool ranAfter = false;
    QTimer::singleShot(0, [&] { ranAfter = true; });
    QTest::qWait(20);
    EXPECT_TRUE(ranAfter);
}

} // namespace
