#include "sim/InProcessLink.h"

#include "link/PortList.h"
#include "link/SerialLink.h"
#include "sim/Records.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

namespace sim {

InProcessLink::InProcessLink(SyncScript script) : script_(std::move(script)) {}

void InProcessLink::setProbeAnswer(ProbeAnswer a, std::chrono::milliseconds lateBy)
{
    probe_ = a;
    lateBy_ = lateBy;
}

void InProcessLink::schedule(const std::vector<Piece>& pieces)
{
    Clock::time_point at = std::max(Clock::now(), busyUntil_);
    for (const Piece& p : pieces) {
        at += p.delayBefore;
        onTheWay_.push_back({at, p.bytes});
    }
    busyUntil_ = at;
}

bool InProcessLink::WriteBytes(const QByteArray& bytes)
{
    received_ += bytes;
    for (const Command c : reader_.feed(bytes)) {
        if (c == Command::Probe) {
            ++probes_;
            schedule(probeReply(probe_, lateBy_));
        } else {
            schedule(syncReply(script_));
        }
    }
    return true;
}

void InProcessLink::arrive()
{
    const Clock::time_point now = Clock::now();
    while (!onTheWay_.empty() && onTheWay_.front().at <= now) {
        input_ += onTheWay_.front().bytes;
        onTheWay_.pop_front();
    }
}

int InProcessLink::BytesAvailable()
{
    arrive();
    return int(input_.size());
}

QByteArray InProcessLink::ReadAvailable()
{
    arrive();
    return std::exchange(input_, {});
}

void InProcessLink::FlushInput()
{
    arrive();
    input_.clear();
}

void InProcessLink::CollectFor(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

QString serveDemoCalibrator(int records)
{
    SyncScript script;
    script.reply = makeSyncReply(plausibleRecords(records));
    sf6::setInProcessPort(kDemoPortName, std::make_shared<InProcessLink>(script));
    sf6::setPortListOverride(QStringList{kDemoPortName});
    return kDemoPortName;
}

} // namespace sim
