// The archive as the window's user meets it: syncs archived as they end,
// reports kept, the history window with its filters, batch reports and
// exports, and an archive that cannot be used costing nothing else.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "archive/THistoryForm.h"
#include "report/TForm3.h"
#include "report/TForm4.h"
#include "sim/Records.h"
#include "tests/app/CalibratorFixture.h"
#include "tests/app/WindowDriver.h"
#include "tests/archive/PgServer.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "view/SidePanel.h"

#include <QApplication>
#include <QDateEdit>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include "sim/Simulator.h"
#endif

using sf6::CommandState;

namespace {

class ArchiveWindow : public testsupport::CalibratorFixture {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
    }
    void TearDown() override
    {
        testsupport::deleteTopLevels<TForm3, THistoryForm, QPrintPreviewDialog>();
        w.reset();
        CalibratorFixture::TearDown();
    }
    sim::InProcessLink* connectToSim(int records, uint32_t seed = 2012)
    {
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(records, seed));
        script.bytesPerSecond = 0;
        auto* s = serveCalibrator(script);
        testsupport::connectThroughScan(*w);
        EXPECT_EQ(w->commandState(), CommandState::Online);
        return s;
    }
    void sync()
    {
        w->N8Click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->commandState() != CommandState::Syncing; }, 5000));
    }
    THistoryForm* openHistory()
    {
        THistoryForm* opened = nullptr;
        const auto c = QObject::connect(w.get(), &TForm1::historyOpened, [&](THistoryForm* h) { opened = h; });
        w->N15Click();
        QObject::disconnect(c);
        return opened;
    }
    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(ArchiveWindow, newCommandsComeAfterTheSpecifiedOnesAndAreAlwaysOn)
{
    const QList<QAction*> tools = w->N5->actions();
    ASSERT_GE(tools.size(), 5);
    EXPECT_EQ(tools[2], w->N8);
    EXPECT_TRUE(tools[3]->isSeparator());
    EXPECT_EQ(tools[4]->text(), QStringLiteral("历史记录(&R)"));
    const QList<QAction*> buttons = w->ToolBar1->actions();
    ASSERT_GE(buttons.size(), 5);
    EXPECT_EQ(buttons[3], w->ToolButton4);
    EXPECT_EQ(buttons[4]->text(), QStringLiteral("历史记录"));
    EXPECT_TRUE(w->N15->isEnabled() && w->ToolButton5->isEnabled());
    w->setArchiveLocation(location);
    connectToSim(2);
    w->N8Click();   // every state: during a sync too
    EXPECT_TRUE(w->N15->isEnabled() && w->ToolButton5->isEnabled());
}

// Each sync's records go into the archive as it ends; a re-sync adds none;
// panels 0 to 3 say what they always said.
TEST_F(ArchiveWindow, everySyncIsArchivedAndThePanelSaysHowManyWereNew)
{
    w->setArchiveLocation(location);
    ASSERT_NE(w->archive(), nullptr);
    connectToSim(3);
    sync();
    EXPECT_EQ(w->panelText(1), QStringLiteral("数据同步完成"));
    EXPECT_EQ(w->panelText(3), QStringLiteral("共有3条数据，当前加载3条  "));
    EXPECT_EQ(w->panelText(4), QStringLiteral("已存档3条新记录"));
    std::set<int> ids;
    for (int i = 0; i < 3; ++i)
        ids.insert(w->archiveNumber(w->ListView1->topLevelItem(i)));
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_FALSE(ids.count(0));
    sync();
    EXPECT_EQ(w->panelText(4), QStringLiteral("已存档0条新记录"));
    EXPECT_EQ(w->archiveNumber(w->ListView1->topLevelItem(0)), *ids.begin());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(ArchiveWindow, aConfirmedReportIsKeptWithItsRecord)
{
    w->setArchiveLocation(location);
    connectToSim(2);
    sync();
    w->N1Click();   // the last row is selected after a sync
    TForm3* dialog = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<TForm3*>(top); d && d->isVisible())
            dialog = d;
    ASSERT_NE(dialog, nullptr);
    dialog->mmjdqmc->setPlainText(QStringLiteral("3#母线继电器"));
    dialog->btnConfirm->click();
    const int id = w->archiveNumber(w->ListView1->topLevelItem(1));
    auto latest = sf6::latestReport(*w->archive(), id);
    ASSERT_TRUE(latest.ok() && latest->has_value());
    EXPECT_EQ((*latest)->details.relayName, QStringLiteral("3#母线继电器"));
    EXPECT_EQ((*latest)->details.testDate, dialog->mmsjrq->toPlainText());
}

