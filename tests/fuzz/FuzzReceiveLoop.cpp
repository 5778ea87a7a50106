// Fuzz target: arbitrary replies, split into batches at arbitrary points, fed
// poll by poll to the receive loop and the decoder. Input: a length byte, then
// that many reply bytes, again and again (length 0 is a poll with nothing
// waiting; a length past the end takes what is left).
#include "sync/ReceiveLoop.h"

#include <QByteArray>
#include <QLocale>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// scripts/check-fuzz.sh proves that scripts/fuzz.sh fails when the fuzzer
// finds something: with SF6_FUZZ_PLANT set to crash, leak or timeout, an input
// that begins with "PLANT" makes that fault. Unset (every real run), the
// target has no such input; the switch keeps the fuzzer from finding it.
volatile std::uintptr_t plantedLeak;   // volatile: the compiler keeps the store

void plantFault(const uint8_t* data, size_t size)
{
    static const char* const kind = std::getenv("SF6_FUZZ_PLANT");
    if (kind == nullptr || size < 5 || std::memcmp(data, "PLANT", 5) != 0)
        return;
    if (std::strcmp(kind, "crash") == 0) {
        char* volatile bytes = new char[size];   // volatile: the compiler keeps it
        const volatile size_t pastTheEnd = size;
        bytes[pastTheEnd] = char(data[0]);
        delete[] bytes;
    } else if (std::strcmp(kind, "leak") == 0) {
        // Hidden from LeakSanitizer's scan, so the block is lost.
        plantedLeak = reinterpret_cast<std::uintptr_t>(std::malloc(size)) ^ UINTPTR_MAX;
    } else if (std::strcmp(kind, "timeout") == 0) {
        volatile unsigned spin = 0;
        for (;;)
            spin = spin + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace sf6;
    plantFault(data, size);
    ReceiveLoop loop;
    loop.start();
    QByteArray stream;   // every byte fed, in order: the reply is its beginning
    int rows = 0;
    size_t pos = 0;
    bool over = false;
    while (pos < size && !over) {
        const size_t want = data[pos++];
        const size_t n = std::min(want, size - pos);
        const QByteArrayView batch(reinterpret_cast<const char*>(data + pos), qsizetype(n));
        pos += n;
        stream.append(batch);
        const PollOutcome outcome = loop.poll(batch);

        check(loop.RecordsReady() <= loop.RecordTotal(), "RecordsReady <= RecordTotal");
        check(loop.RecordsReadyBefore() <= loop.RecordsReady(), "RecordsReadyBefore <= RecordsReady");
        check(loop.BytesReceived() <= stream.size(), "no byte received that was not sent");
        if (loop.expectedBytes() > 0) {
            check(loop.BytesReceived() <= loop.expectedBytes(), "nothing stored past the reply");
            check(loop.SyncBuffer().size() == loop.expectedBytes(), "buffer sized to the reply");
        }

        for (const ListRow& row : loop.takeNewRows(QLocale::c())) {
            ++rows;
            check(row.size() == kColumnCount, "every row has 53 texts");
            check(row[kColNumber] == QString::number(rows), "rows numbered 1, 2, 3 in reply order");
            const qsizetype at = kReplyHeaderSize + qsizetype(rows - 1) * kRecordSize;
            check(at + kRecordSize <= loop.BytesReceived(), "a row only for a record wholly received");
            const auto* record = reinterpret_cast<const unsigned char*>(stream.constData() + at);
            check(row == decodeRecord(record, rows, QLocale::c()), "the row is the record's own bytes");
        }
        check(rows == loop.RowsLoaded() && rows == loop.RecordsReady(), "every complete record is one row, once");

        over = outcome == PollOutcome::Complete || outcome == PollOutcome::EndedEmpty
            || outcome == PollOutcome::Stalled;
        if (outcome == PollOutcome::Complete)
            check(rows == loop.RecordTotal() && loop.RecordTotal() > 0, "a complete reply gave all its rows");
    }
    return 0;
}
