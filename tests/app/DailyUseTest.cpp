// Small things of daily use: where save dialogs start and what they propose,
// the status bar after a save, a sync from an instrument that is gone and the
// demo, and windows whose lists and choices are read whole.
#include "app/TForm1.h"
#include "archive/THistoryForm.h"
#include "register/TRelayRegisterForm.h"
#include "sim/Records.h"
#include "tests/app/CalibratorFixture.h"
#include "tests/app/WindowDriver.h"
#include "ui/Choices.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "view/SidePanel.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPointer>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using sf6::CommandState;

namespace {

class DailyUse : public testsupport::CalibratorFixture {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
    }
    void TearDown() override
    {
        testsupport::deleteTopLevels<THistoryForm, TRelayRegisterForm>();
        w.reset();
        CalibratorFixture::TearDown();
    }
    void connectAndSync(int records)
    {
        sim::SyncScript script;
        script.reply = sim::makeSyncReply(sim::plausibleRecords(records));
        script.bytesPerSecond = 0;
        serveCalibrator(script);
        testsupport::connectThroughScan(*w);
        ASSERT_EQ(w->commandState(), CommandState::Online);
        sync();
    }
    void sync()
    {
        w->N8Click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->commandState() != CommandState::Syncing; }, 5000));
    }
    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

#ifndef _WIN32
// The user's Documents come from HOME here; on Windows from the shell.
TEST_F(DailyUse, saveDialogsStartInDocumentsBeforeAnyFolderIsUsed_thenInTheLastOne)
{
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir fakeHome;
    qputenv("HOME", fakeHome.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    ui::FileDialogs::forgetLastFolder();
    const QString documents = QDir(fakeHome.path()).filePath(QStringLiteral("Documents"));
    QString withoutDocuments, withDocuments, afterASave;
    {
        ui::SaveAnswer cancel{QString()};
        ui::FileDialogs::saveFileName({QStringLiteral("导出PDF"), QStringLiteral("r.pdf"), QString()});
        withoutDocuments = cancel.requests.at(0).initialName;
        QDir().mkpath(documents);
        w->N2Click();
        withDocuments = cancel.requests.at(1).initialName;
    }
    {
        ui::SaveAnswer answer{dir.filePath(QStringLiteral("x.pdf"))};
        ui::FileDialogs::saveFileName({QStringLiteral("导出PDF"), QStringLiteral("r.pdf"), QString()});
    }
    {
        ui::SaveAnswer cancel{QString()};
        ui::FileDialogs::saveFileName({QStringLiteral("导出PDF"), QStringLiteral("r.pdf"), QString()});
        afterASave = cancel.requests.at(0).initialName;
    }
    qputenv("HOME", home);
    if (!config.isNull())
        qputenv("XDG_CONFIG_HOME", config);
    EXPECT_EQ(withoutDocuments, QDir(fakeHome.path()).filePath(QStringLiteral("r.pdf"))) << "no Documents: the home folder";
    EXPECT_EQ(QFileInfo(withDocuments).absolutePath(), documents);
    EXPECT_FALSE(QFileInfo(withDocuments).fileName().isEmpty()) << "a name is proposed";
    EXPECT_EQ(afterASave, dir.filePath(QStringLiteral("r.pdf")));
}
#endif

TEST_F(DailyUse, theHistorysExportProposesANameAndTheStatusBarSaysWhereItWent)
{
    w->setArchiveLocation(location);
    connectAndSync(2);
    THistoryForm* h = nullptr;
    const auto c = QObject::connect(w.get(), &TForm1::historyOpened, [&](THistoryForm* opened) { h = opened; });
    w->N15Click();
    QObject::disconnect(c);
    ASSERT_NE(h, nullptr);
    h->HistoryGrid->selectAll();
    {
        ui::SaveAnswer cancel{QString()};
        h->btnExportClick();
        ASSERT_EQ(cancel.requests.size(), 1u);
        EXPECT_EQ(QFileInfo(cancel.requests[0].initialName).fileName(),
                  QStringLiteral("历史记录_%1.xlsx").arg(QDate::currentDate().toString(Qt::ISODate)));
    }
    const QString before = w->panelText(1);
    const QString file = dir.filePath(QStringLiteral("history.xlsx"));
    {
        ui::SaveAnswer answer{file};
        h->btnExportClick();
    }
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_EQ(w->panelText(1), QStringLiteral("已保存到 ") + QDir::toNativeSeparators(file));

    // A workbook that could not be written is no news for the status bar.
    w->setPanelText(1, before);
    {
        ui::SaveAnswer answer{dir.filePath(QStringLiteral("no/such/folder/list.xlsx"))};
        w->N2Click();
    }
    EXPECT_EQ(w->panelText(1), before);
    EXPECT_FALSE(messages.messages.empty()) << "the failure has its message";
    {
        ui::SaveAnswer answer{dir.filePath(QStringLiteral("list.xlsx"))};
        w->N2Click();
    }
    EXPECT_EQ(w->panelText(1), QStringLiteral("已保存到 ") + QDir::toNativeSeparators(dir.filePath(QStringLiteral("list.xlsx"))));
}

TEST_F(DailyUse, aSyncFromAnInstrumentThatIsGone_turnsTheIndicatorRedAndDropsTheLastArchivedCount)
{
    w->setArchiveLocation(location);
    connectAndSync(3);
    ASSERT_EQ(w->panelText(TStatusBar::kArchivePanel), QStringLiteral("已存档3条新记录"));
    sim::SyncScript silent;
    silent.answer = false;
    serveCalibrator(silent);
    sync();
    EXPECT_EQ(w->commandState(), CommandState::SyncEmpty);
    EXPECT_EQ(w->Connected, 0);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(255, 0, 0));
    EXPECT_TRUE(w->panelText(TStatusBar::kArchivePanel).isEmpty()) << "the last sync's count is not this one's";
    EXPECT_TRUE(w->N8->isEnabled()) << "the port is still open: a sync can be tried again";

    // Back on: the next sync that is answered turns it green again.
    sim::SyncScript back;
    back.reply = sim::makeSyncReply(sim::plausibleRecords(3));
    back.bytesPerSecond = 0;
    serveCalibrator(back);
    sync();
    EXPECT_EQ(w->commandState(), CommandState::SyncDone);
    EXPECT_EQ(w->StatusBar1->indicatorColor(), QColor(0, 128, 0));
    EXPECT_EQ(w->panelText(TStatusBar::kArchivePanel), QStringLiteral("已存档0条新记录"));
}

