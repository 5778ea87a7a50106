#pragma once
// sf6cli's options, shared by its commands: the outputs, the report details,
// the archive and the archive's filters.

#include "archive/ArchiveLocation.h"
#include "archive/ArchiveStore.h"
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

// The dialog's defaults (today in the short date format), each detail option
// given overriding its field.
sf6::ReportDetails reportDetails(const QCommandLineParser& p);
// The same, starting from the lab's details as last confirmed in the archive.
sf6::ReportDetails reportDetails(const QCommandLineParser& p, const sf6::Archive* archive);
// The given details over a stored or default set.
void overrideDetails(const QCommandLineParser& p, sf6::ReportDetails& d);

// --archive / --no-archive / SF6_ARCHIVE, as the window chooses.
// A demo keeps its simulated records in an archive of its own unless told otherwise.
sf6::Expected<sf6::ArchiveLocation> archiveLocation(const QCommandLineParser& p, bool forDemo = false);

// --from, --to, --text; a date not in the form YYYY-MM-DD is refused, and so is
// a --from later than --to.
sf6::Expected<sf6::ArchiveFilter> archiveFilter(const QCommandLineParser& p);

} // namespace cli
