#pragma once
// One sync exchange with the calibrator: flush, request, the fixed first wait,
// then one poll at a time until the reply is complete, ends empty, stalls or
// the link goes. The window drives it from its poll timer, the command line
// from a loop; both show the texts it gives.

#include "sync/ByteLink.h"
#include "sync/ReceiveLoop.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace sf6 {

inline const QString kTextSyncStart = QStringLiteral("开始数据同步...");
inline const QString kTextNotConnected = QStringLiteral("请先连接！");
inline const QString kTextSyncDone = QStringLiteral("数据同步完成");
inline const QString kTextSyncEmpty = QStringLiteral("数据同步完成当前共有0条记录！");
inline const QString kTextSyncStalled = QStringLiteral("数据同步中断");
inline const QString kTextLinkLost = QStringLiteral("连接已断开！");

enum class SyncEnd {
    Complete,   // the whole reply, at least one record
    Empty,      // input ran dry before a whole record could have arrived
    Stalled,    // input ran dry part-way and stayed dry
    LinkLost,   // the port went away
};

// Stable names, for logs and the archive.
const char* syncEndName(SyncEnd end);
// The stored name (syncEndName) as the user reads it: 完成, 中断, 连接断开, 无记录;
// a name this program does not know is shown as it stands.
QString syncEndText(const QString& storedName);

struct SyncStep {
    bool receivedBytes = false;   // the poll read a batch: the decode step runs
    std::optional<SyncEnd> end;   // set when the sync is over
    bool linkLost = false;        // the link went in this poll, possibly with the last bytes
    QString lostReason;           // why, in Chinese
};

class SyncSession {
public:
    explicit SyncSession(ByteLink& link) : link_(link) {}

    // Flushes the input; if the link is open, sends the request and resets the
    // counters. False: not connected, nothing sent, nothing reset.
    bool begin();
    void waitFirstPoll() { link_.CollectFor(kSyncFirstPollDelay); }
    void waitNextPoll() { link_.CollectFor(kSyncPollInterval); }
    SyncStep poll();

    // The rows completed since the last call, numbered from 1 in reply order.
    std::vector<ListRow> takeNewRows(const QLocale& locale = QLocale()) { return loop_.takeNewRows(locale); }
    // The 105 bytes of every record received so far, in reply order.
    std::vector<QByteArray> receivedRecords() const;

    QString progressText() const { return loop_.progressText(); }
    // What the end says to the user (message box or standard error); empty for a complete sync.
    QString endMessage(SyncEnd end, const QString& lostReason = {}) const;
    // Status panel 1 after the end.
    static QString endPanelText(SyncEnd end);

    const ReceiveLoop& loop() const { return loop_; }
    ReceiveLoop& loop() { return loop_; }

    // Without a window: runs begin, the waits and the polls to the end, handing
    // each poll's new rows to onRows. nullopt: not connected.
    struct Finished {
        SyncEnd end;
        std::vector<ListRow> rows;
        bool linkLost = false;   // also after a complete reply: the loss came with its last bytes
        QString lostReason;
    };
    std::optional<Finished> runToEnd(const std::function<void(const std::vector<ListRow>&)>& onRows = {});

private:
    ByteLink& link_;
    ReceiveLoop loop_;
};

} // namespace sf6