TEST_F(DailyUse, theDemoSaysInTheStatusBarThatItsInstrumentIsSimulated)
{
    EXPECT_TRUE(w->StatusBar1->demoNote().isEmpty()) << "the real program says nothing of a demo";
    w->markAsDemo();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->StatusBar1->demoNote(), QStringLiteral("演示：模拟校验仪"));
    const auto* note = w->StatusBar1->findChild<QLabel*>(QStringLiteral("DemoNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_LE(note->mapTo(w.get(), QPoint(note->width(), 0)).x(), w->width()) << "inside the window";
    EXPECT_EQ(w->windowTitle(), QStringLiteral("vizAZ6izuzivevovedod"));
}

TEST_F(DailyUse, theRegistersVersionsAndLinkChangesShowFiveRows)
{
    w->setArchiveLocation(location);
    TRelayRegisterForm* f = nullptr;
    const auto c = QObject::connect(w.get(), &TForm1::registerOpened, [&](TRelayRegisterForm* opened) { f = opened; });
    w->N16Click();
    QObject::disconnect(c);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f));
    for (const QTableWidget* t : {f->VersionGrid, f->LinkGrid}) {
        SCOPED_TRACE(t->objectName().toStdString());
        EXPECT_GE(t->viewport()->height(), 5 * t->verticalHeader()->defaultSectionSize());
    }
}

TEST_F(DailyUse, aChoiceShowsItsLongestItemWhole)
{
    const QStringList items{QStringLiteral("20121212  1#开关继电器（主变压器A相 SF6 密度继电器）  ZMJ-100/0.40-0.60MPa"),
                            QStringLiteral("R2  短  M")};
    int comboWidth = 0, textWidth = 0;
    std::function<void()> answer = [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QInputDialog*>(top); d && d->isVisible()) {
                const auto* combo = d->findChild<QComboBox*>();
                comboWidth = combo->width();
                textWidth = combo->fontMetrics().horizontalAdvance(items[0]);
                d->reject();
                return;
            }
        QTimer::singleShot(10, answer);
    };
    ui::Choices::setHandler({});
    QTimer::singleShot(0, answer);
    const int chosen = ui::Choices::choose({QStringLiteral("关联继电器"), QStringLiteral("所选1条记录关联到："), items});
    ui::Choices::setHandler([](const ui::ChoiceRequest&) { return -1; });
    EXPECT_EQ(chosen, -1);
    EXPECT_GT(comboWidth, textWidth);
}

TEST_F(DailyUse, theSidePanelsPtAndP20CaptionsKeepClearOfTheirValues)
{
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    int seen = 0;
    for (const QLabel* caption : w->Panel1->findChildren<QLabel*>()) {
        if (caption->text() != QStringLiteral("P20：") && caption->text() != QStringLiteral("Pt："))
            continue;
        ++seen;
        const QRect ink = caption->fontMetrics().boundingRect(caption->text());
        EXPECT_LT(caption->x() + caption->contentsRect().left() + ink.right(), 44) << caption->text().toStdString();
    }
    EXPECT_EQ(seen, 14);
}
