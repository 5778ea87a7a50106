// Careful saving when the disk gives out part-way: a write the system takes
// only in part, then refuses, is a failure however the writer goes on, and
// the file that stood there before stays as it was. The file-size limit of
// the process stands in for a full disk: it cuts a write short the same way,
// without a mount or a privilege.
#include "base/Platform.h"
#include "base/SafeSave.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace sf6;

namespace {

[[maybe_unused]] QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

[[maybe_unused]] QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

#ifndef _WIN32
// While it lives, no file of this process grows past bytes: a write that
// would is cut short, the next one fails (EFBIG), as on a disk that fills up.
class DiskRoom {
public:
    explicit DiskRoom(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~DiskRoom()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    rlimit saved_{};
    void (*signal_)(int) = nullptr;
};
#endif

constexpr int kRoom = 16 * 1024;
constexpr unsigned long kTick = 20;   // ms: longer than the clock tick of file times

} // namespace

#ifndef _WIN32
TEST(SafeSave, aWriteCutShortByAFullDiskIsAFailureAndTheOldFileStays)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("report.pdf"));
    const QByteArray old(2000, 'o');
    ASSERT_TRUE(saveFile(target, old));

    // The last write alone is cut short: nothing fails after it.
    {
        const DiskRoom room(kRoom);
        SafeSave save(target);
        ASSERT_TRUE(save.open());
        save.write(QByteArray(kRoom / 2, 'a'));
        save.write(QByteArray(kRoom, 'b'));
        const Status s = save.commit();
        EXPECT_FALSE(s.ok()) << "a file without its end was called written";
        EXPECT_TRUE(s.message().contains(QStringLiteral("report.pdf"))) << s.message().toStdString();
    }
    EXPECT_EQ(readAll(target), old);
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("report.pdf")});

    // A writer that stops at the first short count, as a QDataStream does
    // (the PDF engine's): its later writes never reach the device.
    {
        const DiskRoom room(kRoom);
        SafeSave save(target);
        ASSERT_TRUE(save.open());
        QDataStream out(save.device());
        for (int i = 0; i < 8; ++i)
            out.writeRawData(QByteArray(kRoom / 4, char('0' + i)).constData(), kRoom / 4);
        EXPECT_NE(out.status(), QDataStream::Ok);
        EXPECT_FALSE(save.commit().ok());
    }
    EXPECT_EQ(readAll(target), old);
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("report.pdf")});

    // The same bytes with room for them are written whole.
    const QByteArray whole(3 * kRoom, 'w');
    ASSERT_TRUE(saveFile(target, whole));
    EXPECT_EQ(readAll(target), whole);
}

// A device that is full from the start (/dev/full) is written in place and
// refused with the reason.
TEST(SafeSave, aFullDeviceIsRefusedWithTheReason)
{
    const Status s = saveFile(QStringLiteral("/dev/full"), QByteArray(4096, 'x'));
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.message().contains(QStringLiteral("磁盘空间不足"))) << s.message().toStdString();
}
#endif

// A file's state moves with every change of its bytes, also when its size
// and modification time are put back; it stays while nothing changes.
TEST(Platform, aFilesStateMovesWithEveryChange)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    EXPECT_EQ(platform::fileState(path), QString()) << "no file, no state";
    ASSERT_TRUE(saveFile(path, QByteArray(8192, 'a')));
    const QString first = platform::fileState(path);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(platform::fileState(path), first);
    EXPECT_EQ(platform::syncFile(path), QString());

    // File times move in the system's clock ticks (a few milliseconds).
    QThread::msleep(kTick);
#ifndef _WIN32
    struct stat before {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &before), 0);
#endif
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(4096);
    f.write("damage");
    f.close();
    ASSERT_EQ(QFileInfo(path).size(), 8192);
    EXPECT_NE(platform::fileState(path), first);
#ifndef _WIN32
    // The modification time put back to the nanosecond; the change time is
    // the system's own, and nothing puts it back.
    const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &after), 0);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_NE(platform::fileState(path), first);
#endif
}
