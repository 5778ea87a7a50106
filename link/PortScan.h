#pragma once
// Finding the calibrator: every port in turn gets the probe, and the first one
// that echoes it exactly, within the wait, is the instrument. A port that is
// refused is closed again at once: an open port is exclusive on Windows.

#include "link/SerialLink.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <functional>
#include <vector>

namespace sf6 {

inline const QByteArray kHandshake = QByteArray::fromHex("5A011010A5");
constexpr std::chrono::milliseconds kProbeWait{500};

// What the scan says, in the window and on the command line alike.
inline const QString kTextConnected = QStringLiteral("联机成功");
inline const QString kTextConnectFailedPanel = QStringLiteral("联机失败");
inline const QString kTextConnectFailed = QStringLiteral("联机失败！");
inline const QString kTextNoPorts = QStringLiteral("没有可用的串口资源！");
inline const QString kTextPortKindPrefix = QStringLiteral("通信端口：");

struct PortAttempt {
    QString port;
    QString reason;       // why it was refused, in Chinese; empty for the port that answered
    bool denied = false;  // the user may not open the port
};

struct ScanResult {
    enum class Outcome { Found, NoAnswer, NoPorts, Error };
    Outcome outcome = Outcome::NoAnswer;
    QString portName;     // Found: the answering port, left open
    QString kind;         // Found: "USB" or "串口"
    QString error;        // Error: what went wrong
    std::vector<PortAttempt> attempts;   // every port tried, in order

    QStringList triedNames() const;
    // One line a refused port, "NAME：reason", and a hint where permission was denied.
    QString refusalDetails() const;
};

// Configures the link, lists and sorts the ports (the sorted list goes to
// onPortList), probes each. The link is closed first if open; after any
// outcome but Found it is closed.
ScanResult scanForCalibrator(SerialLink& link,
                             const std::function<void(const QStringList&)>& onPortList = {});

} // namespace sf6