// An archive that is not a database: one message that names it, and the
// list, the report and the export go on as without an archive.
TEST_F(ArchiveWindow, anUnusableArchiveIsToldOnceAndCostsNothingElse)
{
    QFile f(location.path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1000, 'z'));
    f.close();
    w->setArchiveLocation(location);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.texts()[0].contains(location.display())) << messages.texts()[0].toStdString();
    connectToSim(2);
    sync();
    sync();
    EXPECT_EQ(messages.messages.size(), 1u) << messages.texts().join(u'|').toStdString();
    EXPECT_EQ(w->ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    EXPECT_EQ(w->panelText(4), QStringLiteral("未存档"));
    QFile still(location.path);
    ASSERT_TRUE(still.open(QIODevice::ReadOnly));
    EXPECT_EQ(still.readAll(), QByteArray(1000, 'z'));
}

// A clicked record says where its readings came from: the instrument, or
// the imported file by name (its SHA-256 on hovering).
TEST_F(ArchiveWindow, historySaysWhereTheClickedRecordCameFrom)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(2);
    {
        auto a = sf6::Archive::open(location);
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        ASSERT_TRUE(sf6::archiveSync(**a, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"),
                                                       1, sf6::SyncEnd::Complete, {records[0]}})
                        .ok());
        sf6::SyncLog imported{sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("old.xlsx"), 1,
                              sf6::SyncEnd::Complete, {records[1]}};
        imported.fileSha256 = QString(64, u'b');
        ASSERT_TRUE(sf6::archiveSync(**a, imported).ok());
    }
    w->setArchiveLocation(location);
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->Model->rowCount(), 2);
    h->HistoryGridClick(h->Model->index(0, 0));   // the newer test, imported
    EXPECT_EQ(h->lbSource->text(), QStringLiteral("数据来源：导入 old.xlsx"));
    EXPECT_EQ(h->lbSource->toolTip(), QStringLiteral("SHA-256：") + QString(64, u'b'));
    h->HistoryGridClick(h->Model->index(1, 0));
    EXPECT_EQ(h->lbSource->text(), QStringLiteral("数据来源：仪器同步"));
    EXPECT_TRUE(h->lbSource->toolTip().isEmpty());
}

