#include "import/SourceFile.h"

#include <QFileInfo>

#include <cstring>

#include <filesystem>
#include <system_error>

namespace sf6::import {

namespace {

constexpr qint64 kHeadSize = 64;
constexpr qint64 kDrainBlock = 1 << 16;
constexpr qint64 kBytesPerMb = 1 << 20;

} // namespace

SourceFile::SourceFile(const QString& path, qint64 maxBytes) : file_(path), maxBytes_(maxBytes) {}

QString SourceFile::boundText() const
{
    return QStringLiteral("文件大于%1 MB，不是导出的文件").arg(maxBytes_ / kBytesPerMb);
}

Status SourceFile::openSource()
{
    // std::filesystem tells a FIFO and a device apart on every platform.
    std::error_code error;
    const auto kind = std::filesystem::status(QFileInfo(file_.fileName()).filesystemAbsoluteFilePath(), error).type();
    if (!error && kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::fifo
        && kind != std::filesystem::file_type::not_found)
        return Status::failure(QStringLiteral("不是普通文件（设备、文件夹等），不能导入"));
    if (!file_.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("无法打开：%1").arg(file_.errorString()));
    if (kind == std::filesystem::file_type::regular) {
        expected_ = file_.size();
        if (expected_ > maxBytes_) {
            overBound_ = true;
            return Status::failure(boundText());
        }
    }
    head_.resize(kHeadSize);
    qint64 got = 0;
    while (got < kHeadSize && !eof_) {
        const qint64 n = readFile(head_.data() + got, kHeadSize - got);
        if (n < 0)
            return Status::failure(file_.errorString());
        got += n;
    }
    head_.truncate(got);
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return Status::success();
}

qint64 SourceFile::readFile(char* data, qint64 max)
{
    if (eof_)
        return 0;
    const qint64 n = file_.read(data, std::min(max, maxBytes_ + 1 - taken_));
    if (n < 0) {
        failed_ = true;
        return -1;
    }
    if (n == 0) {
        eof_ = true;
        return 0;
    }
    taken_ += n;
    if (taken_ > maxBytes_) {
        overBound_ = failed_ = true;
        setErrorString(boundText());
        return -1;
    }
    hash_.addData(QByteArrayView(data, n));
    return n;
}

qint64 SourceFile::readData(char* data, qint64 max)
{
    if (headPos_ < head_.size()) {
        const qint64 n = std::min<qint64>(max, head_.size() - headPos_);
        std::memcpy(data, head_.constData() + headPos_, size_t(n));
        headPos_ += n;
        return n;
    }
    if (overBound_)
        return -1;
    const qint64 n = readFile(data, max);
    if (n < 0 && !overBound_)
        setErrorString(file_.errorString());
    // A sequential device says its end with -1.
    return n == 0 ? -1 : n;
}

Expected<QByteArray> SourceFile::readRest(qint64 limit)
{
    QByteArray out;
    char block[kDrainBlock];
    for (;;) {
        const qint64 n = read(block, kDrainBlock);
        if (n <= 0)
            break;
        if (out.size() + n > limit)
            return Status::failure(QStringLiteral("文件大于%1 MB，不是导出的工作簿").arg(limit / kBytesPerMb));
        out.append(block, n);
    }
    if (failed_)
        return Status::failure(errorString());
    return out;
}

Expected<QString> SourceFile::sha256()
{
    char block[kDrainBlock];
    while (read(block, kDrainBlock) > 0) {
    }
    if (failed_)
        return Status::failure(errorString());
    return QString::fromLatin1(hash_.result().toHex());
}

} // namespace sf6::import
