#pragma once
// A calibrator on a pseudo-terminal: answers the connect probe and the sync
// request the way the instrument does, or in one of the scripted faulty ways.
// Unix only (pseudo-terminals).

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

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kDefaultLateEcho{800};
constexpr int kLineBytesPerSecond = 1920;   // 19200 baud, 10 bits a byte

enum class ProbeAnswer { Echo, Silent, WrongBytes, SixBytes, Late };

struct Chunk {
    int bytes = 0;                                 // how many reply bytes
    std::chrono::milliseconds delayBefore{0};      // pause before sending them
};

struct SyncScript {
    QByteArray reply;                  // header, records, trailer
    QByteArray extra;                  // surplus sent after the trailer
    std::vector<Chunk> chunks;         // explicit schedule; the rest goes paced
    int bytesPerSecond = kLineBytesPerSecond;   // 0: as fast as the pty takes it
    int stopAfter = -1;                // send only the first K bytes (-1: all)
    std::chrono::milliseconds firstDelay{0};    // before the first byte
    bool hangUpAtEnd = false;          // close the far end after the last byte sent
    std::chrono::milliseconds hangUpDelay{0};   // ... this long after it
    bool answer = true;                // false: stay silent on the sync request
};

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
