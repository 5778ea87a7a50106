#include "sim/Simulator.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr char kProbe[] = {'\x5A', '\x01', '\x10', '\x10', '\xA5'};
constexpr char kSyncRequest[] = {'\x5A', '\x01', '\xAA', '\xAA', '\xA5'};
constexpr int kCommandSize = 5;
constexpr std::chrono::milliseconds kPollTick{10};
constexpr std::chrono::milliseconds kPaceTick{50};

bool startsWith(const QByteArray& buf, const char (&cmd)[kCommandSize])
{
    return buf.size() >= kCommandSize && std::memcmp(buf.constData(), cmd, kCommandSize) == 0;
}

void makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}
} // namespace

Simulator::Simulator() = default;

Simulator::~Simulator() { stop(); }

bool Simulator::start(QString* error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A program started later (sf6cli from a test) must not inherit the far
    // end: the line would never hang up while it holds it.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = QString::fromLocal8Bit(ptsname(master_));
    slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ >= 0)
        makeRaw(slave_);   // no echo, no line editing: bytes pass unchanged
    makeRaw(master_);
    stop_ = false;
    thread_ = std::thread([this] { serve(); });
    return true;
}

void Simulator::stop()
{
    stop_ = true;
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

void Simulator::setProbeAnswer(ProbeAnswer a, std::chrono::milliseconds lateBy)
{
    std::lock_guard lock(mutex_);
    probe_ = a;
    lateBy_ = lateBy;
}

void Simulator::setSyncScript(SyncScript s)
{
    std::lock_guard lock(mutex_);
    script_ = std::move(s);
}

void Simulator::send(const QByteArray& bytes)
{
    std::lock_guard lock(mutex_);
    outQueue_.push_back(bytes);
}

void Simulator::hangUp()
{
    hangUpRequested_ = true;
    cv_.notify_all();
}

QByteArray Simulator::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

bool Simulator::sleepUnlessStopped(std::chrono::milliseconds d)
{
    std::unique_lock lock(mutex_);
    return !cv_.wait_for(lock, d, [this] { return stop_.load() || hangUpRequested_.load(); });
}

void Simulator::writeAll(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && !stop_ && master_ >= 0) {
        const ssize_t n = ::write(master_, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // Nobody reads (the program closed the port): wait, but stay stoppable.
                pollfd pfd{master_, POLLOUT, 0};
                ::poll(&pfd, 1, int(kPollTick.count()));
                continue;
            }
            return;
        }
        p += n;
        left -= n;
    }
}

void Simulator::serve()
{
    QByteArray pending;
    while (!stop_) {
        if (hangUpRequested_) {
            ::close(master_);   // the program's side now sees the line hung up
            master_ = -1;
            return;
        }
        std::deque<QByteArray> out;
        {
            std::lock_guard lock(mutex_);
            out.swap(outQueue_);
        }
        for (const auto& b : out)
            writeAll(b);

        pollfd pfd{master_, POLLIN, 0};
        const int r = ::poll(&pfd, 1, int(kPollTick.count()));
        if (r <= 0 || !(pfd.revents & POLLIN))
            continue;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            received_.append(buf, n);
        }
        pending.append(buf, n);
        while (pending.size() >= kCommandSize) {
            if (startsWith(pending, kProbe)) {
                pending.remove(0, kCommandSize);
                answerProbe();
            } else if (startsWith(pending, kSyncRequest)) {
                pending.remove(0, kCommandSize);
                answerSync();
            } else {
                pending.remove(0, 1);   // not a command: resynchronise on the next byte
            }
        }
    }
}

void Simulator::answerProbe()
{
    ++probes_;
    ProbeAnswer a;
    std::chrono::milliseconds late;
    {
        std::lock_guard lock(mutex_);
        a = probe_;
        late = lateBy_;
    }
    const QByteArray echo(kProbe, kCommandSize);
    switch (a) {
    case ProbeAnswer::Echo:
        writeAll(echo);
        break;
    case ProbeAnswer::Silent:
        break;
    case ProbeAnswer::WrongBytes:
        writeAll(QByteArray("\x5A\x01\x10\x11\xA5", kCommandSize));
        break;
    case ProbeAnswer::SixBytes:
        writeAll(echo + QByteArray(1, '\x00'));
        break;
    case ProbeAnswer::Late:
        if (sleepUnlessStopped(late))
            writeAll(echo);
        break;
    }
}

void Simulator::answerSync()
{
    SyncScript s;
    {
        std::lock_guard lock(mutex_);
        s = script_;
    }
    if (!s.answer)
        return;
    QByteArray bytes = s.reply + s.extra;
    if (s.stopAfter >= 0 && s.stopAfter < bytes.size())
        bytes.truncate(s.stopAfter);

    if (s.firstDelay.count() > 0 && !sleepUnlessStopped(s.firstDelay))
        return;
    qsizetype sent = 0;
    for (const Chunk& c : s.chunks) {
        if (sent >= bytes.size())
            break;
        if (c.delayBefore.count() > 0 && !sleepUnlessStopped(c.delayBefore))
            return;
        const qsizetype n = std::min<qsizetype>(c.bytes, bytes.size() - sent);
        writeAll(bytes.mid(sent, n));
        sent += n;
    }
    // Whatever the schedule left goes out at the line's pace.
    const qsizetype perTick = s.bytesPerSecond > 0
                                  ? std::max<qsizetype>(1, s.bytesPerSecond * kPaceTick.count() / 1000)
                                  : bytes.size();
    while (sent < bytes.size()) {
        const qsizetype n = std::min(perTick, bytes.size() - sent);
        writeAll(bytes.mid(sent, n));
        sent += n;
        if (sent < bytes.size() && s.bytesPerSecond > 0 && !sleepUnlessStopped(kPaceTick))
            break;
    }
    if (s.hangUpAtEnd && (s.hangUpDelay.count() == 0 || sleepUnlessStopped(s.hangUpDelay)))
        hangUpRequested_ = true;
}

} // namespace sim
