#include "base/SafeSave.h"
#include "base/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace sf6 {

namespace {
constexpr int kMaxLinkDepth = 40;
constexpr int kTempNameTries = 16;
constexpr qint64 kNearlyFullBytes = 64 * 1024;
// The mode bits alone: what the current user may do says yes for an administrator.
constexpr QFileDevice::Permissions kAnyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

struct KnownError {
    int number;
    const char* chinese;
};
const KnownError kKnownErrors[] = {
    {ENOSPC, "磁盘空间不足"},
    {EACCES, "没有写入权限"},
    {EPERM, "没有写入权限"},
    {EROFS, "文件系统是只读的"},
    {ENOENT, "路径不存在"},
    {ENOTDIR, "路径中有一项不是文件夹"},
    {EISDIR, "目标是一个文件夹"},
    {EPIPE, "输出管道已关闭"},
    {EIO, "输入输出错误"},
    {EFBIG, "文件过大"},
};
} // namespace

QString cannotWrite(const QString& name, const QString& reason)
{
    return QStringLiteral("无法写入 %1：%2").arg(native(name), reason);
}

QString systemReason(const QString& systemText)
{
    for (const KnownError& e : kKnownErrors) {
        const QString text = QString::fromLocal8Bit(std::strerror(e.number));
        if (systemText.contains(text, Qt::CaseInsensitive))
            return QStringLiteral("%1（%2）").arg(QString::fromUtf8(e.chinese), systemText);
    }
    return systemText.isEmpty() ? QStringLiteral("未知错误") : systemText;
}

QString systemReason(int errorNumber)
{
    return systemReason(QString::fromLocal8Bit(std::strerror(errorNumber)));
}

bool diskNearlyFull(const QString& folder)
{
    const QStorageInfo disk(folder);
    return disk.isValid() && disk.bytesAvailable() < kNearlyFullBytes;
}

TargetKind targetKind(const QString& name)
{
#ifdef Q_OS_WIN
    const QFileInfo info(name);
    if (!info.exists())
        return TargetKind::Absent;
    if (info.isDir())
        return TargetKind::Folder;
    return info.isFile() ? TargetKind::RegularFile : TargetKind::Unwritable;
#else
    // status() follows links, also the /dev/fd/N ones a shell's >(…) hands
    // over, which lead to "pipe:[N]" rather than to a path.
    namespace fs = std::filesystem;
    std::error_code ec;
    switch (fs::status(fs::path(QFile::encodeName(name).toStdString()), ec).type()) {
    case fs::file_type::not_found:
    case fs::file_type::none:
        return TargetKind::Absent;
    case fs::file_type::regular:
        return TargetKind::RegularFile;
    case fs::file_type::directory:
        return TargetKind::Folder;
    case fs::file_type::character:
    case fs::file_type::fifo:
        return TargetKind::Stream;
    default:
        break;
    }
    return TargetKind::Unwritable;
#endif
}

Expected<QString> resolveSaveTarget(const QString& name)
{
    if (name.isEmpty())
        return Status::failure(ErrorCode::OutputNotWritten, QStringLiteral("没有给出文件名"));
    QFileInfo info(QFileInfo(name).absoluteFilePath());
    // The target of a link is what the user keeps up to date: write it, not the link.
    for (int depth = 0; info.isSymLink(); ++depth) {
        if (depth == kMaxLinkDepth)
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name, QStringLiteral("符号链接层数过多或成环")));
        info.setFile(QFileInfo(info.symLinkTarget()).absoluteFilePath());
    }
    if (info.exists()) {
        if (info.isDir())
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name, QStringLiteral("这是一个文件夹")));
        if (!info.isFile())
            return Status::failure(ErrorCode::OutputNotWritten, 
                cannotWrite(name, QStringLiteral("这不是普通文件（套接字或块设备），不会被替换")));
        // Checked on the permission bits too: an administrator may write anything.
        if (!info.isWritable() || !(info.permissions() & kAnyWrite))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name, QStringLiteral("文件是只读的，不会被覆盖")));
        if (lockedByAnotherProgram(info.absoluteFilePath()))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name, fileLockedText()));
    } else {
        const QFileInfo dir(info.absolutePath());
        if (!dir.isDir())
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name, QStringLiteral("文件夹 %1 不存在").arg(native(dir.filePath()))));
    }
    return info.absoluteFilePath();
}

