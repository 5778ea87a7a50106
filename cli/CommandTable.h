#pragma once
// sf6cli's commands in one table: what --help, help COMMAND, the man page and
// the dispatch read. A new command is a row here plus its handler.

#include "archive/Archive.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <vector>

namespace cli {

// What a handler is given: the parsed options, the words after the command's
// name, and the archive when its row asks the dispatch to open one.
struct Invocation {
    const QCommandLineParser& options;
    QStringList arguments;
    sf6::Archive* archive = nullptr;
};

using Handler = int (*)(const Invocation&);

enum class ArchiveUse {
    None,     // the handler opens what it needs itself, or needs nothing
    Opened,   // the dispatch opens the archive (--archive, SF6_ARCHIVE or the user's own)
};

enum class Writes {
    No,
    Yes,        // refused on a read-only archive; a damaged file is refused before
    IfItCan,    // gives its output on a read-only archive and says it could not keep it
};

struct Command {
    QString name;        // as typed: "sync", "archive link"
    QString arguments;   // after the name: "" none, "FILE..." at least one, "[...]" any
    QString summary;     // one line, in Chinese
    ArchiveUse archive;
    Writes writes;
    // Options that make a writing command only read (judge --no-store); null: none.
    bool (*readsOnly)(const QCommandLineParser&);
    QStringList options;
    Handler handler;
    QString manual;      // the man page's paragraph (roff)
};

const std::vector<Command>& commands();

// The command the words name ("archive", "link" → archive link); null when none.
const Command* findCommand(const QStringList& words);
// How many words of `words` name the command.
qsizetype nameWords(const Command& c);
// Whether the command writes with these options.
bool writes(const Command& c, const QCommandLineParser& p);
// Whether the words after its name are what it takes.
bool argumentsFit(const Command& c, const QStringList& arguments);

} // namespace cli
