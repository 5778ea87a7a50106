#include <gtest/gtest.h>

#include "sync/ReceiveLoop.h"
#include "tests/sync/SyncTestData.h"

using namespace sf6;
using testdata::bytes;

namespace {

// Feeds a reply in pieces, collecting the rows each poll hands out.
struct Feeder {
    ReceiveLoop loop;
    std::vector<QByteArray> records;
    QByteArray reply;
    qsizetype sent = 0;
    std::vector<ListRow> rows;

    explicit Feeder(int n, unsigned seed, QByteArray surplus = {})
        : records(testdata::randomRecords(n, seed)), reply(testdata::makeReply(records) + surplus)
    {
        loop.start();
    }
    PollOutcome feed(qsizetype n)
    {
        const PollOutcome outcome = loop.poll(QByteArrayView(reply).sliced(sent, n));
        sent += n;
        for (ListRow& row : loop.takeNewRows(QLocale::c()))
            rows.push_back(std::move(row));
        return outcome;
    }
    PollOutcome feedRest() { return feed(reply.size() - sent); }
    void expectRowsMatch() const
    {
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i], decodeRecord(bytes(records[i]), int(i) + 1, QLocale::c())) << i;
    }
};

} // namespace

TEST(ReceiveLoop, WholeReplyInFirstPoll)
{
    Feeder f(3, 1);
    EXPECT_EQ(f.feedRest(), PollOutcome::Complete);
    EXPECT_EQ(f.loop.RecordsReady(), 3);
    EXPECT_EQ(f.loop.RowsLoaded(), 3);
    ASSERT_EQ(f.rows.size(), 3u);
    f.expectRowsMatch();
    EXPECT_TRUE(f.loop.takeNewRows().empty());
    EXPECT_EQ(f.loop.progressText(), "共有3条数据，当前加载3条  ");
}

TEST(ReceiveLoop, RecordsCompleteAcrossPolls)
{
    Feeder f(2, 2);
    EXPECT_EQ(f.feed(50), PollOutcome::Waiting);
    EXPECT_EQ(f.loop.RecordsReady(), 0);
    EXPECT_EQ(f.feed(60), PollOutcome::Waiting);
    EXPECT_EQ(f.loop.RecordsReady(), 1);
    EXPECT_EQ(f.rows.size(), 1u);
    EXPECT_EQ(f.feed(103), PollOutcome::Waiting);   // all but the trailer
    EXPECT_EQ(f.loop.RecordsReadyBefore(), 1);
    EXPECT_EQ(f.loop.RecordsReady(), 2);
    EXPECT_EQ(f.rows.size(), 2u);
    EXPECT_EQ(f.feed(2), PollOutcome::Complete);
    EXPECT_EQ(f.rows.size(), 2u);
}

TEST(ReceiveLoop, RowNumbersContinueAcrossPolls)
{
    Feeder f(7, 4);
    f.feed(3 + 3 * kRecordSize + 10);
    EXPECT_EQ(f.rows.size(), 3u);
    EXPECT_EQ(f.feedRest(), PollOutcome::Complete);
    ASSERT_EQ(f.rows.size(), 7u);
    f.expectRowsMatch();
    EXPECT_EQ(f.loop.progressText(), "共有7条数据，当前加载7条  ");
}

TEST(ReceiveLoop, EndsEmptyBeforeOneRecordArrives)
{
    ReceiveLoop nothing;
    nothing.start();
    EXPECT_EQ(nothing.poll({}), PollOutcome::EndedEmpty);

    Feeder zero(0, 0);
    EXPECT_EQ(zero.feedRest(), PollOutcome::Waiting);   // 0 records never complete
    EXPECT_EQ(zero.loop.poll({}), PollOutcome::EndedEmpty);
    EXPECT_EQ(zero.loop.progressText(), "共有0条数据，当前加载0条  ");

    Feeder at50(2, 5);
    at50.feed(50);
    EXPECT_EQ(at50.loop.poll({}), PollOutcome::EndedEmpty);
    EXPECT_EQ(at50.loop.progressText(), "共有2条数据，当前加载0条  ");

    Feeder at108(2, 6);   // holds the first record, still short of 110
    at108.feed(108);
    EXPECT_EQ(at108.rows.size(), 1u);
    EXPECT_EQ(at108.loop.poll({}), PollOutcome::EndedEmpty);
}

TEST(ReceiveLoop, StalledTransferEndsAfterTenEmptyPolls)
{
    Feeder f(2, 7);
    f.feed(120);
    for (int i = 0; i < kStallPolls - 1; ++i)
        EXPECT_EQ(f.loop.poll({}), PollOutcome::NothingYet);
    EXPECT_EQ(f.feed(1), PollOutcome::Waiting);   // bytes restart the count
    for (int i = 0; i < kStallPolls - 1; ++i)
        EXPECT_EQ(f.loop.poll({}), PollOutcome::NothingYet);
    EXPECT_EQ(f.loop.poll({}), PollOutcome::Stalled);
    EXPECT_EQ(f.rows.size(), 1u);
}

