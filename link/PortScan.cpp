#include "link/PortScan.h"

#include "link/PortList.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace sf6 {

namespace {
const QString kNoAnswer = QStringLiteral("无应答");
const QString kWrongLength = QStringLiteral("应答长度不符（收到%1字节，应为5字节）");
const QString kWrongBytes = QStringLiteral("应答内容不符");
#ifdef Q_OS_WIN
const QString kDeniedHint;
#else
const QString kDeniedHint = QStringLiteral(
    "提示：当前用户没有使用串口的权限。请把用户加入 dialout 组（sudo usermod -aG dialout 用户名），"
    "然后注销并重新登录。");
#endif
// How often a waiting scan looks whether it has been cancelled.
constexpr std::chrono::milliseconds kCancelTick{20};

void configure(SerialLink& link)
{
    link.SetSettings(QString::fromLatin1(kLineSettings));
    link.SetReadLength(0);
    link.SetInputBufferSize(kReceiveCapacity);
    link.SetBinaryInput();
}

QString exceptionText(const std::exception& e) { return QString::fromLocal8Bit(e.what()); }

// One port's open and probe, shared between its thread and the scan waiting for it.
struct ProbeTask {
    std::mutex mutex;
    std::condition_variable changed;
    bool opened = false;      // the open has returned, the port open or not
    bool done = false;
    bool abandoned = false;   // the scan went on without it
    PortAttempt attempt;
    bool answered = false;
};

void runProbe(const std::shared_ptr<ProbeTask>& task, const QString& name)
{
    PortAttempt attempt{name, {}, false};
    bool answered = false;
    try {
        SerialLink link;
        configure(link);
        link.SetPortName(name);
        link.Open();
        {
            std::lock_guard lock(task->mutex);
            task->opened = true;
            if (task->abandoned)
                return;   // too late: the link's end closes the port again
        }
        task->changed.notify_all();
        if (!link.IsOpen()) {
            attempt.reason = link.lastError();
            attempt.denied = link.lastOpenDenied();
        } else {
            link.WriteBytes(kHandshake);
            link.CollectFor(kProbeWait);
            const int waiting = link.BytesAvailable();
            if (waiting != kHandshake.size())
                attempt.reason = waiting == 0 ? kNoAnswer : kWrongLength.arg(waiting);
            else if (!link.ReadAvailable().startsWith(kHandshake))
                attempt.reason = kWrongBytes;
            else
                answered = true;
            link.Close();   // the caller opens its own link on the port found
        }
    } catch (const std::exception& e) {
        attempt.reason = exceptionText(e);
    } catch (...) {
        attempt.reason = QStringLiteral("串口出错");
    }
    {
        std::lock_guard lock(task->mutex);
        task->opened = true;
        task->done = true;
        task->attempt = attempt;
        task->answered = answered;
    }
    task->changed.notify_all();
}

// Probe threads not yet joined. One whose open blocks may outlive its scan;
// the next scan and the program's end delete those that have ended. Nothing
// here needs an event loop: the command line and tests turn none.
struct ProbeThreads {
    std::mutex mutex;
    std::vector<QThread*> threads;
};

ProbeThreads& probeThreads()
{
    static ProbeThreads* const all = new ProbeThreads;   // outlives every static that could scan
    return *all;
}

void reapEnded(ProbeThreads& all)
{
    auto ended = std::stable_partition(all.threads.begin(), all.threads.end(),
                                       [](QThread* t) { return !t->isFinished(); });
    for (auto it = ended; it != all.threads.end(); ++it) {
        (*it)->wait();
        delete *it;
    }
    all.threads.erase(ended, all.threads.end());
}

void startProbe(const std::shared_ptr<ProbeTask>& task, const QString& name)
{
    ProbeThreads& all = probeThreads();
    std::lock_guard lock(all.mutex);
    reapEnded(all);
    // A QThread, as the port's notifiers need; an adopted std::thread that
    // made Qt objects crashes the Windows build when it ends.
    QThread* thread = QThread::create([task, name] { runProbe(task, name); });
    all.threads.push_back(thread);
    thread->start();
}

enum class Waited { Done, TimedOut, Cancelled };
} // namespace

QStringList ScanResult::triedNames() const
{
    QStringList out;
    for (const PortAttempt& a : attempts)
        out << a.port;
    return out;
}

QString ScanResult::refusalDetails() const
{
    QStringList lines;
    bool denied = false;
    for (const PortAttempt& a : attempts) {
        if (a.reason.isEmpty())
            continue;
        lines << QStringLiteral("%1：%2").arg(a.port, a.reason);
        denied |= a.denied;
    }
    if (denied && !kDeniedHint.isEmpty())
        lines << kDeniedHint;
    return lines.join(QLatin1Char('\n'));
}

QStringList portsToScan()
{
    QStringList names = ListSerialPorts();
    // Plain text order, so COM10 comes before COM2.
    std::sort(names.begin(), names.end());
    return names;
}

int finishProbeThreads(std::chrono::milliseconds limit)
{
    ProbeThreads& all = probeThreads();
    std::lock_guard lock(all.mutex);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (QThread* t : all.threads) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        t->wait(QDeadlineTimer(std::max<qint64>(left.count(), 0)));
    }
    reapEnded(all);
    return int(all.threads.size());
}

