// The demo's in-process calibrator: found by the scan and synced as the
// simulator on a pseudo-terminal is, on every system (under Wine too).
#include "link/PortList.h"
#include "link/PortScan.h"
#include "link/SerialLink.h"
#include "sim/InProcessLink.h"
#include "sim/Records.h"
#include "sync/ReceiveLoop.h"
#include "sync/SyncSession.h"
#include "tests/link/SlowPort.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>

#ifdef SF6_HAVE_SIM
#include "sim/Simulator.h"
#endif

using namespace std::chrono_literals;
using sf6::ScanResult;
using sim::ProbeAnswer;

namespace {

constexpr int kRecords = 12;
const QByteArray kSync(reinterpret_cast<const char*>(sf6::kSyncRequest.data()), int(sf6::kSyncRequest.size()));

class InProcessCalibrator : public ::testing::Test {
protected:
    void TearDown() override
    {
        sf6::setPortListOverride(std::nullopt);
        sf6::setInProcessPort(sim::kDemoPortName, nullptr);
        sf6::setInProcessPort(kOther, nullptr);
    }

    // Scans the ports listed, then syncs on the one found.
    static std::vector<sf6::ListRow> scanAndSync(const QString& expectedPort)
    {
        sf6::SerialLink link;
        const ScanResult r = sf6::scanForCalibrator(link);
        EXPECT_EQ(r.outcome, ScanResult::Outcome::Found);
        EXPECT_EQ(r.portName, expectedPort);
        EXPECT_EQ(r.kind, sf6::kKindSerial);
        sf6::SyncSession session(link);
        const auto finished = session.runToEnd();
        if (!finished)
            return {};
        EXPECT_EQ(finished->end, sf6::SyncEnd::Complete);
        EXPECT_EQ(session.loop().RecordTotal(), kRecords);
        return finished->rows;
    }

    inline static const QString kOther = QStringLiteral("DEMO2");
};

TEST_F(InProcessCalibrator, scanFindsItAndTheSyncGivesTheSimulatorsRows)
{
    // What the decoding makes of the demo's reply, taken in one piece.
    sf6::ReceiveLoop reference;
    reference.start();
    reference.poll(sim::makeSyncReply(sim::plausibleRecords(kRecords)));
    const std::vector<sf6::ListRow> expected = reference.takeNewRows();
    ASSERT_EQ(expected.size(), size_t(kRecords));

    EXPECT_EQ(sim::serveDemoCalibrator(kRecords), sim::kDemoPortName);
    EXPECT_EQ(sf6::ListSerialPorts(), QStringList{sim::kDemoPortName});
    const std::vector<sf6::ListRow> inProcess = scanAndSync(sim::kDemoPortName);
    EXPECT_EQ(inProcess, expected);

#ifdef SF6_HAVE_SIM
    // The same records from the simulator on a pseudo-terminal.
    sim::Simulator pty;
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(kRecords));
    pty.setSyncScript(script);
    QString error;
    ASSERT_TRUE(pty.start(&error)) << error.toStdString();
    sf6::setPortListOverride(QStringList{pty.portPath()});
    EXPECT_EQ(scanAndSync(pty.portPath()), inProcess);
#endif
}

TEST_F(InProcessCalibrator, refusesTheProbeInTheSimulatorsFaultyWays)
{
    struct Case {
        ProbeAnswer answer;
        const char* reason;
    };
    for (const Case c : {Case{ProbeAnswer::Silent, "无应答"}, Case{ProbeAnswer::WrongBytes, "应答内容不符"},
                         Case{ProbeAnswer::SixBytes, "应答长度不符（收到6字节，应为5字节）"},
                         Case{ProbeAnswer::Late, "无应答"}}) {
        SCOPED_TRACE(c.reason);
        auto far = std::make_shared<sim::InProcessLink>();
        far->setProbeAnswer(c.answer, 700ms);
        sf6::setInProcessPort(kOther, far);
        sf6::setPortListOverride(QStringList{kOther});
        sf6::SerialLink link;
        const ScanResult r = sf6::scanForCalibrator(link);
        EXPECT_EQ(r.outcome, ScanResult::Outcome::NoAnswer);
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(far->probesSeen(), 1);
        EXPECT_EQ(far->received(), sf6::kHandshake);
        ASSERT_EQ(r.attempts.size(), 1u);
        EXPECT_EQ(r.attempts[0].reason, QString::fromUtf8(c.reason));
    }
}

