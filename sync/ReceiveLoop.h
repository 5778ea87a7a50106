#pragma once
// The sync reply receiver: fed one batch of bytes per poll, it collects the reply,
// counts the records that are complete and hands them out as list rows.
// Pure state machine; the window owns the port, the timer and the widgets.

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <array>
#include <chrono>
#include <vector>

#include "sync/Columns.h"
#include "sync/TestRecord.h"

namespace sf6 {

// 5A 01 AA AA A5, written in one go.
constexpr std::array<unsigned char, 5> kSyncRequest{0x5A, 0x01, 0xAA, 0xAA, 0xA5};
constexpr std::chrono::milliseconds kSyncFirstPollDelay{1000};
constexpr std::chrono::milliseconds kSyncPollInterval{1000};

constexpr int kReplyHeaderSize = 3;
constexpr int kReplyCountOffset = 1;       // header byte holding the record count
constexpr int kReplyTrailerSize = 2;
constexpr int kMinReplyWithRecord = kReplyHeaderSize + kRecordSize + kReplyTrailerSize;  // 110
constexpr int kStallPolls = 10;            // empty polls in a row that end a stalled transfer

constexpr int syncReplySize(int recordTotal)
{
    return kReplyHeaderSize + recordTotal * kRecordSize + kReplyTrailerSize;
}

enum class PollOutcome {
    Waiting,     // bytes came, reply not complete: keep the poll timer running
    Complete,    // whole reply in, at least one record
    EndedEmpty,  // nothing waiting and fewer than kMinReplyWithRecord bytes in all
    Stalled,     // kStallPolls empty polls in a row after kMinReplyWithRecord bytes
    NothingYet,  // nothing waiting, transfer under way: do nothing
};
// A poll whose bytes all lie past the announced reply (surplus) counts as a poll
// with nothing waiting: a stream of stray bytes must not keep a sync alive.

class ReceiveLoop {
public:
    // Sync start: counters to 0. The previous buffer stays until the new reply's first bytes.
    void start();

    // One poll; an empty batch means nothing was waiting.
    PollOutcome poll(QByteArrayView batch);

    // Rows for the records completed since the last call (RecordsReadyBefore ..
    // RecordsReady - 1 when called after every poll), numbered from 1 in reply order.
    // Each row counts into RowsLoaded.
    std::vector<ListRow> takeNewRows(const QLocale& locale = QLocale());

    // The 105 bytes of record i (0-based), for i < RecordsReady.
    QByteArray recordBytes(int i) const;

    // "共有N条数据，当前加载M条  " for status panel 3.
    QString progressText() const;

    const QByteArray& SyncBuffer() const { return m_buffer; }
    int RecordTotal() const { return m_recordTotal; }
    int BytesReceived() const { return m_bytesReceived; }
    int RecordsReadyBefore() const { return m_recordsReadyBefore; }
    int RecordsReady() const { return m_recordsReady; }
    int RowsLoaded() const { return m_rowsLoaded; }

    // Bytes the reply will have in all; 0 until its record count has arrived.
    int expectedBytes() const { return m_sized ? syncReplySize(m_recordTotal) : 0; }
    bool replyComplete() const { return m_sized && m_bytesReceived == expectedBytes(); }

private:
    PollOutcome nothingWaiting();
    void store(QByteArrayView bytes);

    QByteArray m_buffer;
    bool m_sized = false;   // buffer allocated for RecordTotal records
    int m_recordTotal = 0;
    int m_bytesReceived = 0;
    int m_recordsReadyBefore = 0;
    int m_recordsReady = 0;
    int m_rowsLoaded = 0;
    int m_emptyPolls = 0;
};

} // namespace sf6