ScanResult probePorts(const QStringList& names, const ScanEvents& events)
{
    ScanResult r;
    const auto cancelled = [&events] { return events.cancelled && events.cancelled(); };
    for (const QString& name : names) {
        if (cancelled()) {
            r.outcome = ScanResult::Outcome::Cancelled;
            return r;
        }
        if (events.trying)
            events.trying(name);
        auto task = std::make_shared<ProbeTask>();
        startProbe(task, name);

        std::unique_lock lock(task->mutex);
        const auto waitFor = [&](const bool& flag, std::chrono::milliseconds limit) {
            const auto deadline = std::chrono::steady_clock::now() + limit;
            while (!flag) {
                if (cancelled())
                    return Waited::Cancelled;
                const auto now = std::chrono::steady_clock::now();
                if (now >= deadline)
                    return Waited::TimedOut;
                task->changed.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kCancelTick, deadline - now));
            }
            return Waited::Done;
        };
        Waited waited = waitFor(task->opened, kOpenWait);
        const bool opened = task->opened;
        if (waited == Waited::Done)
            waited = waitFor(task->done, kProbeDeadline);
        if (waited != Waited::Done) {
            // Its thread closes the port itself, if the open ever returns.
            task->abandoned = true;
            if (waited == Waited::Cancelled) {
                r.outcome = ScanResult::Outcome::Cancelled;
                return r;
            }
            r.attempts.push_back(PortAttempt{
                name, opened ? kTextProbeTimedOut.arg(kProbeDeadline.count()) : kTextOpenTimedOut.arg(kOpenWait.count()),
                false});
            continue;
        }
        r.attempts.push_back(task->attempt);
        if (task->answered) {
            r.outcome = ScanResult::Outcome::Found;
            r.portName = name;
            return r;
        }
    }
    r.outcome = names.isEmpty() ? ScanResult::Outcome::NoPorts : ScanResult::Outcome::NoAnswer;
    return r;
}

void openFoundPort(SerialLink& link, ScanResult& r)
{
    if (r.outcome != ScanResult::Outcome::Found)
        return;
    if (link.IsOpen())
        link.Close();
    configure(link);
    link.SetPortName(r.portName);
    link.Open();
    if (link.IsOpen()) {
        // Here, on the caller's thread: the system's port list is read through
        // the setup API, which under Wine leaves a scan thread's exit hanging.
        r.kind = portKind(r.portName);
        return;
    }
    // Taken by another program between the probe and now.
    if (!r.attempts.empty() && r.attempts.back().port == r.portName)
        r.attempts.back() = PortAttempt{r.portName, link.lastError(), link.lastOpenDenied()};
    r.outcome = ScanResult::Outcome::NoAnswer;
    r.portName.clear();
    r.kind.clear();
}

ScanResult scanForCalibrator(SerialLink& link, const ScanEvents& events)
{
    ScanResult r;
    try {
        if (link.IsOpen())
            link.Close();
        configure(link);
        const QStringList names = portsToScan();
        if (events.portList)
            events.portList(names);
        r = probePorts(names, events);
        openFoundPort(link, r);
        return r;
    } catch (const std::exception& e) {
        r.outcome = ScanResult::Outcome::Error;
        r.error = exceptionText(e);
    } catch (...) {
        r.outcome = ScanResult::Outcome::Error;
    }
    if (link.IsOpen())
        link.Close();
    return r;
}

ScanResult scanForCalibrator(SerialLink& link, const std::function<void(const QStringList&)>& onPortList)
{
    return scanForCalibrator(link, ScanEvents{onPortList, {}, {}});
}

// ---------------------------------------------------------------------------

PortScanner::PortScanner(QObject* parent) : QObject(parent) {}

PortScanner::~PortScanner() { stop(); }

void PortScanner::stop()
{
    if (cancelled_)
        cancelled_->store(true);
    // The scan looks at the flag every few milliseconds; a port still opening
    // is left to its own thread.
    if (thread_) {
        thread_->wait();
        delete thread_;
        thread_ = nullptr;
    }
    running_ = false;
}

void PortScanner::cancel() { stop(); }

void PortScanner::start(const QStringList& names)
{
    stop();
    auto flag = std::make_shared<std::atomic<bool>>(false);
    cancelled_ = flag;
    running_ = true;
    // What the scan's thread reports is delivered here, unless the scan was cancelled meanwhile.
    const auto current = [this, flag] { return !flag->load() && flag == cancelled_; };
    thread_ = QThread::create([this, flag, names, current] {
        ScanEvents events;
        events.trying = [this, current](const QString& port) {
            QMetaObject::invokeMethod(
                this, [this, current, port] {
                    if (current())
                        emit trying(port);
                },
                Qt::QueuedConnection);
        };
        events.cancelled = [flag] { return flag->load(); };
        ScanResult r;
        try {
            r = probePorts(names, events);
        } catch (const std::exception& e) {
            r.outcome = ScanResult::Outcome::Error;
            r.error = exceptionText(e);
        } catch (...) {
            r.outcome = ScanResult::Outcome::Error;
        }
        QMetaObject::invokeMethod(
            this, [this, current, r] {
                if (!current())
                    return;
                if (thread_) {
                    thread_->wait();
                    delete thread_;
                    thread_ = nullptr;
                }
                running_ = false;
                emit finished(r);
            },
            Qt::QueuedConnection);
    });
    thread_->start();
}

} // namespace sf6
