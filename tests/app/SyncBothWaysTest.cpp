// The sync exists once: the window and sf6cli, each against its own simulated
// calibrator with the same script, end the same way, say the same things and
// keep the same rows.
#include "app/TForm1.h"
#include "sim/Records.h"
#include "sim/Simulator.h"
#include "tests/link/SimFixture.h"
#include "tests/app/WindowDriver.h"
#include "ui/MessageBox.h"

#include <QProcess>
#include <QTest>

using namespace std::chrono_literals;
using sf6::CommandState;

namespace {

struct SyncCase {
    const char* name;
    int records;
    sim::SyncScript script;
    int cliExit;
    CommandState windowState;
    int rows;
};

void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }

sim::SyncScript script(int records)
{
    sim::SyncScript s;
    s.reply = sim::makeSyncReply(sim::plausibleRecords(records));
    s.bytesPerSecond = 0;
    return s;
}

std::vector<SyncCase> cases()
{
    std::vector<SyncCase> out;
    out.push_back({"whole reply", 3, script(3), 0, CommandState::SyncDone, 3});

    SyncCase chunked{"chunked", 2, script(2), 0, CommandState::SyncDone, 2};
    chunked.script.chunks = {{50, 0ms}, {60, 1500ms}, {105, 1000ms}};
    out.push_back(chunked);

    out.push_back({"empty", 0, script(0), 1, CommandState::SyncEmpty, 0});

    SyncCase stall{"stall", 2, script(2), 4, CommandState::SyncDone, 1};
    stall.script.stopAfter = 120;
    out.push_back(stall);

    SyncCase midReply{"hang-up mid-reply", 3, script(3), 4, CommandState::LinkLostWithRows, 1};
    midReply.script.stopAfter = 120;
    midReply.script.hangUpAtEnd = true;
    midReply.script.hangUpDelay = 300ms;   // a hang-up discards what the driver still holds
    out.push_back(midReply);

    // The last bytes and the loss are both waiting when the completing poll comes.
    SyncCase completing{"hang-up in the completing poll", 2, script(2), 0, CommandState::LinkLostWithRows, 2};
    completing.script.chunks = {{120, 0ms}, {95, 1400ms}};
    completing.script.hangUpAtEnd = true;
    completing.script.hangUpDelay = 200ms;
    out.push_back(completing);
    return out;
}

class SyncBothWays : public testsupport::PortsFixture, public ::testing::WithParamInterface<SyncCase> {};

std::unique_ptr<sim::Simulator> startSim(const sim::SyncScript& s)
{
    auto sim = std::make_unique<sim::Simulator>();
    sim->setSyncScript(s);
    EXPECT_TRUE(sim->start());
    return sim;
}

QStringList tsvRows(const QString& tsv)
{
    QStringList lines = tsv.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.removeFirst();   // the header
    return lines;
}

} // namespace

TEST_P(SyncBothWays, sameOutcomeTextsAndRows)
{
    const SyncCase& c = GetParam();
    // Both run at once, each against its own calibrator: the command line in its
    // process, the window here.
    auto forCli = startSim(c.script);
    QProcess cli;
    cli.start(QStringLiteral(SF6CLI_PATH),
              {QStringLiteral("sync"), QStringLiteral("--no-archive"), QStringLiteral("--port"), forCli->portPath(),
               QStringLiteral("--tsv"), QStringLiteral("-")});

    auto forWindow = startSim(c.script);
    sf6::setPortListOverride(QStringList{forWindow->portPath()});
    ui::MessageRecorder messages;
    TForm1 w;
    testsupport::connectThroughScan(w);
    ASSERT_EQ(w.commandState(), CommandState::Online);
    w.N8Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.commandState() != CommandState::Syncing; }, 20000));
    QTest::qWait(100);   // a repeated error from the port would show now

    if (cli.state() != QProcess::NotRunning) {
        ASSERT_TRUE(cli.waitForFinished(30000));
    }
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());

    EXPECT_EQ(cli.exitCode(), c.cliExit) << err.toStdString();
    EXPECT_EQ(w.commandState(), c.windowState);

    QStringList windowRows;
    for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int k = 0; k < sf6::kColumnCount; ++k)
            cells << w.ListView1->topLevelItem(i)->text(k);
        windowRows << cells.join(QLatin1Char('\t'));
    }
    EXPECT_EQ(windowRows.size(), c.rows);
    EXPECT_EQ(tsvRows(out), windowRows);

    // Every message the window showed is what the command line said.
    for (const QString& m : messages.texts())
        EXPECT_TRUE(err.contains(m)) << "window said: " << m.toStdString() << "\ncommand line said: " << err.toStdString();
    EXPECT_TRUE(err.contains(w.panelText(1))) << w.panelText(1).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Simulated, SyncBothWays, ::testing::ValuesIn(cases()),
                         [](const auto& info) {
                             QString n = QString::fromLatin1(info.param.name);
                             return n.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QLatin1Char('-'), QLatin1Char('_')).toStdString();
                         });
