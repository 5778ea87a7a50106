#include "link/SerialLink.h"
#include "tests/link/SimFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

class Link : public testsupport::PortsFixture {
protected:
    sim::Simulator* openOn(sf6::SerialLink& link)
    {
        auto s = startSims(1)[0];
        link.SetPortName(s->portPath());
        link.Open();
        EXPECT_TRUE(link.IsOpen()) << link.lastError().toStdString();
        return s;
    }
};

TEST(PortSettingsText, parsesLineSettings_rejectsNonsense)
{
    const auto s = sf6::PortSettings::parse(QStringLiteral("19200,n,8,1"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baudRate, 19200);
    EXPECT_EQ(s->parity, QSerialPort::NoParity);
    EXPECT_EQ(s->dataBits, QSerialPort::Data8);
    EXPECT_EQ(s->stopBits, QSerialPort::OneStop);
    EXPECT_FALSE(sf6::PortSettings::parse(QStringLiteral("19200,x,8,1")));
    EXPECT_FALSE(sf6::PortSettings::parse(QStringLiteral("fast,n,8,1")));
    EXPECT_FALSE(sf6::PortSettings::parse(QStringLiteral("19200,n,8")));
}

TEST_F(Link, everyByteValueArrivesUnchanged)
{
    sf6::SerialLink link;
    auto s = openOn(link);
    QByteArray all = QByteArray::fromHex("005AA5FF0D0A1113");
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    s->send(all);
    QByteArray got;
    for (int i = 0; i < 50 && got.size() < all.size(); ++i) {
        link.CollectFor(20ms);
        got += link.ReadAvailable();
    }
    EXPECT_EQ(got.toHex(), all.toHex());
}

TEST_F(Link, bytesAvailableSeesWhatTheSystemHolds_readReturnsOldestFirst)
{
    sf6::SerialLink link;
    auto s = openOn(link);
    s->send(QByteArray::fromHex("0102030405"));
    QTest::qWait(100);   // no read by us meanwhile: the bytes sit in the driver
    EXPECT_EQ(link.BytesAvailable(), 5);
    EXPECT_EQ(link.ReadAvailable(), QByteArray::fromHex("0102030405"));
    EXPECT_EQ(link.BytesAvailable(), 0);
}

TEST_F(Link, flushDiscardsWaitingInput_closedFlushIsQuiet)
{
    sf6::SerialLink link;
    auto s = openOn(link);
    s->send(QByteArray(300, 'x'));
    link.CollectFor(100ms);
    ASSERT_GT(link.BytesAvailable(), 0);
    link.FlushInput();
    EXPECT_EQ(link.BytesAvailable(), 0);

    link.Close();
    EXPECT_FALSE(link.IsOpen());
    link.FlushInput();
    EXPECT_EQ(link.BytesAvailable(), 0);
    EXPECT_TRUE(link.ReadAvailable().isEmpty());
}

TEST_F(Link, collectForWaitsTheWholeTimeAndKeepsCollecting)
{
    sf6::SerialLink link;
    auto s = openOn(link);
    QElapsedTimer t;
    t.start();
    s->send("a");
    link.CollectFor(300ms);
    EXPECT_GE(t.elapsed(), 295);
    EXPECT_LT(t.elapsed(), 600);
    EXPECT_EQ(link.ReadAvailable(), QByteArray("a"));
}

TEST_F(Link, failedOpenLeavesLinkClosed_renamingWhileOpenKeepsThePort)
{
    sf6::SerialLink link;
    link.SetPortName(QStringLiteral("/dev/no-such-port"));
    link.Open();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.lastError().isEmpty());

    auto s = openOn(link);
    link.SetPortName(QStringLiteral("/dev/no-such-port"));
    EXPECT_TRUE(link.IsOpen());
    s->send("z");
    link.CollectFor(50ms);
    EXPECT_EQ(link.ReadAvailable(), QByteArray("z"));
}

TEST_F(Link, farEndHangsUp_linkClosesAndReportsOnce)
{
    sf6::SerialLink link;
    auto s = openOn(link);
    QSignalSpy lost(&link, &sf6::SerialLink::linkLost);
    s->hangUp();
    for (int i = 0; i < 100 && link.IsOpen(); ++i) {
        link.BytesAvailable();
        QTest::qWait(10);
    }
    QTest::qWait(100);   // let a storm of errors, if any, arrive
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(lost.count(), 1);
    const auto e = link.takeLostError();
    ASSERT_TRUE(e.has_value());
    EXPECT_FALSE(link.takeLostError().has_value());
}

} // namespace
