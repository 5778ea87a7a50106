#include "sim/Calibrator.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
constexpr char kProbe[] = {'\x5A', '\x01', '\x10', '\x10', '\xA5'};
constexpr char kSyncRequest[] = {'\x5A', '\x01', '\xAA', '\xAA', '\xA5'};
constexpr int kCommandSize = 5;
// The paced rest of a reply leaves in slices this far apart.
constexpr std::chrono::milliseconds kPaceTick{50};

bool startsWith(const QByteArray& buf, const char (&cmd)[kCommandSize])
{
    return buf.size() >= kCommandSize && std::memcmp(buf.constData(), cmd, kCommandSize) == 0;
}
} // namespace

std::vector<Command> CommandReader::feed(const QByteArray& bytes)
{
    std::vector<Command> out;
    pending_.append(bytes);
    while (pending_.size() >= kCommandSize) {
        if (startsWith(pending_, kProbe)) {
            pending_.remove(0, kCommandSize);
            out.push_back(Command::Probe);
        } else if (startsWith(pending_, kSyncRequest)) {
            pending_.remove(0, kCommandSize);
            out.push_back(Command::Sync);
        } else {
            pending_.remove(0, 1);   // not a command: resynchronise on the next byte
        }
    }
    return out;
}

std::vector<Piece> probeReply(ProbeAnswer answer, std::chrono::milliseconds lateBy)
{
    const QByteArray echo(kProbe, kCommandSize);
    switch (answer) {
    case ProbeAnswer::Echo: return {{0ms, echo}};
    case ProbeAnswer::Silent: return {};
    case ProbeAnswer::WrongBytes: return {{0ms, QByteArray("\x5A\x01\x10\x11\xA5", kCommandSize)}};
    case ProbeAnswer::SixBytes: return {{0ms, echo + QByteArray(1, '\x00')}};
    case ProbeAnswer::Late: return {{lateBy, echo}};
    }
    return {};
}

std::vector<Piece> syncReply(const SyncScript& s)
{
    std::vector<Piece> out;
    if (!s.answer)
        return out;
    QByteArray bytes = s.reply + s.extra;
    if (s.stopAfter >= 0 && s.stopAfter < bytes.size())
        bytes.truncate(s.stopAfter);

    if (s.firstDelay.count() > 0)
        out.push_back({s.firstDelay, {}});
    qsizetype sent = 0;
    for (const Chunk& c : s.chunks) {
        if (sent >= bytes.size())
            break;
        const qsizetype n = std::min<qsizetype>(c.bytes, bytes.size() - sent);
        out.push_back({c.delayBefore, bytes.mid(sent, n)});
        sent += n;
    }
    // Whatever the schedule left goes out at the line's pace.
    const qsizetype perTick = s.bytesPerSecond > 0
                                  ? std::max<qsizetype>(1, s.bytesPerSecond * kPaceTick.count() / 1000)
                                  : bytes.size();
    bool first = true;
    while (sent < bytes.size()) {
        const qsizetype n = std::min(perTick, bytes.size() - sent);
        out.push_back({first ? 0ms : kPaceTick, bytes.mid(sent, n)});
        sent += n;
        first = false;
    }
    return out;
}

} // namespace sim