TEST_F(InProcessCalibrator, answersOneCommandAfterTheOtherOnTheScriptsSchedule)
{
    sim::SyncScript script;
    script.reply = sim::makeSyncReply(sim::plausibleRecords(2));
    script.chunks = {{5, 0ms}, {100, 300ms}};
    script.bytesPerSecond = 0;
    sim::InProcessLink far(script);

    // Noise before a command is skipped; two probes in one write get two echoes.
    ASSERT_TRUE(far.WriteBytes(QByteArray("\x00\x5A", 2) + sf6::kHandshake + sf6::kHandshake));
    EXPECT_EQ(far.ReadAvailable(), sf6::kHandshake + sf6::kHandshake);
    EXPECT_EQ(far.probesSeen(), 2);

    ASSERT_TRUE(far.WriteBytes(kSync));
    EXPECT_EQ(far.BytesAvailable(), 5) << "the second chunk is not due yet";
    far.FlushInput();
    EXPECT_EQ(far.BytesAvailable(), 0);
    far.CollectFor(400ms);
    // A flush drops what has arrived, never what is still on the line.
    EXPECT_EQ(far.ReadAvailable(), script.reply.mid(5));

    // A sync the script leaves silent sends nothing at all.
    script.answer = false;
    far.setSyncScript(script);
    far.WriteBytes(kSync);
    far.CollectFor(50ms);
    EXPECT_EQ(far.BytesAvailable(), 0);
}

TEST_F(InProcessCalibrator, aSerialLinkOpensItAsAPortAndDropsWhatCameBeforeTheOpen)
{
    auto far = std::make_shared<sim::InProcessLink>();
    sf6::setInProcessPort(kOther, far);
    sf6::SerialLink link;
    link.SetPortName(kOther);
    link.Open();
    ASSERT_TRUE(link.IsOpen()) << link.lastError().toStdString();
    ASSERT_TRUE(link.WriteBytes(sf6::kHandshake));
    link.Close();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.WriteBytes(sf6::kHandshake)) << "a closed link writes nothing";

    link.Open();
    EXPECT_EQ(link.BytesAvailable(), 0) << "the echo from before the open is not ours";
    link.WriteBytes(sf6::kHandshake);
    EXPECT_EQ(link.ReadAvailable(), sf6::kHandshake);
    link.Close();

    // Taken back, the name is an ordinary port again, and there is none of that name.
    sf6::setInProcessPort(kOther, nullptr);
    link.Open();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.lastError().isEmpty());
}

} // namespace

namespace {

// A port that blocks its open, sorted before the calibrator's.
const QString kBlocking = QStringLiteral("BT-SLOW");

class BlockingPort : public InProcessCalibrator {
protected:
    void SetUp() override
    {
        far = std::make_shared<sim::InProcessLink>();
        sf6::setInProcessPort(sim::kDemoPortName, far);
        sf6::setPortListOverride(QStringList{sim::kDemoPortName, kBlocking});
    }
    void TearDown() override
    {
        // Once its port lets go, an abandoned probe ends and its thread is freed.
        slow.release();
        EXPECT_EQ(sf6::finishProbeThreads(5s), 0);
    }
    std::shared_ptr<sim::InProcessLink> far;
    testsupport::SlowPort slow{kBlocking};
};

TEST_F(BlockingPort, isPassedOverAfterTheOpenWait_andTheNextPortAnswers)
{
    QStringList tried;
    sf6::ScanEvents events;
    events.trying = [&tried](const QString& port) { tried << port; };
    sf6::SerialLink link;
    QElapsedTimer clock;
    clock.start();
    const ScanResult r = sf6::scanForCalibrator(link, events);
    const auto took = std::chrono::milliseconds(clock.elapsed());

    ASSERT_EQ(r.outcome, ScanResult::Outcome::Found);
    EXPECT_EQ(r.portName, sim::kDemoPortName);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(far->probesSeen(), 1);
    EXPECT_EQ(tried, (QStringList{kBlocking, sim::kDemoPortName})) << "each port is named as it is tried";
    ASSERT_EQ(r.attempts.size(), 2u);
    EXPECT_EQ(r.attempts[0].reason, sf6::kTextOpenTimedOut.arg(sf6::kOpenWait.count()));
    EXPECT_EQ(slow.opens(), 1);
    // The open would block for a minute; the scan gives it its wait and goes on.
    EXPECT_GE(took, sf6::kOpenWait);
    EXPECT_LT(took, sf6::kOpenWait + sf6::kProbeWait + 1500ms);
}

TEST_F(BlockingPort, aCancelEndsTheScanWhileTheOpenStillBlocks)
{
    sf6::ScanEvents events;
    events.cancelled = [this] { return slow.opens() > 0; };
    sf6::SerialLink link;
    QElapsedTimer clock;
    clock.start();
    const ScanResult r = sf6::scanForCalibrator(link, events);
    EXPECT_EQ(r.outcome, ScanResult::Outcome::Cancelled);
    EXPECT_LT(std::chrono::milliseconds(clock.elapsed()), sf6::kOpenWait) << "the open's wait was not sat out";
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(far->probesSeen(), 0) << "no port after the cancel is tried";

    // Released later, the abandoned open closes its port again: the port is free.
    slow.release();
    sf6::setPortListOverride(QStringList{kBlocking, sim::kDemoPortName});
    const ScanResult again = sf6::scanForCalibrator(link);
    EXPECT_EQ(again.outcome, ScanResult::Outcome::Found);
    EXPECT_EQ(far->probesSeen(), 1);
}

} // namespace
