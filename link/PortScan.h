#pragma once
// Finding the calibrator: every port in turn gets the probe, and the first one
// that echoes it exactly, within the wait, is the instrument. A port that is
// refused is closed again at once: an open port is exclusive on Windows.
// Each port is opened and probed on a thread of its own, and the scan waits
// for it a bounded time: a port whose open blocks (a Bluetooth port on
// Windows, Wine's COM1 on a PC without one) is passed over, not waited out.

#include "link/SerialLink.h"

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace sf6 {

inline const QByteArray kHandshake = QByteArray::fromHex("5A011010A5");
constexpr std::chrono::milliseconds kProbeWait{500};
// A port gets twice the probe's wait to open; an ordinary one opens in a few
// milliseconds, a blocking one would hold the scan for seconds or minutes.
constexpr std::chrono::milliseconds kOpenWait = 2 * kProbeWait;
// After the open: the probe's write may take its whole timeout, then the wait.
constexpr std::chrono::milliseconds kProbeDeadline = kWriteTimeout + kProbeWait + kProbeWait;

// What the scan says, in the window and on the command line alike.
inline const QString kTextConnected = QStringLiteral("联机成功");
inline const QString kTextConnectFailedPanel = QStringLiteral("联机失败");
inline const QString kTextConnectFailed = QStringLiteral("联机失败！");
inline const QString kTextNoPorts = QStringLiteral("没有可用的串口资源！");
inline const QString kTextPortKindPrefix = QStringLiteral("通信端口：");
inline const QString kTextTryingPort = QStringLiteral("正在试探 %1");
inline const QString kTextOpenTimedOut = QStringLiteral("打开串口超时（%1毫秒内没有完成），已跳过");
inline const QString kTextProbeTimedOut = QStringLiteral("试探超时（%1毫秒内没有完成），已跳过");

struct PortAttempt {
    QString port;
    QString reason;       // why it was refused, in Chinese; empty for the port that answered
    bool denied = false;  // the user may not open the port
};

struct ScanResult {
    enum class Outcome { Found, NoAnswer, NoPorts, Error, Cancelled };
    Outcome outcome = Outcome::NoAnswer;
    QString portName;     // Found: the answering port
    QString kind;         // Found, once openFoundPort has opened it: "USB" or "串口"
    QString error;        // Error: what went wrong
    std::vector<PortAttempt> attempts;   // every port tried, in order

    QStringList triedNames() const;
    // One line a refused port, "NAME：reason", and a hint where permission was denied.
    QString refusalDetails() const;
};

// What a caller hears of a scan while it runs; every member may be empty.
struct ScanEvents {
    std::function<void(const QStringList&)> portList;   // the sorted list, before any port is tried
    std::function<void(const QString&)> trying;          // a port about to be opened
    std::function<bool()> cancelled;                     // asked while waiting: true ends the scan
};

// The system's ports as the scan tries them: sorted as text, so COM10 comes before COM2.
QStringList portsToScan();

// Probes the named ports in order until one answers. No port is left open:
// the caller opens its own link on the port found (openFoundPort).
ScanResult probePorts(const QStringList& names, const ScanEvents& events = {});

// Waits up to limit for the probes still opening a port and frees every probe
// thread that has ended; returns how many still block. Called at the
// program's end, so no thread outlives the objects it uses.
int finishProbeThreads(std::chrono::milliseconds limit);

// Opens the link on the port the scan found, with the line settings. A port
// that will not open again turns the result into NoAnswer, saying why.
void openFoundPort(SerialLink& link, ScanResult& r);

// Closes the link if open, lists and sorts the ports (the sorted list goes to
// events.portList), probes each. On Found the link is left open on the port;
// after any other outcome it is closed.
ScanResult scanForCalibrator(SerialLink& link, const ScanEvents& events);
ScanResult scanForCalibrator(SerialLink& link,
                             const std::function<void(const QStringList&)>& onPortList = {});

// The scan for a window: probePorts on a thread of its own, so the event loop
// turns while ports open and probes wait. Signals arrive on the scanner's thread.
class PortScanner : public QObject {
    Q_OBJECT
public:
    explicit PortScanner(QObject* parent = nullptr);
    ~PortScanner() override;   // cancels and waits the few milliseconds the scan needs to stop

    void start(const QStringList& names);   // a scan still running is cancelled first
    void cancel();                          // the scan stops soon; it reports nothing more
    bool running() const { return running_; }

signals:
    void trying(const QString& port);
    void finished(const sf6::ScanResult& result);

private:
    void stop();

    QThread* thread_ = nullptr;   // a QThread: Qt keeps its thread data, which an adopted std::thread loses under Windows
    std::shared_ptr<std::atomic<bool>> cancelled_;
    bool running_ = false;
};

} // namespace sf6
