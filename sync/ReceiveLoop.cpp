#include "sync/ReceiveLoop.h"

#include <algorithm>
#include <cstring>

namespace sf6 {

void ReceiveLoop::start()
{
    m_sized = false;
    m_recordTotal = 0;
    m_bytesReceived = 0;
    m_recordsReadyBefore = 0;
    m_recordsReady = 0;
    m_rowsLoaded = 0;
    m_emptyPolls = 0;
}

PollOutcome ReceiveLoop::poll(QByteArrayView batch)
{
    if (batch.isEmpty())
        return nothingWaiting();

    const int before = m_bytesReceived;
    if (m_bytesReceived == 0) {
        // First bytes of a new reply: the old reply's buffer goes.
        m_buffer.clear();
        m_sized = false;
    }
    if (!m_sized) {
        // The buffer can only be sized once the count byte is here; a reply may
        // well start with a batch of one byte.
        const qsizetype headerPart =
            std::min<qsizetype>(kReplyCountOffset + 1 - m_bytesReceived, batch.size());
        m_buffer.append(batch.first(headerPart));
        m_bytesReceived += int(headerPart);
        batch = batch.sliced(headerPart);
        if (m_bytesReceived > kReplyCountOffset) {
            m_recordTotal = static_cast<unsigned char>(m_buffer.at(kReplyCountOffset));
            QByteArray sized(syncReplySize(m_recordTotal), '\0');
            std::memcpy(sized.data(), m_buffer.constData(), size_t(m_bytesReceived));
            m_buffer = std::move(sized);
            m_sized = true;
        }
    }
    if (m_sized)
        store(batch);
    if (m_bytesReceived == before)
        return nothingWaiting();   // surplus only
    m_emptyPolls = 0;

    m_recordsReadyBefore = m_recordsReady;
    // The trailer never adds a record; only whole records count.
    const int recordBytes = m_bytesReceived - (replyComplete() ? kReplyTrailerSize : 0);
    const int ready = std::max(0, recordBytes - kReplyHeaderSize) / kRecordSize;
    m_recordsReady = std::min(ready, m_recordTotal);

    if (replyComplete() && m_recordTotal != 0)
        return PollOutcome::Complete;
    return PollOutcome::Waiting;
}

void ReceiveLoop::store(QByteArrayView bytes)
{
    // Anything past the announced length is not part of the reply and is dropped.
    const qsizetype room = m_buffer.size() - m_bytesReceived;
    const qsizetype n = std::min(room, bytes.size());
    if (n <= 0)
        return;
    std::memcpy(m_buffer.data() + m_bytesReceived, bytes.data(), size_t(n));
    m_bytesReceived += int(n);
}

QByteArray ReceiveLoop::recordBytes(int i) const
{
    if (i < 0 || i >= m_recordsReady)
        return {};
    return m_buffer.mid(kReplyHeaderSize + qsizetype(i) * kRecordSize, kRecordSize);
}

PollOutcome ReceiveLoop::nothingWaiting()
{
    if (m_bytesReceived < kMinReplyWithRecord)
        return PollOutcome::EndedEmpty;
    // A reply that stops part-way would otherwise keep the commands locked for ever.
    if (++m_emptyPolls >= kStallPolls)
        return PollOutcome::Stalled;
    return PollOutcome::NothingYet;
}

std::vector<ListRow> ReceiveLoop::takeNewRows(const QLocale& locale)
{
    std::vector<ListRow> rows;
    if (m_recordsReady <= m_rowsLoaded)
        return rows;
    rows.reserve(size_t(m_recordsReady - m_rowsLoaded));
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.constData());
    // RowsLoaded is the next record to hand out, so a skipped call loses nothing
    // and a repeated one adds nothing.
    for (int i = m_rowsLoaded; i < m_recordsReady; ++i) {
        rows.push_back(decodeRecord(bytes + kReplyHeaderSize + i * kRecordSize, i + 1, locale));
        ++m_rowsLoaded;
    }
    return rows;
}

QString ReceiveLoop::progressText() const
{
    return QStringLiteral("共有%1条数据，当前加载%2条  ").arg(m_recordTotal).arg(m_rowsLoaded);
}

} // namespace sf6