// The history: newest test first, filtered, a side panel, and from a
// selection one dialog, one preview with a page per record, and a workbook.
TEST_F(ArchiveWindow, historyListsFiltersReportsAndExportsTheSelection)
{
    w->setArchiveLocation(location);
    connectToSim(6);
    sync();
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->windowTitle(), QStringLiteral("历史记录"));
    ASSERT_EQ(h->Model->rowCount(), 6);
    EXPECT_EQ(h->Model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("档案号"));
    EXPECT_EQ(h->Model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("存档时间"));
    EXPECT_EQ(h->Model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("继电器编号"));
    EXPECT_EQ(h->Model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("结论"));
    EXPECT_EQ(h->Model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("P20核查"));
    EXPECT_EQ(h->Model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("时间"));
    EXPECT_EQ(h->Model->headerData(56, Qt::Horizontal).toString(), QStringLiteral("Pt闭锁回2-3"));
    EXPECT_TRUE(h->Model->index(0, 5).data().toString().startsWith(QStringLiteral("2012-05-06 "))) << "newest test first";
    EXPECT_EQ(h->lbCount->text(), QStringLiteral("共6条记录"));

    h->dtFrom->setDate(QDate(2012, 5, 2));
    h->dtTo->setDate(QDate(2012, 5, 4));
    h->btnQueryClick();
    ASSERT_EQ(h->Model->rowCount(), 3);
    EXPECT_EQ(h->lbCount->text(), QStringLiteral("共3条记录"));

    h->HistoryGridClick(h->Model->index(1, 0));
    EXPECT_EQ(h->Panel1->valueText(1), QStringLiteral("2012-05-03 10:14"));

    // Reports: one dialog, three pages, each with its own test date.
    h->HistoryGrid->selectAll();
    TForm3* dialog = nullptr;
    QObject::connect(h, &THistoryForm::reportDialogOpened, [&](TForm3* d) { dialog = d; });
    h->btnReportClick();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->rowCopies().size(), 3u);
    dialog->mmbh->setPlainText(QStringLiteral("HB2019-0457"));   // a relay of their own, not the sample
    TForm4* form = nullptr;
    QObject::connect(dialog, &TForm3::pagePreviewed, [&](TForm4* f) { form = f; });
    dialog->btnConfirm->click();
    ASSERT_NE(form, nullptr);
    ASSERT_EQ(form->Pages.size(), 3u);
    QStringList dates;
    for (const sf6::ReportPage& p : form->Pages)
        dates << p.label(QStringLiteral("QRLabel94"))->text;
    EXPECT_EQ(dates, (QStringList{"2012-05-04", "2012-05-03", "2012-05-02"}));
    form->previewDialog()->close();

    // The reports are kept: the text filter now finds them by their relay.
    h->dtFrom->clear();
    h->dtTo->clear();
    h->edText->setText(QStringLiteral("1#开关"));
    h->btnQueryClick();
    EXPECT_EQ(h->Model->rowCount(), 3);

    // The workbook: column A holds the archive numbers.
    h->HistoryGrid->selectAll();
    const QString xlsx = dir.filePath(QStringLiteral("history.xlsx"));
    {
        ui::SaveAnswer answer(xlsx);
        h->btnExportClick();
    }
    ASSERT_TRUE(QFile::exists(xlsx));
#ifndef _WIN32
    // Read back with the host's openpyxl: not under Wine, which starts Unix
    // programs but cannot wait for them.
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SF6_EXPORT_READER), xlsx});
    ASSERT_TRUE(reader.waitForFinished(60000));
    const QJsonObject sheet = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    ASSERT_EQ(sheet[QStringLiteral("max_row")].toInt(), 4);
    QStringList numbers;
    for (int r = 1; r <= 3; ++r)
        numbers << QString::number(sheet[QStringLiteral("cells")][r][0][QStringLiteral("value")].toDouble());
    QStringList expected;
    for (int r = 0; r < 3; ++r)
        expected << h->Model->index(r, 0).data().toString();
    EXPECT_EQ(numbers, expected);
#endif
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();
}

QByteArray p20Record(int day, uint16_t alarmP20 = 386)
{
    return sim::encodeRecord(sim::agreeingRecord(day, alarmP20));
}

