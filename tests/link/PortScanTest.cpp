#include "link/PortList.h"
#include "link/PortScan.h"
#include "tests/link/SimFixture.h"

using sf6::ScanResult;
using sim::ProbeAnswer;

namespace {

class PortScan : public testsupport::PortsFixture {};

TEST_F(PortScan, echoedProbe_acceptsPortAndLeavesItOpen)
{
    auto s = startSims(1);
    sf6::SerialLink link;
    const ScanResult r = sf6::scanForCalibrator(link);
    ASSERT_EQ(r.outcome, ScanResult::Outcome::Found);
    EXPECT_EQ(r.portName, s[0]->portPath());
    EXPECT_EQ(r.kind, QStringLiteral("串口"));
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(s[0]->received(), sf6::kHandshake);
}

TEST_F(PortScan, faultyAnswers_areRefused)
{
    struct Case {
        ProbeAnswer answer;
        const char* name;
    };
    for (const Case c : {Case{ProbeAnswer::Silent, "silent"}, Case{ProbeAnswer::WrongBytes, "wrong bytes"},
                         Case{ProbeAnswer::SixBytes, "six bytes"}, Case{ProbeAnswer::Late, "late echo"}}) {
        SCOPED_TRACE(c.name);
        auto s = startSims(1);
        s[0]->setProbeAnswer(c.answer, std::chrono::milliseconds(700));
        sf6::SerialLink link;
        const ScanResult r = sf6::scanForCalibrator(link);
        EXPECT_EQ(r.outcome, ScanResult::Outcome::NoAnswer);
        EXPECT_EQ(s[0]->probesSeen(), 1);
        // An open port is exclusive on Windows: a refused one must not stay held.
        EXPECT_FALSE(link.IsOpen());
        ASSERT_EQ(r.attempts.size(), 1u);
        EXPECT_FALSE(r.attempts[0].reason.isEmpty());
        sims.clear();
    }
}

TEST_F(PortScan, firstAnsweringPortWins_laterPortsAreNotProbed)
{
    auto s = startSims(3);
    s[0]->setProbeAnswer(ProbeAnswer::Silent);
    const ScanResult r = [&] {
        sf6::SerialLink link;
        return sf6::scanForCalibrator(link);
    }();
    ASSERT_EQ(r.outcome, ScanResult::Outcome::Found);
    EXPECT_EQ(r.portName, s[1]->portPath());
    EXPECT_EQ(s[0]->probesSeen(), 1);
    EXPECT_EQ(s[1]->probesSeen(), 1);
    EXPECT_EQ(s[2]->probesSeen(), 0);
    EXPECT_EQ(r.triedNames(), QStringList({s[0]->portPath(), s[1]->portPath()}));
}

TEST_F(PortScan, nameWithoutPort_isSkippedNotFatal)
{
    auto s = startSims(1);
    // "/dev/ABCD1" sorts first and names no device.
    sf6::setPortListOverride(QStringList{s[0]->portPath(), QStringLiteral("/dev/ABCD1")});
    sf6::SerialLink link;
    const ScanResult r = sf6::scanForCalibrator(link);
    ASSERT_EQ(r.outcome, ScanResult::Outcome::Found);
    EXPECT_EQ(r.portName, s[0]->portPath());
}

TEST_F(PortScan, noPorts_isReportedAsSuch)
{
    sf6::setPortListOverride(QStringList{});
    sf6::SerialLink link;
    QStringList seen{QStringLiteral("sentinel")};
    const ScanResult r = sf6::scanForCalibrator(link, [&](const QStringList& l) { seen = l; });
    EXPECT_EQ(r.outcome, ScanResult::Outcome::NoPorts);
    EXPECT_TRUE(seen.isEmpty());
}

TEST_F(PortScan, portListIsSortedAsText)
{
    sf6::setPortListOverride(QStringList{QStringLiteral("COM2"), QStringLiteral("COM10"), QStringLiteral("COM1")});
    sf6::SerialLink link;
    QStringList seen;
    sf6::scanForCalibrator(link, [&](const QStringList& l) { seen = l; });
    EXPECT_EQ(seen, QStringList({QStringLiteral("COM1"), QStringLiteral("COM10"), QStringLiteral("COM2")}));
}

TEST(PortKind, comNumbersFromThreeAreUsb_othersSerial)
{
    EXPECT_EQ(sf6::portKind(QStringLiteral("COM1")), QStringLiteral("串口"));
    EXPECT_EQ(sf6::portKind(QStringLiteral("COM2")), QStringLiteral("串口"));
    EXPECT_EQ(sf6::portKind(QStringLiteral("COM3")), QStringLiteral("USB"));
    EXPECT_EQ(sf6::portKind(QStringLiteral("COM10")), QStringLiteral("USB"));
    EXPECT_EQ(sf6::portKind(QStringLiteral("COM123")), QStringLiteral("USB"));
    EXPECT_EQ(sf6::portKind(QStringLiteral("/dev/pts/99")), QStringLiteral("串口"));
}

} // namespace
