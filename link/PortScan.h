#pragma once
// Finding the calibrator: every port in turn gets the probe, and the first one
// that echoes it exactly, within the wait, is the instrument.

#include "link/SerialLink.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <functional>

namespace sf6 {

inline const QByteArray kHandshake = QByteArray::fromHex("5A011010A5");
constexpr std::chrono::milliseconds kProbeWait{500};

struct ScanResult {
    enum class Outcome { Found, NoAnswer, NoPorts, Error };
    Outcome outcome = Outcome::NoAnswer;
    QString portName;     // Found: the answering port, left open
    QString kind;         // Found: "USB" or "串口"
    QString error;        // Error: what went wrong
    QStringList tried;    // ports probed, in order
};

// Configures the link, lists and sorts the ports (the sorted list goes to
// onPortList), probes each. The link is closed first if open.
ScanResult scanForCalibrator(SerialLink& link,
                             const std::function<void(const QStringList&)>& onPortList = {});

} // namespace sf6