// A sync names, beside the window, the record whose P20 the equation does not
// give, and keeps it; the history shows every record's check.
TEST_F(ArchiveWindow, aSyncNamesTheRecordWhoseP20DisagreesAndTheHistoryShowsEachCheck)
{
    w->setArchiveLocation(location);
    sim::SyncScript script;
    // 0.002 MPa off still agrees (the rounded inputs alone move it that far); 0.005 does not.
    script.reply = sim::makeSyncReply({p20Record(1), p20Record(2, 391), p20Record(3, 388)});
    script.bytesPerSecond = 0;
    serveCalibrator(script);
    testsupport::connectThroughScan(*w);
    sync();
    ASSERT_EQ(w->ListView1->topLevelItemCount(), 3) << "a record that disagrees is kept as it came";

    auto* notice = w->findChild<QMessageBox*>(QStringLiteral("P20Notice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_FALSE(notice->isModal()) << "the user goes on working while it is open";
    const QString text = notice->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("第2条记录的P20换算与SF6状态方程不符（"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("偏差+0.005MPa"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("），请检查校验仪的温度测量"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("第1条")) || text.contains(QStringLiteral("第3条"))) << text.toStdString();

    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->Model->rowCount(), 3);
    QStringList checks;
    for (int r = 0; r < 3; ++r)
        checks << h->Model->index(r, 4).data().toString();
    EXPECT_EQ(checks, (QStringList{QStringLiteral("一致"), QStringLiteral("不一致"), QStringLiteral("一致")}))
        << "newest test first";
}

TEST_F(ArchiveWindow, aSyncWhereEveryP20AgreesSaysNothingOfIt)
{
    sim::SyncScript script;
    script.reply = sim::makeSyncReply({p20Record(1), p20Record(2)});
    script.bytesPerSecond = 0;
    serveCalibrator(script);
    testsupport::connectThroughScan(*w);
    sync();
    ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
    const auto* notice = w->findChild<QMessageBox*>(QStringLiteral("P20Notice"));
    EXPECT_TRUE(notice == nullptr || !notice->isVisible());
}

// 工具 → SF6压力换算 opens the calculator beside the window.
TEST_F(ArchiveWindow, theToolsMenuOpensThePressureCalculator)
{
    EXPECT_EQ(w->N22->text(), QStringLiteral("SF6压力换算(&P)"));
    w->N22->trigger();
    QWidget* form = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->windowTitle() == QStringLiteral("SF6压力换算") && top->isVisible())
            form = top;
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->parentWidget(), w.get()) << "it closes with the main window";
}

// A batch PDF from the history window: one that cannot be saved keeps no
// report; one that is saved keeps every record's report.
TEST_F(ArchiveWindow, aBatchPdfKeepsItsReportsOnlyOnceSaved)
{
    w->setArchiveLocation(location);
    connectToSim(3);
    sync();
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->Model->rowCount(), 3);
    h->HistoryGrid->selectAll();
    TForm3* dialog = nullptr;
    QObject::connect(h, &THistoryForm::reportDialogOpened, [&](TForm3* d) { dialog = d; });
    h->btnReportClick();
    ASSERT_NE(dialog, nullptr);
    dialog->mmjdqmc->setPlainText(QStringLiteral("5#母线继电器"));
    auto keptFor = [&] {
        int kept = 0;
        for (int r = 0; r < 3; ++r) {
            auto latest = sf6::latestReport(h->archive(), h->Model->recordId(r));
            kept += latest.ok() && latest->has_value() && (*latest)->details.relayName == QStringLiteral("5#母线继电器");
        }
        return kept;
    };
    {
        ui::SaveAnswer answer(dir.filePath(QStringLiteral("no/such/dir/batch.pdf")));
        dialog->btnPdf->click();
    }
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.texts()[0].startsWith(QStringLiteral("导出PDF失败")));
    EXPECT_EQ(keptFor(), 0);

    const QString pdf = dir.filePath(QStringLiteral("batch.pdf"));
    {
        ui::SaveAnswer answer(pdf);
        dialog->btnPdf->click();
    }
    EXPECT_EQ(messages.messages.size(), 1u) << messages.texts().join(u'|').toStdString();
    EXPECT_TRUE(QFile::exists(pdf));
    EXPECT_EQ(keptFor(), 3);
}

