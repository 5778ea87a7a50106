#pragma once
// What the simulated calibrator answers, and when: the commands it reads from
// the program's bytes and the timed pieces of its answers. No I/O: the
// simulator on a pseudo-terminal and the in-process demo link both send these.

#include <QByteArray>

#include <chrono>
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

enum class Command { Probe, Sync };

// Splits what the program writes into commands; a byte that starts none is
// skipped, so the reader finds the next command after noise.
class CommandReader {
public:
    std::vector<Command> feed(const QByteArray& bytes);

private:
    QByteArray pending_;
};

// Bytes sent after a pause, in order.
struct Piece {
    std::chrono::milliseconds delayBefore{0};
    QByteArray bytes;
};

std::vector<Piece> probeReply(ProbeAnswer answer, std::chrono::milliseconds lateBy = kDefaultLateEcho);
// The whole answer to one sync request (nothing when the script stays silent);
// the hang-up, if any, is the sender's to do after the last piece.
std::vector<Piece> syncReply(const SyncScript& script);

} // namespace sim
