#pragma once
// Bringing earlier exports into the archive: each good row's record is stored
// exactly as a sync stores it, and the import is logged like a sync.

#include "archive/Archive.h"
#include "base/Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace sf6::import {

inline const QString kImportProgram = QStringLiteral("import");
// A file of bad rows is listed only this far; the rest are counted.
constexpr int kMaxListedRefusals = 1000;

struct FileImport {
    QString file;              // as named to the import
    enum Outcome { Imported, NotAnExport, ArchiveFailed } outcome = Imported;
    QString failure;           // why the file or the archive failed
    int rowsRead = 0;          // data rows, good and refused
    int newRecords = 0;
    int alreadyArchived = 0;
    int matchedByTexts = 0;    // of those: an archived record with the same list texts but other bytes
    QStringList refusedRows;   // "FILE:ROW: 列“温度”：“abc”不是温度", the first kMaxListedRefusals
    int rowsRefused = 0;       // all of them
};

// fraction of the file read, 0 to 1.
using Progress = std::function<void(double fraction)>;
FileImport importFile(Archive& archive, const QString& path, const Progress& progress = {});

// Files imported one after another (ops::importFiles does it for the window
// and sf6cli): each one's outcome, the totals and the worst that happened.
struct ImportBatch {
    std::vector<FileImport> files;   // in order; none is tried after one the archive failed on
    int newRecords = 0;
    int alreadyArchived = 0;
    int matchedByTexts = 0;
    int rowsRefused = 0;
    QString summary;                 // importSummary of the files imported
    QStringList notImported;         // why each file that was not imported was not
    // The worst: the archive failed (ArchiveUnavailable), a file is no export
    // (NotAnExport), rows were refused (RowsRefused).
    Status status = Status::success();
};
// The file being read (from 0) and the fraction of it read, 0 to 1.
using BatchProgress = std::function<void(int file, double fraction)>;
// What the import window is given to do the import with.
using ImportFiles = std::function<ImportBatch(Archive&, const QStringList& files, const BatchProgress&)>;

// "导入N条新记录，M条已在存档中，K行无法导入" over all files; when some were
// known by their list texts only, M is followed by "（其中J条按相同的列表文字认出）".
QString importSummary(const std::vector<FileImport>& files);

} // namespace sf6::import
