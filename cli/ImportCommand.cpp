// sf6cli archive import FILE...: the window's 导入数据… from the command line.
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "ops/Imports.h"

namespace cli {

int importCommand(const QCommandLineParser&, sf6::Archive& archive, const QStringList& files)
{
    const sf6::import::ImportBatch batch = sf6::ops::importFiles(archive, files);
    for (const sf6::import::FileImport& f : batch.files) {
        for (const QString& row : f.refusedRows)
            err(row);
        if (f.outcome != sf6::import::FileImport::Imported)
            err(f.failure);
    }
    if (const sf6::Status s = writeOutput(kStdout, batch.summary.toUtf8() + '\n'); !s)
        err(s.message());
    return exitCode(batch.status.code());
}

} // namespace cli