// The date filter opens empty, which is no limit; a date typed (with or
// without leading zeros) filters; anything else is refused with a word and
// the list stays as it was.
TEST_F(ArchiveWindow, theHistoryDateFilterIsEmptyForNoLimitAndTakesTypedDates)
{
    w->setArchiveLocation(location);
    connectToSim(6);
    sync();
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(h->dtFrom->text().isEmpty());
    EXPECT_EQ(h->dtFrom->placeholderText(), QStringLiteral("不限"));
    EXPECT_FALSE(h->filter().from || h->filter().to);
    ASSERT_EQ(h->Model->rowCount(), 6);

    QTest::keyClicks(h->dtFrom, QStringLiteral("2012-05-03"));
    QTest::keyClicks(h->dtTo, QStringLiteral("2012-5-4"));
    h->btnQueryClick();
    EXPECT_EQ(h->Model->rowCount(), 2);
    EXPECT_EQ(h->filter().to, QDate(2012, 5, 4));

    h->dtTo->clear();
    h->btnQueryClick();
    EXPECT_EQ(h->Model->rowCount(), 4) << "an emptied field is no limit again";

    h->dtFrom->setText(QStringLiteral("上周"));
    h->btnQueryClick();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.texts()[0].contains(QStringLiteral("YYYY-MM-DD")));
    EXPECT_EQ(h->Model->rowCount(), 4);
}

namespace {

#ifndef _WIN32
// The tests start their PostgreSQL server on Linux only.
const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

sim::SyncScript scriptOf(int records, uint32_t seed)
{
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(records, seed));
    script.bytesPerSecond = 0;
    return script;
}
#endif

int countIn(const sf6::Archive& a, const QString& table)
{
    auto q = a.run(QStringLiteral("SELECT COUNT(*) FROM ") + table, {}, QStringLiteral("count"));
    return q && q->next() ? q->value(0).toInt() : -1;
}

int runCli(const QStringList& args)
{
    QProcess cli;
    cli.start(QStringLiteral(SF6CLI_PATH), args);
    if (!cli.waitForFinished(60000))
        return -1;
    EXPECT_EQ(cli.exitCode(), 0) << QString::fromUtf8(cli.readAllStandardError()).toStdString();
    return cli.exitCode();
}

} // namespace

// The window, its history window and sf6cli in another process share one
// SQLite archive in WAL mode: whichever program ends, nothing another one
// wrote is lost.
TEST_F(ArchiveWindow, recordsSyncedInTheWindowSurviveAnotherProgramEndingBesideIt)
{
    {
        auto a = sf6::Archive::open(location);
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        ASSERT_TRUE(sf6::archiveSync(**a, {sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("COM1"), 10,
                                           sf6::SyncEnd::Complete, sim::plausibleRecords(10, 1)})
                        .ok());
    }
    w->setArchiveLocation(location);
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(&h->archive(), w->archive()) << "one connection for both windows";
    ASSERT_EQ(runCli({QStringLiteral("archive"), QStringLiteral("syncs"), QStringLiteral("--archive"), location.path}), 0);

    connectToSim(30, 2);
    sync();
    ASSERT_EQ(w->panelText(4), QStringLiteral("已存档30条新记录"));

#ifdef _WIN32
    // No pseudo-terminal to lend it: sf6cli syncs from its own demo calibrator.
    ASSERT_EQ(runCli({QStringLiteral("demo"), QStringLiteral("--records"), QStringLiteral("20"), QStringLiteral("--archive"),
                      location.path}),
              0);
#else
    sim::Simulator cliSim;
    cliSim.setSyncScript(scriptOf(20, 3));
    ASSERT_TRUE(cliSim.start());
    ASSERT_EQ(runCli({QStringLiteral("sync"), QStringLiteral("--port"), cliSim.portPath(), QStringLiteral("--archive"),
                      location.path}),
              0);
#endif

    h->close();
    QApplication::processEvents();
    w.reset();

    auto after = sf6::Archive::open(location);
    ASSERT_TRUE(after.ok()) << after.error().toStdString();
    EXPECT_EQ(countIn(**after, QStringLiteral("records")), 60);
    EXPECT_EQ(countIn(**after, QStringLiteral("syncs")), 3);
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();
}

