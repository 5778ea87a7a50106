#pragma once
// A calibrator on a pseudo-terminal: answers the connect probe and the sync
// request the way the instrument does, or in one of the scripted faulty ways
// (sim/Calibrator.h says what and when). Unix only (pseudo-terminals).

#include "sim/Calibrator.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class Simulator {
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool start(QString* error = nullptr);   // opens the pty and starts serving
    void stop();
    QString portPath() const { return path_; }

    void setProbeAnswer(ProbeAnswer a, std::chrono::milliseconds lateBy = kDefaultLateEcho);
    void setSyncScript(SyncScript s);

    // Sends bytes at once from the caller's thread (tests pacing by hand).
    void send(const QByteArray& bytes);
    void hangUp();                     // the far end goes away

    int probesSeen() const { return probes_.load(); }
    QByteArray received() const;       // every byte the program wrote

private:
    void serve();
    void answerProbe();
    void answerSync();
    bool sendPieces(const std::vector<Piece>& pieces);
    void writeAll(const QByteArray& bytes);
    bool sleepUnlessStopped(std::chrono::milliseconds d);

    int master_ = -1;
    int slave_ = -1;   // kept open so the port survives the program closing it
    QString path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> probes_{0};
    std::atomic<bool> hangUpRequested_{false};

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    ProbeAnswer probe_ = ProbeAnswer::Echo;
    std::chrono::milliseconds lateBy_ = kDefaultLateEcho;
    SyncScript script_;
    QByteArray received_;
    std::deque<QByteArray> outQueue_;
};

} // namespace sim
