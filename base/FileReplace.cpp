#include "base/FileReplace.h"
#include "base/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sf6 {

QString fileLockedText() { return QStringLiteral("文件正被其他程序打开，请关闭后重试"); }

#ifdef _WIN32

namespace {
std::wstring wide(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

QString windowsReason(DWORD code)
{
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return fileLockedText();
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL)
        return QStringLiteral("磁盘空间不足");
    if (code == ERROR_WRITE_PROTECT)
        return QStringLiteral("文件系统是只读的");
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString reason = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("错误 %1").arg(code);
    LocalFree(text);
    return reason;
}
} // namespace

namespace {
// The short (8.3) name of an existing file in the ANSI code page; empty when the volume has none.
QByteArray shortFileName(const QString& full)
{
    const std::wstring wideName = wide(full);
    const DWORD n = GetShortPathNameW(wideName.c_str(), nullptr, 0);
    std::wstring shortName(n, L'\0');
    if (n == 0 || GetShortPathNameW(wideName.c_str(), shortName.data(), n) == 0)
        return {};
    shortName.resize(wcslen(shortName.c_str()));
    const QString name = QString::fromStdWString(shortName);
    const QByteArray local = name.toLocal8Bit();
    return QString::fromLocal8Bit(local) == name ? local : QByteArray();
}
} // namespace

QByteArray narrowFileName(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    const QByteArray local = full.toLocal8Bit();
    if (QString::fromLocal8Bit(local) == full)
        return local;
    if (!QFileInfo::exists(full)) {
        QFile touch(full);
        touch.open(QIODevice::WriteOnly);
    }
    const QByteArray shortName = shortFileName(full);
    // No short names on this volume: the library will say it cannot open the file.
    return shortName.isEmpty() ? local : shortName;
}

QByteArray narrowExistingFileName(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    const QByteArray local = full.toLocal8Bit();
    if (QString::fromLocal8Bit(local) == full)
        return local;
    return shortFileName(full);
}

bool lockedByAnotherProgram(const QString& path)
{
    // Replacing needs the right to delete; a program that opened the file
    // without sharing that (Excel, most editors) makes this fail.
    HANDLE h = CreateFileW(wide(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    }
    CloseHandle(h);
    return false;
}

Status replaceFile(const QString& from, const QString& to)
{
    HANDLE h = CreateFileW(wide(from).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Status::failure(ErrorCode::OutputNotWritten, windowsReason(GetLastError()));
    const bool flushed = FlushFileBuffers(h);
    const DWORD flushError = GetLastError();
    CloseHandle(h);
    if (!flushed)
        return Status::failure(ErrorCode::OutputNotWritten, windowsReason(flushError));
    if (!MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        // A file open elsewhere refuses with "access denied" as often as with a sharing violation.
        if (code == ERROR_ACCESS_DENIED && lockedByAnotherProgram(to))
            return Status::failure(ErrorCode::OutputNotWritten, fileLockedText());
        return Status::failure(ErrorCode::OutputNotWritten, windowsReason(code));
    }
    return Status::success();
}

#else

QByteArray narrowFileName(const QString& path) { return QFile::encodeName(path); }

QByteArray narrowExistingFileName(const QString& path) { return QFile::encodeName(path); }

bool lockedByAnotherProgram(const QString&) { return false; }

Status replaceFile(const QString& from, const QString& to)
{
    // A disk that fills up may accept write() and refuse the data later:
    // this is where that shows, before the old file is given up.
    if (const QString why = platform::syncFile(from); !why.isEmpty())
        return Status::failure(why);
    // rename() replaces in one step.
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()),
                            ec);
    if (ec)
        return Status::failure(ErrorCode::OutputNotWritten, QString::fromStdString(ec.message()));
    return Status::success();
}

#endif

} // namespace sf6