#ifndef _WIN32
// A server restart between two syncs: the second one connects again and is
// archived like the first, without a message.
TEST_F(ArchiveWindow, aServerRestartBetweenTwoSyncsLosesNeither)
{
    archivetest::PgServer& pg = archivetest::PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    location = *sf6::ArchiveLocation::parse(pg.newDatabase());
    w->setArchiveLocation(location);
    auto* s = connectToSim(3, 11);
    sync();
    ASSERT_EQ(w->panelText(4), QStringLiteral("已存档3条新记录"));
    ASSERT_TRUE(pg.restart()) << pg.error().toStdString();
    s->setSyncScript(scriptOf(5, 12));
    sync();
    EXPECT_EQ(w->panelText(4), QStringLiteral("已存档5条新记录"));
    EXPECT_EQ(countIn(*w->archive(), QStringLiteral("records")), 8);
    // The history window's own query connects again too.
    ASSERT_TRUE(pg.restart());
    THistoryForm* h = openHistory();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->Model->rowCount(), 8);
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join(u'|').toStdString();
}

// A server that stays down: said once, not at every sync; the first sync
// after it is back is archived.
TEST_F(ArchiveWindow, aServerThatStaysDownIsToldOnceAndUsedAgainWhenBack)
{
    archivetest::PgServer& pg = archivetest::PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    location = *sf6::ArchiveLocation::parse(pg.newDatabase());
    w->setArchiveLocation(location);
    auto* s = connectToSim(2, 21);
    sync();
    ASSERT_EQ(w->panelText(4), QStringLiteral("已存档2条新记录"));
    ASSERT_TRUE(pg.pause());
    s->setSyncScript(scriptOf(3, 22));
    sync();
    sync();
    const bool resumed = pg.resume();
    ASSERT_TRUE(resumed) << pg.error().toStdString();
    EXPECT_EQ(w->panelText(4), QStringLiteral("未存档"));
    ASSERT_EQ(messages.messages.size(), 1u) << messages.texts().join(u'|').toStdString();
    EXPECT_TRUE(messages.texts()[0].contains(QStringLiteral("重新连接也失败"))) << messages.texts()[0].toStdString();
    sync();
    EXPECT_EQ(w->panelText(4), QStringLiteral("已存档3条新记录"));
}
// Another program's session idle inside its write holds the writers' lock: a
// sync waits the set time (here the location's own, short), the window says
// another program holds the archive, once, and stays usable; the next sync
// after the lock is let go is archived.
TEST_F(ArchiveWindow, anIdleLockHolderIsToldAndTheWindowGoesOn)
{
    archivetest::PgServer& pg = archivetest::PgServer::instance();
    ASSERT_TRUE(pg.running()) << pg.error().toStdString();
    const QString database = pg.newDatabase();
    location = *sf6::ArchiveLocation::parse(database + QStringLiteral("&options=-c%20lock_timeout%3D300"));
    w->setArchiveLocation(location);
    auto* s = connectToSim(2, 31);
    sync();
    ASSERT_EQ(w->panelText(4), QStringLiteral("已存档2条新记录"));

    const QString holder = QStringLiteral("window-lock-holder");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), holder);
        db.setHostName(pg.socketDir());
        db.setPort(archivetest::PgServer::kPort);
        db.setDatabaseName(database.section(u'/', 3).section(u'?', 0, 0));
        ASSERT_TRUE(db.open() && db.transaction());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE archive_lock SET counter = counter + 1 WHERE id = 1")));
    }
    s->setSyncScript(scriptOf(3, 32));
    sync();
    EXPECT_EQ(w->panelText(4), QStringLiteral("未存档"));
    ASSERT_EQ(messages.messages.size(), 1u) << messages.texts().join(u'|').toStdString();
    EXPECT_TRUE(messages.texts()[0].contains(QStringLiteral("存档正被另一个程序占用"))) << messages.texts()[0].toStdString();
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    {
        QSqlDatabase db = QSqlDatabase::database(holder);
        db.rollback();
        db.close();
    }
    QSqlDatabase::removeDatabase(holder);
    sync();
    EXPECT_EQ(w->panelText(4), QStringLiteral("已存档3条新记录"));
}
#endif
