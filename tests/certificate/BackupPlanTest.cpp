// The backups that happen by themselves: which files count as the program's
// own, when one is due, that only its own old ones are removed, and the
// folders and disks a backup cannot be written to.
#include "base/Platform.h"
#include "certificate/BackupPlan.h"
#include "sim/Records.h"
#include "tests/archive/SyncedArchive.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using archivetest::Engine;
using namespace sf6;

const QDateTime kStart(QDate(2026, 3, 1), QTime(9, 0, 0));

class BackupPlan : public archivetest::SyncedArchive {
protected:
    void SetUp() override
    {
        openWithRecords(sim::plausibleRecords(6));
        ASSERT_FALSE(HasFatalFailure());
        settings.folder = dir.filePath(QStringLiteral("备份 文件夹"));
    }
    QString folderFile(const QString& name) const { return QDir(settings.folder).filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QDir().mkpath(settings.folder);
        QFile f(folderFile(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // An SQLite database of someone else's, named as a backup.
    void foreignDatabase(const QString& name) const
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
            db.setDatabaseName(folderFile(name));
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER)"));
            QSqlQuery(db).exec(QStringLiteral("INSERT INTO schema_version VALUES (1)"));
            QSqlQuery(db).exec(QStringLiteral("CREATE TABLE records (id INTEGER)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    }
    BackupSettings settings;
};

TEST_P(BackupPlan, KeepsTheNewestAndRemovesOnlyItsOwnOldBackups)
{
    // Named as backups but not ours: text, someone's database; and an archive of ours under another name.
    write(QStringLiteral("sf6archive-20000101-000000.sqlite"), "not a database");
    foreignDatabase(QStringLiteral("sf6archive-20000102-000000.sqlite"));
    settings.keep = 2;
    QStringList made;
    for (int i = 0; i < 4; ++i) {
        auto run = backupIntoFolder(archive->location(), settings, kStart.addDays(i));
        ASSERT_TRUE(run) << run.error().toStdString();
        ASSERT_TRUE(run->made);
        EXPECT_EQ(QFileInfo(run->file).fileName(), backupFileName(kStart.addDays(i)));
        EXPECT_TRUE(run->notRemoved.isEmpty()) << run->notRemoved.join(u'\n').toStdString();
        made << run->file;
        if (i == 0) {
            ASSERT_TRUE(QFile::copy(run->file, folderFile(QStringLiteral("mine.sqlite"))));
        }
        EXPECT_EQ(run->removed, i >= 2 ? QStringList{made[i - 2]} : QStringList()) << i;
    }
    const std::vector<BackupFile> listed = listBackups(settings.folder);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].path, made[3]);
    EXPECT_EQ(listed[1].path, made[2]);
    EXPECT_TRUE(listed[0].ours && listed[1].ours);
    EXPECT_EQ(listed[0].records, 6);
    EXPECT_GT(listed[0].size, 0);
    EXPECT_FALSE(listed[2].ours) << "someone's database with our tables' names";
    EXPECT_FALSE(listed[3].ours) << "text";
    EXPECT_EQ(listed[3].records, -1);
    EXPECT_TRUE(QFile::exists(folderFile(QStringLiteral("mine.sqlite"))));
    EXPECT_EQ(QDir(settings.folder).entryList(QDir::Files).size(), 5) << QDir(settings.folder).entryList().join(u' ').toStdString();
}

TEST_P(BackupPlan, WhatABackupBrokenOffLeftIsRemovedOnceNoCopyCanStillBeWritingIt)
{
    const QDateTime now = QDateTime::currentDateTime();
    const auto aged = [&](const QString& name, const QDateTime& at) {
        write(name, "partial");
        QFile f(folderFile(name));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(at, QFileDevice::FileModificationTime));
    };
    const QString old = QStringLiteral("sf6archive-20260301-090000.sqlite.copying-aB3xY9");
    aged(old, now.addDays(-2));
    aged(old + QStringLiteral("-journal"), now.addDays(-2));
    // Perhaps still being written by a backup on another PC.
    aged(QStringLiteral("sf6archive-20260302-090000.sqlite.copying-Qw7Er2"), now.addSecs(-600));
    // Not of a backup's name: never ours to remove, however old.
    aged(QStringLiteral("notes.sqlite.copying-aB3xY9"), now.addDays(-9));
    aged(QStringLiteral("sf6archive-20260301-090000.sqlite.copying-aB3xY9.bak"), now.addDays(-9));

    auto run = backupIntoFolder(archive->location(), settings, now);
    ASSERT_TRUE(run) << run.error().toStdString();
    EXPECT_TRUE(run->notRemoved.isEmpty()) << run->notRemoved.join(u'\n').toStdString();
    EXPECT_EQ(run->removed.size(), 2) << run->removed.join(u'\n').toStdString();
    EXPECT_FALSE(QFile::exists(folderFile(old)));
    EXPECT_FALSE(QFile::exists(folderFile(old + QStringLiteral("-journal"))));
    EXPECT_EQ(QDir(settings.folder).entryList(QDir::Files).size(), 4) << QDir(settings.folder).entryList().join(u' ').toStdString();
}

TEST_P(BackupPlan, IsDueOnlyWhenTheNewestOfOursIsOlderThanTheInterval)
{
    EXPECT_TRUE(backupDue({}, kStart, std::chrono::days(1)));
    auto first = automaticBackup(archive->location(), settings, kStart);
    ASSERT_TRUE(first) << first.error().toStdString();
    EXPECT_TRUE(first->made);
    const std::vector<BackupFile> one = listBackups(settings.folder);
    EXPECT_FALSE(backupDue(one, kStart.addSecs(23 * 3600), std::chrono::days(1)));
    EXPECT_TRUE(backupDue(one, kStart.addSecs(24 * 3600), std::chrono::days(1)));
    EXPECT_FALSE(backupDue(one, kStart.addDays(6), std::chrono::days(7)));

    // Not due: nothing written, and the newest named.
    auto second = automaticBackup(archive->location(), settings, kStart.addSecs(3600));
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->made);
    EXPECT_EQ(second->newest, kStart);
    EXPECT_EQ(listBackups(settings.folder).size(), 1u);

