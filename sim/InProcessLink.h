#pragma once
// The simulated calibrator inside the program: a ByteLink whose far end
// answers the probe and the sync request as the simulator on a pseudo-terminal
// does, at the same pace, with no port, thread or pseudo-terminal. The demo
// serves it on every system (Windows has no pseudo-terminals). It is never
// lost: a script's hang-up is the pseudo-terminal simulator's alone.

#include "sim/Calibrator.h"
#include "sync/ByteLink.h"

#include <QString>

#include <chrono>
#include <deque>

namespace sim {

// The port name the demo's calibrator answers on.
inline const QString kDemoPortName = QStringLiteral("DEMO");

class InProcessLink : public sf6::ByteLink {
public:
    using Clock = std::chrono::steady_clock;

    explicit InProcessLink(SyncScript script = {});

    void setProbeAnswer(ProbeAnswer a, std::chrono::milliseconds lateBy = kDefaultLateEcho);
    void setSyncScript(SyncScript s) { script_ = std::move(s); }
    int probesSeen() const { return probes_; }
    QByteArray received() const { return received_; }   // every byte the program wrote

    bool IsOpen() const override { return true; }
    void FlushInput() override;   // drops what has arrived, not what is still on its way
    bool WriteBytes(const QByteArray& bytes) override;
    int BytesAvailable() override;
    QByteArray ReadAvailable() override;
    void CollectFor(std::chrono::milliseconds d) override;
    bool wasLost() const override { return false; }
    std::optional<QString> takeLostError() override { return std::nullopt; }

private:
    struct Due {
        Clock::time_point at;
        QByteArray bytes;
    };
    void arrive();   // moves what is due by now into the input
    void schedule(const std::vector<Piece>& pieces);

    SyncScript script_;
    ProbeAnswer probe_ = ProbeAnswer::Echo;
    std::chrono::milliseconds lateBy_ = kDefaultLateEcho;
    CommandReader reader_;
    std::deque<Due> onTheWay_;
    Clock::time_point busyUntil_{};   // the calibrator answers one command after the other
    QByteArray input_;
    QByteArray received_;
    int probes_ = 0;
};

// Serves a calibrator holding `records` believable records on kDemoPortName
// and makes that the only port the scan tries. Returns the port name.
QString serveDemoCalibrator(int records);

} // namespace sim