TEST(ReceiveLoop, SurplusIsDroppedAndCompletes)
{
    Feeder f(1, 8, QByteArray(40, '\x77'));
    EXPECT_EQ(f.feedRest(), PollOutcome::Complete);
    EXPECT_EQ(f.loop.BytesReceived(), 110);
    EXPECT_EQ(f.loop.SyncBuffer(), f.reply.left(110));

    Feeder late(2, 9, QByteArray(300, '\x11'));
    late.feed(213);
    EXPECT_EQ(late.feedRest(), PollOutcome::Complete);
    EXPECT_EQ(late.loop.BytesReceived(), 215);
    EXPECT_EQ(late.loop.SyncBuffer().size(), 215);
    EXPECT_EQ(late.loop.RecordsReady(), 2);
}

TEST(ReceiveLoop, OneByteFirstBatchIsKept)
{
    Feeder f(2, 10);
    EXPECT_EQ(f.feed(1), PollOutcome::Waiting);
    EXPECT_EQ(f.loop.BytesReceived(), 1);
    EXPECT_EQ(f.feed(1), PollOutcome::Waiting);
    EXPECT_EQ(f.loop.RecordTotal(), 2);
    EXPECT_EQ(f.feedRest(), PollOutcome::Complete);
    EXPECT_EQ(f.loop.SyncBuffer(), f.reply);
    EXPECT_EQ(f.rows.size(), 2u);
    f.expectRowsMatch();

    Feeder lone(2, 10);
    lone.feed(1);
    EXPECT_EQ(lone.loop.poll({}), PollOutcome::EndedEmpty);
}

TEST(ReceiveLoop, NewSyncKeepsOldBufferUntilFirstBytes)
{
    Feeder f(2, 11);
    f.feedRest();
    f.loop.start();
    EXPECT_EQ(f.loop.SyncBuffer().size(), 215);
    EXPECT_EQ(f.loop.RowsLoaded(), 0);
    EXPECT_EQ(f.loop.poll(testdata::makeReply(testdata::randomRecords(1, 12))), PollOutcome::Complete);
    EXPECT_EQ(f.loop.SyncBuffer().size(), 110);
    EXPECT_EQ(f.loop.takeNewRows().size(), 1u);
}

// Random replies in random pieces, with surplus and harmless empty polls: every complete
// record becomes exactly one row, in order, and the reply completes exactly when it is in.
TEST(ReceiveLoop, RandomChunkings)
{
    std::mt19937 rng(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int iteration = 0; iteration < 200; ++iteration) {
        const int n = pick(0, 1) ? pick(0, 3) : pick(0, 255);
        Feeder f(n, unsigned(iteration), pick(0, 3) ? QByteArray() : QByteArray(pick(1, 300), '\x5A'));
        const int full = syncReplySize(n);
        const int maxChunk = std::array{8, 300, 30000}[pick(0, 2)];
        int emptyRun = 0;
        PollOutcome outcome = PollOutcome::Waiting;
        while (f.sent < f.reply.size() && outcome != PollOutcome::Complete) {
            if (f.loop.BytesReceived() >= kMinReplyWithRecord && emptyRun < kStallPolls - 1 && pick(0, 4) == 0) {
                ASSERT_EQ(f.loop.poll({}), PollOutcome::NothingYet);
                ++emptyRun;
                continue;
            }
            emptyRun = 0;
            outcome = f.feed(std::min<qsizetype>(pick(1, maxChunk), f.reply.size() - f.sent));
            const int received = int(std::min<qsizetype>(f.sent, full));
            ASSERT_EQ(f.loop.BytesReceived(), received);
            ASSERT_EQ(f.loop.SyncBuffer().left(received), f.reply.left(received));
            ASSERT_TRUE(received < 2 || f.loop.SyncBuffer().size() == full);
            const int complete = std::min(n, std::max(0, received - 3) / kRecordSize);
            ASSERT_EQ(f.loop.RecordsReady(), complete);
            ASSERT_EQ(int(f.rows.size()), complete);
            ASSERT_EQ(outcome == PollOutcome::Complete, received == full && n > 0);
        }
        ASSERT_EQ(int(f.rows.size()), n);
        f.expectRowsMatch();
        ASSERT_TRUE(n > 0 || f.loop.poll({}) == PollOutcome::EndedEmpty);
    }
}

// Stray bytes past the announced reply are no progress: a reply of no record
// followed by a stream ends at the next poll, and a stalled reply with a trickle
// of surplus still stalls.
TEST(ReceiveLoop, PollsOfSurplusOnlyCountAsNothingWaiting)
{
    Feeder none(0, 9, QByteArray(5000, '\x55'));
    EXPECT_EQ(none.feed(5), PollOutcome::Waiting);
    EXPECT_EQ(none.feed(100), PollOutcome::EndedEmpty);

    Feeder whole(1, 10, QByteArray(5000, '\x55'));
    EXPECT_EQ(whole.feed(110 + 10), PollOutcome::Complete) << "surplus in the completing batch changes nothing";
}
