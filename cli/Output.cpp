#include "cli/Output.h"

#include "base/Platform.h"
#include "base/Console.h"
#include "base/SafeSave.h"

#include <QtGlobal>

#include <cerrno>
#include <cstdio>


namespace cli {

namespace {
constexpr char16_t kControlPictures = 0x2400;   // ␀ to ␟: the C0 controls made visible
constexpr char16_t kDeletePicture = 0x2421;     // ␡

} // namespace

int exitCode(sf6::ErrorCode code)
{
    using C = sf6::ErrorCode;
    struct Row {
        C code;
        Exit exit;
    };
    static constexpr Row kExits[] = {
        {C::None, kOk},
        {C::Failed, kNoAnswer},
        {C::Usage, kUsage},
        {C::InvalidValue, kUsage},
        {C::NotAnExport, kUsage},
        {C::NotFound, kNoAnswer},
        {C::Refused, kNoAnswer},
        {C::NoAnswer, kNoAnswer},
        {C::Cancelled, kNoAnswer},
        {C::P20Unconfirmed, kNoAnswer},
        {C::ImportedUnconfirmed, kNoAnswer},
        {C::WrongPassword, kNoAnswer},
        {C::RoleMissing, kNoAnswer},
        {C::PersonRetired, kNoAnswer},
        {C::SameSigner, kNoAnswer},
        {C::NoLabKey, kNoAnswer},
        {C::PasswordFileUnsafe, kUsage},
        {C::NoPorts, kNoPorts},
        {C::SyncBrokenOff, kBrokenOff},
        {C::OutputNotWritten, kWriteFailed},
        {C::ArchiveUnavailable, kArchiveFailed},
        {C::ArchiveReadOnly, kArchiveFailed},
        {C::ArchiveDamaged, kArchiveFailed},
        {C::ArchiveLocked, kArchiveFailed},
        {C::ArchiveForeign, kArchiveFailed},
        {C::TargetNotEmpty, kArchiveFailed},
        {C::SameArchive, kArchiveFailed},
        {C::TargetNotWritable, kArchiveFailed},
        {C::SchemaNewer, kArchiveFailed},
        {C::SchemaOlder, kArchiveFailed},
        {C::MergeClash, kArchiveFailed},
        {C::Altered, kAltered},
        {C::RowsRefused, kRowsRefused},
    };
    for (const Row& r : kExits)
        if (r.code == code)
            return r.exit;
    return kNoAnswer;
}

int fail(const sf6::Status& s)
{
    err(s.message());
    return exitCode(s.code());
}

QString terminalSafe(QString s)
{
    for (QChar& c : s) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n')
            continue;
        if (u < 0x20)
            c = QChar(char16_t(kControlPictures + u));
        else if (u == 0x7F)
            c = QChar(kDeletePicture);
        else if (u >= 0x80 && u < 0xA0)
            c = QChar::ReplacementCharacter;
    }
    return s;
}

void err(const QString& s)
{
    const QString shown = sf6::platform::isTerminal(stderr) ? terminalSafe(s) : s;
    std::fprintf(stderr, "%s\n", sf6::consoleBytes(shown).constData());
    std::fflush(stderr);
}

sf6::Status writeOutput(const QString& target, const QByteArray& bytes)
{
    if (target != kStdout)
        return sf6::saveFile(target, bytes);
    // Stored texts may hold escape sequences that would drive the terminal; a
    // file or a pipe gets them exactly.
    const QByteArray shown = sf6::platform::isTerminal(stdout) ? terminalSafe(QString::fromUtf8(bytes)).toUtf8() : bytes;
    errno = 0;
    const size_t written = std::fwrite(shown.constData(), 1, size_t(shown.size()), stdout);
    // A closed pipe or a full disk behind the redirection shows here, not later.
    if (std::fflush(stdout) != 0 || written != size_t(shown.size()) || std::ferror(stdout)) {
        const int why = errno ? errno : EIO;
        std::clearerr(stdout);
        return sf6::Status::failure(sf6::ErrorCode::OutputNotWritten, QStringLiteral("无法写入标准输出：%1").arg(sf6::systemReason(why)));
    }
    return sf6::Status::success();
}

} // namespace cli

namespace cli {

namespace {
constexpr qsizetype kBlockBytes = 256 * 1024;
constexpr int kCoarseSteps = 10;     // progress into a file or a pipe: every tenth
constexpr int kTerminalSteps = 100;  // on a terminal: every hundredth
} // namespace

StreamedOutput::StreamedOutput(QString target) : target_(std::move(target)) {}

StreamedOutput::~StreamedOutput() = default;   // a file not committed is dropped

sf6::Status StreamedOutput::open()
{
    if (target_ == kStdout)
        return sf6::Status::success();
    file_ = std::make_unique<sf6::SafeSave>(target_);
    if (sf6::Status s = file_->open(); !s) {
        failure_ = s;
        return s;
    }
    return sf6::Status::success();
}

void StreamedOutput::write(const QByteArray& bytes)
{
    if (!good())
        return;
    block_ += bytes;
    if (block_.size() >= kBlockBytes)
        flush();
}

void StreamedOutput::flush()
{
    if (block_.isEmpty() || !good())
        return;
    if (file_)
        file_->write(block_);
    else
        failure_ = writeOutput(kStdout, block_);
    block_.clear();
}

sf6::Status StreamedOutput::commit()
{
    flush();
    if (!good())
        return failure_;
    return file_ ? file_->commit() : sf6::Status::success();
}

bool stderrIsTerminal() { return sf6::platform::isTerminal(stderr); }

Progress::Progress(QString format, qint64 total) : format_(std::move(format)), total_(total), terminal_(stderrIsTerminal())
{
}

void Progress::step(qint64 done)
{
    if (total_ <= 0)
        return;
    const int steps = terminal_ ? kTerminalSteps : kCoarseSteps;
    const qint64 shown = done * steps / total_;
    if (shown == lastShown_ && done != total_)
        return;
    lastShown_ = shown;
    if (!terminal_ && shown == 0)
        return;
    const QByteArray line = sf6::consoleBytes(format_.arg(done).arg(total_));
    if (terminal_) {
        std::fprintf(stderr, "\r%s", line.constData());
        open_ = true;
    } else {
        std::fprintf(stderr, "%s\n", line.constData());
    }
    std::fflush(stderr);
}

void Progress::finish()
{
    if (open_)
        std::fputc('\n', stderr);
    open_ = false;
    std::fflush(stderr);
}

} // namespace cli
