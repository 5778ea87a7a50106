// The automatic backup as the window's user meets it: made at start beside
// the work, the window answering all the while, the status bar saying when
// (or once why not) with its other panels as they were; and 工具 → 存档备份…
// backing up now and restoring from the list.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "certificate/TBackupForm.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "ui/Choices.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

constexpr int kManyRecords = 20000;
constexpr qint64 kLongestStallMs = 100;
constexpr std::chrono::milliseconds kIdleWatch{1500};

class BackupWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The settings file lies in the user's data folder: this test's own.
        dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        QDir().mkpath(dir.filePath(QStringLiteral("档案 室")));
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("档案 室/archive.sqlite")));
    }
    void TearDown() override
    {
        if (dataHome.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", dataHome);
    }
    void fill(int records)
    {
        auto a = sf6::Archive::open(location);
        ASSERT_TRUE(a) << a.error().toStdString();
        auto s = sf6::archiveSync(**a, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"),
                                                    records, sf6::SyncEnd::Complete, sim::spreadRecords(records, 7)});
        ASSERT_TRUE(s) << s.error().toStdString();
    }
    QStringList backups() const
    {
        return QDir(dir.filePath(QStringLiteral("档案 室/backups"))).entryList({QStringLiteral("sf6archive-*.sqlite")});
    }
    QStringList panels(const TForm1& w) const
    {
        QStringList out;
        for (int i = 1; i < TStatusBar::kPanelCount; ++i)
            out << w.panelText(i);
        return out;
    }

    QTemporaryDir dir;
    QByteArray dataHome;
    sf6::ArchiveLocation location;
};

TEST_F(BackupWindow, theAutomaticBackupRunsBesideTheWindowAndTheStatusBarSaysWhen)
{
    fill(kManyRecords);
    ASSERT_FALSE(HasFatalFailure());
    TForm1 w;
    w.setArchiveLocation(location);
    w.show();
    w.setPanelText(1, QStringLiteral("联机成功"));
    const QStringList before = panels(w);

    // The longest gap between ticks of a short timer is the longest the window did not answer.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    tick.start();
    // The same loop idle first: a machine busy with other work stalls it by itself.
    QTest::qWait(int(kIdleWatch.count()));
    const qint64 idle = longest;
    longest = 0;
    clock.restart();
    last = 0;
    w.startAutomaticBackup({});
    ASSERT_TRUE(w.backupRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.backupRunning(); }, 120000));
    const qint64 took = clock.elapsed();
    tick.stop();
    // A backup this short would hide a window blocked by it.
    EXPECT_GT(took, 3 * kLongestStallMs) << "the archive is too small to show a stall";
    RecordProperty("longest_stall_ms", int(longest));
    RecordProperty("idle_stall_ms", int(idle));
    RecordProperty("backup_ms", int(took));
    EXPECT_LT(longest, std::max(kLongestStallMs, idle + kLongestStallMs / 2))
        << "the backup took " << took << " ms; idle, the loop stalled " << idle << " ms at most";

    ASSERT_EQ(backups().size(), 1);
    EXPECT_TRUE(w.StatusBar1->backupNote().startsWith(QStringLiteral("已备份 "))) << w.StatusBar1->backupNote().toStdString();
    EXPECT_EQ(panels(w), before);
    const std::vector<sf6::BackupFile> listed = sf6::listBackups(dir.filePath(QStringLiteral("档案 室/backups")));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].records, kManyRecords);

    // Not due again today: nothing more is written; the note names the one there is.
    w.startAutomaticBackup({});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.backupRunning(); }, 60000));
    EXPECT_EQ(backups().size(), 1);
    EXPECT_TRUE(w.StatusBar1->backupNote().startsWith(QStringLiteral("已备份 ")));
}

TEST_F(BackupWindow, aBackupThatCannotBeMadeIsToldOnceInTheStatusBar)
{
    fill(3);
    ASSERT_FALSE(HasFatalFailure());
    QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TForm1 w;
    w.setArchiveLocation(location);
    ui::MessageRecorder boxes;
    sf6::BackupSettings s;
    s.folder = blocker.fileName() + QStringLiteral("/backups");
    w.startAutomaticBackup(s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.backupRunning(); }, 60000));
    EXPECT_TRUE(w.StatusBar1->backupNote().startsWith(QStringLiteral("未能自动备份："))) << w.StatusBar1->backupNote().toStdString();
    EXPECT_TRUE(w.StatusBar1->findChild<QLabel*>(QStringLiteral("BackupNote"))->toolTip().contains(QStringLiteral("备份文件夹")));
    EXPECT_TRUE(boxes.messages.empty()) << "no box in the user's way";
}

TEST_F(BackupWindow, theBackupWindowBacksUpNowListsAndRestoresIntoTheOpenWindow)
{
    fill(5);
    ASSERT_FALSE(HasFatalFailure());
    TForm1 w;
    w.setArchiveLocation(location);
    TBackupForm* form = nullptr;
    QObject::connect(&w, &TForm1::backupOpened, [&](TBackupForm* f) { form = f; });
    w.N24->trigger();
    ASSERT_NE(form, nullptr);
    const QString folder = dir.filePath(QStringLiteral("共享 备份"));
    form->edFolder->setText(QDir::toNativeSeparators(folder));
    form->seKeep->setValue(3);
    form->btnSave->click();
    EXPECT_EQ(sf6::loadBackupSettings().keep, 3);
    EXPECT_EQ(sf6::loadBackupSettings().folder, folder);

    form->btnBackupNow->click();
    EXPECT_FALSE(form->btnBackupNow->isEnabled()) << "one at a time";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->working(); }, 60000));
    EXPECT_TRUE(form->lbState->text().startsWith(QStringLiteral("备份已写入"))) << form->lbState->text().toStdString();
    ASSERT_EQ(form->lvBackups->topLevelItemCount(), 1);
    EXPECT_EQ(form->lvBackups->topLevelItem(0)->text(2), QStringLiteral("5"));

    // A change after the backup, then the backup restored over it.
    sf6::RelayEntry r;
    r.serial = QStringLiteral("R-后来");
    ASSERT_TRUE(sf6::saveRelay(*w.archive(), r, QStringLiteral("test")).ok());
    ASSERT_EQ(sf6::listRelays(*w.archive())->size(), 1u);
    form->lvBackups->setCurrentItem(form->lvBackups->topLevelItem(0));
    ASSERT_TRUE(form->btnRestore->isEnabled());
    ui::ChoiceAnswer yes(0);
    ui::MessageRecorder boxes;
    form->btnRestore->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->working(); }, 60000));
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_TRUE(boxes.texts().front().contains(QStringLiteral("原来的存档已改名为"))) << boxes.texts().front().toStdString();
    ASSERT_NE(w.archive(), nullptr) << "the window opened the archive again";
    EXPECT_TRUE(sf6::listRelays(*w.archive())->empty());
    const QStringList aside = QDir(dir.filePath(QStringLiteral("档案 室"))).entryList({QStringLiteral("archive.sqlite.before-restore-*")});
    EXPECT_FALSE(aside.isEmpty());
    form->close();
}

} // namespace