// Every write reaches the file whole or is a failure that stays one: a short
// write (the disk filled up during it) is finished or refused, never passed
// on as a count a writer may ignore.
class CheckedWrites : public QIODevice {
public:
    explicit CheckedWrites(QIODevice& to) : to_(to) { QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool failed() const { return failed_; }
    int errorNumber() const { return errno_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        if (failed_)
            return -1;
        for (qint64 done = 0; done < length;) {
            errno = 0;
            const qint64 n = to_.write(data + done, length - done);
            if (n <= 0) {
                failed_ = true;
                errno_ = errno ? errno : EIO;
                return -1;
            }
            done += n;
        }
        return length;
    }

private:
    QIODevice& to_;
    bool failed_ = false;
    int errno_ = 0;
};

SafeSave::SafeSave(QString name) : name_(std::move(name)) {}

SafeSave::~SafeSave() = default;   // the temporary file goes with beside_ unless committed

Status SafeSave::open()
{
    if (targetKind(name_) == TargetKind::Stream) {
        // Nothing to replace and nothing to rename: the bytes go straight in.
        file_ = std::make_unique<QFile>(name_);
    } else {
        beside_ = std::make_unique<SaveBeside>(name_);
        const Expected<QString> temp = beside_->temporaryPath();
        if (!temp)
            return temp.status();
        file_ = std::make_unique<QFile>(*temp);
    }
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered
                                     | (beside_ ? QIODevice::NewOnly : QIODevice::OpenMode());
    if (!file_->open(mode))
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, systemReason(file_->errorString())));
    checked_ = std::make_unique<CheckedWrites>(*file_);
    return Status::success();
}

QIODevice* SafeSave::device() { return checked_.get(); }

void SafeSave::write(const QByteArray& bytes)
{
    if (checked_)
        checked_->write(bytes);   // a failure shows at commit
}

QString SafeSave::why() const
{
    const int number = checked_ ? checked_->errorNumber() : 0;
    // Qt often loses the system's reason ("Unknown error"); the disk may say it.
    if (number == ENOSPC || (beside_ && diskNearlyFull(QFileInfo(file_->fileName()).absolutePath())))
        return systemReason(ENOSPC);
    if (number != 0)
        return systemReason(number);
    return systemReason(file_->errorString());
}

Status SafeSave::fail(const QString& reason)
{
    file_->close();
    beside_.reset();   // drops the temporary file
    return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, reason));
}

Status SafeSave::commit()
{
    if (!file_ || !file_->isOpen())
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, QStringLiteral("文件未打开")));
    if (checked_->failed() || file_->error() != QFileDevice::NoError)
        return fail(why());
    file_->close();
    if (file_->error() != QFileDevice::NoError)
        return fail(why());
    if (!beside_)
        return Status::success();
    // replaceFile makes the file durable first: a write the disk could not
    // keep after all shows there.
    if (Status s = beside_->commit(); !s) {
        beside_.reset();
        return s;
    }
    return Status::success();
}

Status saveFile(const QString& name, const QByteArray& bytes)
{
    SafeSave save(name);
    if (Status s = save.open(); !s)
        return s;
    save.write(bytes);   // a failed write shows at commit
    return save.commit();
}

SaveBeside::~SaveBeside()
{
    if (!temp_.isEmpty() && !committed_)
        QFile::remove(temp_);
}

Expected<QString> SaveBeside::temporaryPath()
{
    stream_ = targetKind(name_) == TargetKind::Stream;
    if (stream_) {
        target_ = name_;
    } else {
        const Expected<QString> target = resolveSaveTarget(name_);
        if (!target)
            return target;
        target_ = *target;
    }
    // In the target's own folder, so the final rename never crosses volumes;
    // a stream's file is made in the temporary folder and poured in whole.
    const QDir dir = stream_ ? QDir::temp() : QFileInfo(target_).absoluteDir();
    for (int i = 0; i < kTempNameTries; ++i) {
        const QString candidate = dir.filePath(
            QStringLiteral(".~%1-%2.tmp")
                .arg(QFileInfo(target_).fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(candidate)) {
            temp_ = candidate;
            return temp_;
        }
    }
    return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, QStringLiteral("找不到可用的临时文件名")));
}

Status SaveBeside::commit()
{
    if (temp_.isEmpty())
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, QStringLiteral("没有临时文件")));
    if (stream_) {
        QFile finished(temp_);
        if (!finished.open(QIODevice::ReadOnly))
            return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, systemReason(finished.errorString())));
        const QByteArray bytes = finished.readAll();
        finished.close();
        return saveFile(target_, bytes);   // the temporary file goes with this object
    }
    if (QFileInfo::exists(target_)) {
        // The new file keeps what the old one allowed.
        QFile::setPermissions(temp_, QFile::permissions(target_));
    }
    // QFile::rename refuses to replace; this replaces in one step.
    if (Status s = replaceFile(temp_, target_); !s)
        return Status::failure(ErrorCode::OutputNotWritten, cannotWrite(name_, systemReason(s.message())));
    committed_ = true;
    return Status::success();
}

} // namespace sf6
