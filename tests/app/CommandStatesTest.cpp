#include "app/CommandStates.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using sf6::Command;
using sf6::CommandState;

namespace {

// Applies states in order on top of a starting set, as the window does.
std::map<Command, bool> run(std::initializer_list<CommandState> states)
{
    std::map<Command, bool> on;
    for (int c = 0; c < sf6::kCommandCount; ++c)
        on[Command(c)] = true;   // what the window has before start-up
    for (CommandState s : states)
        sf6::applyCommandState(s, [&](Command c, bool v) { on[c] = v; });
    return on;
}

std::vector<Command> enabled(const std::map<Command, bool>& m)
{
    std::vector<Command> out;
    for (auto [c, v] : m)
        if (v)
            out.push_back(c);
    return out;
}

using C = Command;
using S = CommandState;

TEST(CommandStates, ordinaryOrder_enablesWhatEachStepAllows)
{
    EXPECT_EQ(enabled(run({S::Idle})), (std::vector{C::N4, C::N6, C::TB1}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting})), (std::vector{C::N4}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Online})),
              (std::vector{C::N4, C::N6, C::N7, C::N8, C::TB1, C::TB2}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::ConnectFailed})), (std::vector{C::N4, C::N6, C::TB1}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Online, S::Syncing})), (std::vector{C::N4}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Online, S::Syncing, S::SyncEmpty})),
              (std::vector{C::N4, C::N6, C::N7, C::N8, C::TB1, C::TB2}));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Online, S::Syncing, S::SyncDone})).size(),
              size_t(sf6::kCommandCount));
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Online, S::Disconnected})), (std::vector{C::N4, C::N6, C::TB1}));
}

TEST(CommandStates, noPorts_leavesConnectAvailableForARetry)
{
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::NoPorts})), (std::vector{C::N4, C::N6, C::TB1}));
}

TEST(CommandStates, connectAfterSyncDone_keepsThePopupOn)
{
    const auto m = run({S::Idle, S::Connecting, S::Online, S::Syncing, S::SyncDone, S::Connecting});
    EXPECT_TRUE(m.at(C::AP));
    EXPECT_FALSE(m.at(C::N3));
}

TEST(CommandStates, lostLink_allowsConnectOnly_plusRowCommandsWhenRowsArrived)
{
    const auto lost = run({S::Idle, S::Connecting, S::Online, S::Syncing, S::LinkLost});
    EXPECT_EQ(enabled(lost), (std::vector{C::N4, C::N6, C::TB1}));
    const auto withRows = run({S::Idle, S::Connecting, S::Online, S::Syncing, S::LinkLostWithRows});
    EXPECT_EQ(enabled(withRows), (std::vector{C::N1, C::N2, C::N3, C::N4, C::N6, C::TB1, C::TB3, C::TB4, C::AP}));
}

TEST(CommandStates, scanning_allowsDisconnectAndExitOnly_andItsOutcomesLookAsWithoutIt)
{
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Scanning})), (std::vector{C::N4, C::N7}));
    // The window goes back to Connecting when the scan ends, then to the outcome.
    for (S outcome : {S::Online, S::ConnectFailed, S::NoPorts})
        EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Scanning, S::Connecting, outcome})),
                  enabled(run({S::Idle, S::Connecting, outcome})))
            << sf6::commandStateName(outcome);
    EXPECT_EQ(enabled(run({S::Idle, S::Connecting, S::Scanning, S::Disconnected})), (std::vector{C::N4, C::N6, C::TB1}));
}

// Over the states, not the table: a state without a row would otherwise pass unseen.
TEST(CommandStates, everyStateHasItsOwnRowAndName)
{
    std::set<std::string> names;
    for (int i = 0; i < sf6::kCommandStateCount; ++i) {
        const auto s = CommandState(i);
        const char* name = sf6::commandStateName(s);
        ASSERT_NE(name, nullptr) << i;
        EXPECT_STRNE(name, "?") << i;
        EXPECT_TRUE(names.insert(name).second) << "two states named " << name;
        EXPECT_EQ(sf6::commandStateRow(s).state, s) << name;
    }
}

} // namespace
