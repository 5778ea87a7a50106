#include "ops/Imports.h"

namespace sf6::ops {

namespace {
int severity(ErrorCode c)
{
    switch (c) {
    case ErrorCode::ArchiveUnavailable: return 3;
    case ErrorCode::NotAnExport: return 2;
    case ErrorCode::RowsRefused: return 1;
    default: return 0;
    }
}
} // namespace

import::ImportBatch importFiles(Archive& archive, const QStringList& files, const import::BatchProgress& progress)
{
    import::ImportBatch batch;
    std::vector<import::FileImport> imported;
    auto worst = [&batch](ErrorCode code, const QString& why) {
        if (severity(code) > severity(batch.status.code()))
            batch.status = Status::failure(code, why);
    };
    for (qsizetype i = 0; i < files.size(); ++i) {
        import::Progress fileProgress;
        if (progress) {
            progress(int(i), 0.0);   // the window names the file before it is read
            fileProgress = [&progress, i](double fraction) { progress(int(i), fraction); };
        }
        import::FileImport f = import::importFile(archive, files[i], fileProgress);
        batch.files.push_back(f);
        if (f.outcome != import::FileImport::Imported) {
            batch.notImported << f.failure;
            worst(f.outcome == import::FileImport::ArchiveFailed ? ErrorCode::ArchiveUnavailable : ErrorCode::NotAnExport,
                  f.failure);
            if (f.outcome == import::FileImport::ArchiveFailed)
                break;
            continue;
        }
        batch.newRecords += f.newRecords;
        batch.alreadyArchived += f.alreadyArchived;
        batch.matchedByTexts += f.matchedByTexts;
        batch.rowsRefused += f.rowsRefused;
        imported.push_back(std::move(f));
    }
    batch.summary = import::importSummary(imported);
    if (batch.rowsRefused > 0)
        worst(ErrorCode::RowsRefused, batch.summary);
    return batch;
}

} // namespace sf6::ops
