#include "sim/Simulator.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr std::chrono::milliseconds kPollTick{10};

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
    CommandReader reader;
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
        for (const Command c : reader.feed(QByteArray(buf, n))) {
            if (c == Command::Probe)
                answerProbe();
            else
                answerSync();
        }
    }
}

bool Simulator::sendPieces(const std::vector<Piece>& pieces)
{
    for (const Piece& p : pieces) {
        if (p.delayBefore.count() > 0 && !sleepUnlessStopped(p.delayBefore))
            return false;
        writeAll(p.bytes);
    }
    return true;
}

void Simulator::answerProbe()
{
    ++probes_;
    std::vector<Piece> pieces;
    {
        std::lock_guard lock(mutex_);
        pieces = probeReply(probe_, lateBy_);
    }
    sendPieces(pieces);
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
    if (!sendPieces(syncReply(s)))
        return;
    if (s.hangUpAtEnd && (s.hangUpDelay.count() == 0 || sleepUnlessStopped(s.hangUpDelay)))
        hangUpRequested_ = true;
}

} // namespace sim
