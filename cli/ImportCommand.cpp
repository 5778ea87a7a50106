// sf6cli archive import FILE...: the window's 导入数据… from the command line.
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "import/Import.h"

namespace cli {

namespace {
// How bad an outcome is: the archive, then a file that is no export, then refused rows.
int severity(int exit)
{
    switch (exit) {
    case kArchiveFailed: return 3;
    case kUsage: return 2;
    case kRowsRefused: return 1;
    default: return 0;
    }
}
} // namespace

int importCommand(const QCommandLineParser&, sf6::Archive& archive, const QStringList& files)
{
    int exit = kOk;
    auto worst = [&exit](int e) {
        if (severity(e) > severity(exit))
            exit = e;
    };
    std::vector<sf6::import::FileImport> done;
    for (const QString& file : files) {
        sf6::import::FileImport f = sf6::import::importFile(archive, file);
        for (const QString& row : f.refusedRows)
            err(row);
        if (f.outcome == sf6::import::FileImport::ArchiveFailed) {
            err(f.failure);
            worst(kArchiveFailed);
            break;
        }
        if (f.outcome == sf6::import::FileImport::NotAnExport) {
            err(f.failure);
            worst(kUsage);
            continue;
        }
        if (!f.refusedRows.isEmpty())
            worst(kRowsRefused);
        done.push_back(std::move(f));
    }
    if (const sf6::Status s = writeOutput(kStdout, sf6::import::importSummary(done).toUtf8() + '\n'); !s)
        err(s.message());
    return exit;
}

} // namespace cli