    // A newer file that is not ours, or one dated after now (the clock set back), does not count.
    write(backupFileName(kStart.addSecs(7200)), "junk");
    write(backupFileName(kStart.addDays(30)), "junk");
    QFile::copy(one[0].path, folderFile(backupFileName(kStart.addDays(20))));
    EXPECT_TRUE(backupDue(listBackups(settings.folder), kStart.addDays(2), std::chrono::days(1)));
    EXPECT_FALSE(backupDue(listBackups(settings.folder), kStart.addDays(20).addSecs(60), std::chrono::days(1)));
}

TEST_P(BackupPlan, SettingsAreKeptAndCheckedAndTheDefaultFolderIsBesideTheArchive)
{
    const QString file = dir.filePath(QStringLiteral("conf/backup.ini"));
    const BackupSettings fresh = loadBackupSettings(file);
    EXPECT_EQ(fresh.keep, kDefaultBackupsKept);
    EXPECT_EQ(fresh.interval, kDefaultBackupInterval);
    EXPECT_TRUE(fresh.folder.isEmpty());
    BackupSettings s{dir.filePath(QStringLiteral("共享")), std::chrono::days(7), 5};
    ASSERT_TRUE(saveBackupSettings(s, file).ok());
    const BackupSettings back = loadBackupSettings(file);
    EXPECT_EQ(back.folder, s.folder);
    EXPECT_EQ(back.interval, s.interval);
    EXPECT_EQ(back.keep, 5);
    for (const BackupSettings& bad : {BackupSettings{{}, std::chrono::days(0), 5}, BackupSettings{{}, std::chrono::days(1), 0}}) {
        const Status refused = saveBackupSettings(bad, file);
        EXPECT_EQ(refused.code(), ErrorCode::InvalidValue);
        EXPECT_EQ(loadBackupSettings(file).keep, 5) << "a refused change leaves the file";
    }
    // Values edited by hand out of range are the defaults, never a keep of none.
    QFile edited(file);
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
    edited.write("[backup]\ninterval_days=abc\nkeep=-5\n");
    edited.close();
    EXPECT_EQ(loadBackupSettings(file).keep, kDefaultBackupsKept);
    EXPECT_EQ(loadBackupSettings(file).interval, kDefaultBackupInterval);
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(backupFolder({}, archive->location()), QDir(dir.path()).filePath(QStringLiteral("backups")));
    }
}

// The archive in use can carry a backup's name inside the backup folder (a
// backup opened as the archive): it is never counted, so never removed.
// Only a file archive can sit among the backups.
class BackupPlanOnFile : public BackupPlan {};

