#pragma once
// sf6cli's options, shared by its commands: the outputs, the report details,
// the archive and the archive's filters.

#include "archive/ArchiveLocation.h"
#include "archive/ArchiveStore.h"
#include "ops/Reports.h"
#include "report/ReportPage.h"

#include <QCommandLineParser>

#include <optional>
#include <vector>

namespace cli {

// One option of sf6cli: its name without the dashes, the name of its value
// (none for a switch) and what it does, in Chinese.
struct OptionSpec {
    const char* name;
    const char* valueName;
    QString help;
    const char* defaultValue = nullptr;
};

// Every option, in the order help lists them.
const std::vector<OptionSpec>& optionSpecs();
const OptionSpec* findOption(const QString& name);

// Every option of optionSpecs(), for every command: a command ignores those it has no use for.
void addOptions(QCommandLineParser& p);

// Options that name a file or folder: an empty name is a mistake, never "here".
// Returns the first such option given empty.
std::optional<QString> emptyPathOption(const QCommandLineParser& p);

// The details given as options, each field on its own.
sf6::ops::GivenDetails givenDetails(const QCommandLineParser& p);

// --archive / --no-archive / SF6_ARCHIVE, as the window chooses.
// A demo keeps its simulated records in an archive of its own unless told otherwise.
sf6::Expected<sf6::ArchiveLocation> archiveLocation(const QCommandLineParser& p, bool forDemo = false);

// --from, --to, --text; a date not in the form YYYY-MM-DD is refused, and so is
// a --from later than --to.
sf6::Expected<sf6::ArchiveFilter> archiveFilter(const QCommandLineParser& p);

} // namespace cli
