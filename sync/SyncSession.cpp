#include "sync/SyncSession.h"

#include <iterator>

namespace sf6 {

const char* syncEndName(SyncEnd end)
{
    switch (end) {
    case SyncEnd::Complete: return "complete";
    case SyncEnd::Empty: return "empty";
    case SyncEnd::Stalled: return "stalled";
    case SyncEnd::LinkLost: return "link_lost";
    }
    return "?";
}

QString syncEndText(const QString& storedName)
{
    static const std::pair<SyncEnd, const char*> kTexts[] = {
        {SyncEnd::Complete, "完成"},
        {SyncEnd::Stalled, "中断"},
        {SyncEnd::LinkLost, "连接断开"},
        {SyncEnd::Empty, "无记录"},
    };
    for (const auto& [end, text] : kTexts)
        if (storedName == QLatin1String(syncEndName(end)))
            return QString::fromUtf8(text);
    return storedName;
}

bool SyncSession::begin()
{
    link_.FlushInput();
    if (!link_.IsOpen())
        return false;
    link_.WriteBytes(QByteArray(reinterpret_cast<const char*>(kSyncRequest.data()), qsizetype(kSyncRequest.size())));
    loop_.start();
    return true;
}

SyncStep SyncSession::poll()
{
    SyncStep step;
    QByteArray batch;
    if (link_.BytesAvailable() != 0)
        batch = link_.ReadAvailable();
    step.receivedBytes = !batch.isEmpty();
    // Bytes that came before a loss are still this reply's.
    const bool lost = link_.wasLost();
    const PollOutcome outcome = loop_.poll(batch);
    if (lost) {
        step.linkLost = true;
        step.lostReason = link_.takeLostError().value_or(QString());
    }
    if (outcome == PollOutcome::Complete)
        step.end = SyncEnd::Complete;
    else if (lost)
        step.end = SyncEnd::LinkLost;
    else if (outcome == PollOutcome::EndedEmpty)
        step.end = SyncEnd::Empty;
    else if (outcome == PollOutcome::Stalled)
        step.end = SyncEnd::Stalled;
    return step;
}

std::vector<QByteArray> SyncSession::receivedRecords() const
{
    std::vector<QByteArray> out;
    out.reserve(size_t(loop_.RecordsReady()));
    for (int i = 0; i < loop_.RecordsReady(); ++i)
        out.push_back(loop_.recordBytes(i));
    return out;
}

QString SyncSession::endMessage(SyncEnd end, const QString& lostReason) const
{
    switch (end) {
    case SyncEnd::Complete: return {};
    case SyncEnd::Empty: return kTextSyncEmpty;
    case SyncEnd::Stalled: return QStringLiteral("数据同步中断，已加载%1条记录！").arg(loop_.RowsLoaded());
    case SyncEnd::LinkLost: return lostReason.isEmpty() ? kTextLinkLost : kTextLinkLost + u'\n' + lostReason;
    }
    return {};
}

QString SyncSession::endPanelText(SyncEnd end)
{
    switch (end) {
    case SyncEnd::Complete:
    case SyncEnd::Empty: return kTextSyncDone;
    case SyncEnd::Stalled: return kTextSyncStalled;
    case SyncEnd::LinkLost: return kTextLinkLost;
    }
    return {};
}

std::optional<SyncSession::Finished> SyncSession::runToEnd(
    const std::function<void(const std::vector<ListRow>&)>& onRows)
{
    if (!begin())
        return std::nullopt;
    Finished f{SyncEnd::Empty, {}, false, {}};
    waitFirstPoll();
    for (;;) {
        const SyncStep step = poll();
        std::vector<ListRow> fresh = takeNewRows();
        if (!fresh.empty() && onRows)
            onRows(fresh);
        std::move(fresh.begin(), fresh.end(), std::back_inserter(f.rows));
        if (step.end) {
            f.end = *step.end;
            f.linkLost = step.linkLost;
            f.lostReason = step.lostReason;
            return f;
        }
        waitNextPoll();
    }
}

} // namespace sf6
