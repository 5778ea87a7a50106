#pragma once
// Running sf6cli as a user does, against simulated calibrators on pseudo-terminals.

#include "sim/Records.h"
#include "sim/Simulator.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace clitest {

struct CliRun {
    int exit = -1;
    QString out;
    QString err;
};

// The user's own archive is never touched: every run's standard archive lies
// in a folder of this test program's.
inline QProcessEnvironment testEnvironment()
{
    static QTemporaryDir dataHome;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    env.remove(QStringLiteral("SF6_ARCHIVE"));
    return env;
}

inline CliRun sf6cli(const QStringList& args, const QProcessEnvironment& env = testEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SF6CLI_PATH), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// A shell script run with bash; the CLI's path is in $CLI.
inline CliRun bash(const QString& script, const QStringList& args = {})
{
    QProcess p;
    QProcessEnvironment env = testEnvironment();
    env.insert(QStringLiteral("CLI"), QStringLiteral(SF6CLI_PATH));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/bash"), QStringList{QStringLiteral("-c"), script, QStringLiteral("bash")} + args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

class CliFixture : public ::testing::Test {
protected:
    sim::Simulator* startSim(int records, sim::SyncScript script = {})
    {
        sims.push_back(std::make_unique<sim::Simulator>());
        if (script.reply.isEmpty())
            script.reply = sim::makeSyncReply(sim::plausibleRecords(records));
        if (script.chunks.empty() && script.bytesPerSecond == sim::kLineBytesPerSecond)
            script.bytesPerSecond = 0;
        sims.back()->setSyncScript(script);
        EXPECT_TRUE(sims.back()->start());
        return sims.back().get();
    }
    std::vector<std::unique_ptr<sim::Simulator>> sims;
};

} // namespace clitest