TEST_P(BackupPlanOnFile, TheArchiveInUseIsNeverRemovedEvenWithABackupsName)
{
    settings.keep = 1;
    auto first = backupIntoFolder(archive->location(), settings, kStart);
    ASSERT_TRUE(first) << first.error().toStdString();
    const QString opened = folderFile(backupFileName(kStart.addSecs(-60)));
    ASSERT_TRUE(QFile::copy(first->file, opened));
    QFile::setPermissions(opened, QFile::ReadOwner | QFile::WriteOwner);
    ArchiveLocation asArchive = archive->location();
    asArchive.path = opened;
    auto second = backupIntoFolder(asArchive, settings, kStart.addDays(1));
    ASSERT_TRUE(second) << second.error().toStdString();
    EXPECT_EQ(second->removed, QStringList{first->file});
    EXPECT_TRUE(QFile::exists(opened));
}

TEST_P(BackupPlan, AFolderThatCannotBeWrittenOrTheArchiveItselfIsRefusedAndTheSourceLeftAlone)
{
    const QString source = GetParam() == Engine::SQLite ? archive->location().path : QString();
    const QString before = source.isEmpty() ? QString() : platform::fileState(source);
    // A folder below a file cannot be made.
    write(QStringLiteral("plain"), "x");
    BackupSettings blocked = settings;
    blocked.folder = folderFile(QStringLiteral("plain/below"));
    auto refused = backupIntoFolder(archive->location(), blocked, kStart);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.status().code(), ErrorCode::TargetNotWritable);
    EXPECT_TRUE(refused.error().contains(QStringLiteral("备份文件夹"))) << refused.error().toStdString();
    blocked.folder = folderFile(QStringLiteral("plain"));
    EXPECT_EQ(backupIntoFolder(archive->location(), blocked, kStart).status().code(), ErrorCode::TargetNotWritable);
    if (!source.isEmpty()) {
        auto self = backupArchive(*archive, QDir(dir.path()).filePath(QStringLiteral("./") + QFileInfo(source).fileName()));
        ASSERT_FALSE(self);
        EXPECT_EQ(self.status().code(), ErrorCode::SameArchive);
        EXPECT_EQ(platform::fileState(source), before);
    }
}

#ifndef _WIN32
// A small disk of its own (tmpfs), or false when this user may not mount one.
bool mountDisk(const QString& where, const char* options)
{
    QDir().mkpath(where);
    return geteuid() == 0
           && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                          QString::fromLatin1(options), QStringLiteral("tmpfs"), where})
                  == 0;
}

// A read-only medium refuses even an administrator: said before any copy.
// The tests run as root (CI does): mounting a small disk is part of the test.
TEST_P(BackupPlan, AReadOnlyMediumIsSaidBeforeAnyCopy)
{
    const QString mount = dir.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(mountDisk(mount, "ro,size=64k")) << "a read-only disk needs root to mount";
    settings.folder = mount;
    auto refused = backupIntoFolder(archive->location(), settings, kStart);
    QProcess::execute(QStringLiteral("umount"), {mount});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.status().code(), ErrorCode::TargetNotWritable);
    EXPECT_TRUE(refused.error().contains(QStringLiteral("不能写入"))) << refused.error().toStdString();
}

// A disk that fills part-way: the partial copy is gone, the folder as it was.
TEST_P(BackupPlan, AFullDiskLeavesNoPartialBackup)
{
    const QString mount = dir.filePath(QStringLiteral("tiny"));
    ASSERT_TRUE(mountDisk(mount, "size=48k")) << "a small disk needs root to mount";
    settings.folder = mount;
    auto full = backupIntoFolder(archive->location(), settings, kStart);
    const QStringList left = QDir(mount).entryList(QDir::Files | QDir::Hidden);
    QProcess::execute(QStringLiteral("umount"), {mount});
    ASSERT_FALSE(full);
    EXPECT_EQ(full.status().code(), ErrorCode::ArchiveUnavailable);
    EXPECT_TRUE(full.error().contains(QStringLiteral("磁盘已满"))) << full.error().toStdString();
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
}

#endif

INSTANTIATE_TEST_SUITE_P(Engines, BackupPlan, archivetest::testedEngines(), archivetest::engineName);
INSTANTIATE_TEST_SUITE_P(File, BackupPlanOnFile, ::testing::Values(Engine::SQLite), archivetest::engineName);

} // namespace
