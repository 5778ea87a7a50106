#pragma once
// Which commands are enabled in which state. Handlers enter a state; nothing
// is worked out from the data.

#include <array>
#include <functional>

namespace sf6 {

enum class CommandState {
    Idle, Connecting, Online, ConnectFailed, NoPorts, Syncing, SyncDone, SyncEmpty, Disconnected,
    LinkLost,           // the port went away; no rows to act on
    LinkLostWithRows,   // the port went away; the rows that arrived stay usable
    Scanning,           // the ports are being tried; disconnect ends the scan
};
// The states, for a loop over them: Scanning stays the last.
constexpr int kCommandStateCount = int(CommandState::Scanning) + 1;

// Columns of the table: menu items, toolbar buttons, the list's automatic pop-up.
enum class Command { N1, N2, N3, N4, N6, N7, N8, TB1, TB2, TB3, TB4, AP };
constexpr int kCommandCount = 12;

enum class Switch : char { On, Off, Keep };

struct CommandStateRow {
    CommandState state;
    std::array<Switch, kCommandCount> cells;
};

const std::array<CommandStateRow, kCommandStateCount>& commandStateTable();
const CommandStateRow& commandStateRow(CommandState s);

// Calls set(command, enabled) for every command the state switches; "Keep" cells are skipped.
void applyCommandState(CommandState s, const std::function<void(Command, bool)>& set);

const char* commandStateName(CommandState s);

} // namespace sf6
