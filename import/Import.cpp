#include "import/Import.h"

#include "archive/ArchiveStore.h"
#include "import/SheetReaders.h"
#include "import/SourceFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace sf6::import {

namespace {

// A workbook is read whole before it is unzipped: the largest archive's
// export is a few tens of MB.
constexpr qint64 kMaxWorkbookBytes = 64 << 20;
// More data rows than any export holds; each row's record is kept until the
// file is stored, so this bounds the memory an import takes.
constexpr int kMaxRows = 500000;

} // namespace

FileImport importFile(Archive& archive, const QString& path, const Progress& progress)
{
    FileImport out;
    out.file = QDir::toNativeSeparators(path);
    auto notAnExport = [&](const QString& why) {
        out.outcome = FileImport::NotAnExport;
        out.failure = QStringLiteral("%1: %2").arg(out.file, why);
        out.refusedRows.clear();
        out.rowsRefused = 0;
        return out;
    };
    SourceFile file(path);
    if (Status opened = file.openSource(); !opened)
        return notAnExport(opened.message());
    const FileFormat format = formatOf(file.head());

    std::vector<QByteArray> records;
    std::optional<int> leading;
    QString headerFailure, wholeFailure;
    DateSystem dates = DateSystem::From1900;
    auto refuse = [&](int row, const QString& why) {
        if (++out.rowsRefused <= kMaxListedRefusals)
            out.refusedRows << QStringLiteral("%1:%2: %3").arg(out.file).arg(row).arg(why);
    };
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
        if (++out.rowsRead > kMaxRows) {
            wholeFailure = QStringLiteral("多于%1行，超出导出的行数").arg(kMaxRows);
            return false;
        }
        auto record = recordFromRow(cells, *leading, dates);
        if (record)
            records.push_back(*record);
        else
            refuse(row, record.error());
        return true;
    };
    sink.refused = [&](int row, const QString& why) {
        ++out.rowsRead;
        refuse(row, why);
    };
    if (progress)
        sink.progress = progress;
    Status read = Status::success();
    if (format == FileFormat::Text) {
        read = readTextRows(file, sink);
    } else {
        auto workbook = file.readRest(kMaxWorkbookBytes);
        if (!workbook)
            return notAnExport(workbook.error());
        read = format == FileFormat::Xlsx ? readXlsxRows(*workbook, sink) : readXlsRows(*workbook, sink);
    }
    if (file.failed())
        return notAnExport(file.errorString());
    if (!read)
        return notAnExport(read.message());
    if (!headerFailure.isEmpty())
        return notAnExport(headerFailure);
    if (!wholeFailure.isEmpty())
        return notAnExport(wholeFailure);
    if (!leading)
        return notAnExport(QStringLiteral("没有列标题行"));
    const auto sha256 = file.sha256();
    if (!sha256)
        return notAnExport(sha256.error());

    SyncLog log{Archive::now(), kImportProgram, QFileInfo(path).fileName(), out.rowsRead, SyncEnd::Complete,
                std::move(records)};
    log.fileSha256 = *sha256;
    if (out.rowsRefused > kMaxListedRefusals)
        out.refusedRows << QStringLiteral("%1: 另有%2行无法导入，未逐一列出").arg(out.file).arg(out.rowsRefused - kMaxListedRefusals);
    log.rowsRefused = out.rowsRefused;
    log.fromListTexts = true;
    auto stored = archiveSync(archive, log);
    if (!stored) {
        out.outcome = FileImport::ArchiveFailed;
        out.failure = stored.error();
        return out;
    }
    out.newRecords = stored->newRecords;
    out.alreadyArchived = int(stored->recordIds.size()) - stored->newRecords;
    out.matchedByTexts = stored->matchedByTexts;
    return out;
}

QString importSummary(const std::vector<FileImport>& files)
{
    int added = 0, already = 0, byTexts = 0, refused = 0;
    for (const FileImport& f : files) {
        added += f.newRecords;
        already += f.alreadyArchived;
        byTexts += f.matchedByTexts;
        refused += f.rowsRefused;
    }
    const QString matched = byTexts > 0 ? QStringLiteral("（其中%1条按相同的列表文字认出）").arg(byTexts) : QString();
    return QStringLiteral("导入%1条新记录，%2条已在存档中%3，%4行无法导入").arg(added).arg(already).arg(matched).arg(refused);
}

} // namespace sf6::import
