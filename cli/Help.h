#pragma once
// What sf6cli says about itself, all from the command table: --help, help
// COMMAND and the man page's list of commands.

#include "cli/CommandTable.h"

#include <QString>

namespace cli {

// Every command with its summary, the options every command shares and the exit codes.
QString generalHelp();
// One command: how it is called, what it does, its options.
QString commandHelp(const Command& c);
// The man page's commands section, in roff.
QString manCommands();

// sf6cli help [COMMAND]
int helpCommand(const Invocation& i);

} // namespace cli
