#include "import/Import.h"

#include "archive/ArchiveStore.h"
#include "import/SheetReaders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace sf6::import {

namespace {

constexpr qint64 kFormatHeadSize = 8;

QString sha256Of(QFile& file)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

FileImport importFile(Archive& archive, const QString& path, const Progress& progress)
{
    FileImport out;
    out.file = QDir::toNativeSeparators(path);
    auto notAnExport = [&](const QString& why) {
        out.outcome = FileImport::NotAnExport;
        out.failure = QStringLiteral("%1: %2").arg(out.file, why);
        return out;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return notAnExport(QStringLiteral("无法打开：%1").arg(file.errorString()));
    const FileFormat format = formatOf(file.peek(kFormatHeadSize));
    const QString sha256 = sha256Of(file);
    file.close();

    std::vector<QByteArray> records;
    std::optional<int> leading;
    QString headerFailure;
    DateSystem dates = DateSystem::From1900;
    SheetRows sink;
    sink.dateSystem = [&](DateSystem d) { dates = d; };
    sink.row = [&](int row, std::vector<Cell>& cells) {
        if (!leading) {
            QStringList captions;
            for (const Cell& c : cells)
                captions << (c.number ? shortestText(*c.number) : c.text.trimmed());
            // Empty cells after the last caption are a workbook's formatting.
            while (captions.size() > 1 && captions.last().isEmpty())
                captions.removeLast();
            auto checked = checkHeader(captions);
            if (!checked) {
                headerFailure = checked.error();
                return false;
            }
            leading = *checked;
            return true;
        }
        // A workbook row left with empty cells only is no row.
        if (std::all_of(cells.begin(), cells.end(), [](const Cell& c) { return !c.number && c.text.trimmed().isEmpty(); }))
            return true;
        ++out.rowsRead;
        auto record = recordFromRow(cells, *leading, dates);
        if (record)
            records.push_back(*record);
        else
            out.refusedRows << QStringLiteral("%1:%2: %3").arg(out.file).arg(row).arg(record.error());
        return true;
    };
    if (progress)
        sink.progress = progress;
    Status read = Status::success();
    switch (format) {
    case FileFormat::Xls: read = readXlsRows(path, sink); break;
    case FileFormat::Xlsx: read = readXlsxRows(path, sink); break;
    case FileFormat::Text: read = readTextRows(path, sink); break;
    }
    if (!read)
        return notAnExport(read.message());
    if (!headerFailure.isEmpty())
        return notAnExport(headerFailure);
    if (!leading)
        return notAnExport(QStringLiteral("没有列标题行"));

    SyncLog log{Archive::now(), kImportProgram, QFileInfo(path).fileName(), out.rowsRead, SyncEnd::Complete,
                std::move(records)};
    log.fileSha256 = sha256;
    log.rowsRefused = int(out.refusedRows.size());
    auto stored = archiveSync(archive, log);
    if (!stored) {
        out.outcome = FileImport::ArchiveFailed;
        out.failure = stored.error();
        return out;
    }
    out.newRecords = stored->newRecords;
    out.alreadyArchived = int(stored->recordIds.size()) - stored->newRecords;
    return out;
}

QString importSummary(const std::vector<FileImport>& files)
{
    int added = 0, already = 0, refused = 0;
    for (const FileImport& f : files) {
        added += f.newRecords;
        already += f.alreadyArchived;
        refused += int(f.refusedRows.size());
    }
    return QStringLiteral("导入%1条新记录，%2条已在存档中，%3行无法导入").arg(added).arg(already).arg(refused);
}

} // namespace sf6::import
