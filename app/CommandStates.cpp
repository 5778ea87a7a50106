#include "app/CommandStates.h"

namespace sf6 {

namespace {
constexpr Switch on = Switch::On;
constexpr Switch of = Switch::Off;
constexpr Switch kp = Switch::Keep;   // "–": the handler leaves it as it was
} // namespace

const std::array<CommandStateRow, kCommandStateCount>& commandStateTable()
{
    using S = CommandState;
    // clang-format off
    static const std::array<CommandStateRow, kCommandStateCount> table = {{
        //                       N1  N2  N3  N4  N6  N7  N8  TB1 TB2 TB3 TB4 AP
        {S::Idle,             {{ of, of, of, on, on, of, of, on, of, of, of, of }}},
        {S::Connecting,       {{ of, of, of, kp, of, of, of, of, of, of, of, kp }}},
        {S::Online,           {{ kp, kp, kp, kp, on, on, on, on, on, kp, kp, kp }}},
        {S::ConnectFailed,    {{ kp, kp, kp, kp, on, kp, kp, on, kp, kp, kp, kp }}},
        // Connect stays available so the user can plug the cable in and retry.
        {S::NoPorts,          {{ kp, kp, kp, kp, on, kp, kp, on, kp, kp, kp, kp }}},
        {S::Syncing,          {{ of, of, of, kp, of, of, of, of, of, of, of, of }}},
        {S::SyncDone,         {{ on, on, on, kp, on, on, on, on, on, on, on, on }}},
        {S::SyncEmpty,        {{ kp, kp, kp, kp, on, on, on, on, on, kp, kp, kp }}},
        {S::Disconnected,     {{ of, of, of, on, on, of, of, on, of, of, of, of }}},
        {S::LinkLost,         {{ of, of, of, on, on, of, of, on, of, of, of, of }}},
        {S::LinkLostWithRows, {{ on, on, on, on, on, of, of, on, of, on, on, on }}},
        // The scan runs off the window's thread: the user may give it up.
        {S::Scanning,         {{ of, of, of, on, of, on, of, of, of, of, of, kp }}},
    }};
    // clang-format on
    return table;
}

const CommandStateRow& commandStateRow(CommandState s)
{
    for (const auto& row : commandStateTable())
        if (row.state == s)
            return row;
    return commandStateTable().front();
}

void applyCommandState(CommandState s, const std::function<void(Command, bool)>& set)
{
    const auto& row = commandStateRow(s);
    for (int c = 0; c < kCommandCount; ++c)
        if (row.cells[size_t(c)] != Switch::Keep)
            set(Command(c), row.cells[size_t(c)] == Switch::On);
}

const char* commandStateName(CommandState s)
{
    switch (s) {
    case CommandState::Idle: return "Idle";
    case CommandState::Connecting: return "Connecting";
    case CommandState::Online: return "Online";
    case CommandState::ConnectFailed: return "ConnectFailed";
    case CommandState::NoPorts: return "NoPorts";
    case CommandState::Syncing: return "Syncing";
    case CommandState::SyncDone: return "SyncDone";
    case CommandState::SyncEmpty: return "SyncEmpty";
    case CommandState::Disconnected: return "Disconnected";
    case CommandState::LinkLost: return "LinkLost";
    case CommandState::LinkLostWithRows: return "LinkLostWithRows";
    case CommandState::Scanning: return "Scanning";
    }
    return "?";
}

} // namespace sf6
