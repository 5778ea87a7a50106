#include "link/PortScan.h"

#include "link/PortList.h"

#include <algorithm>
#include <exception>

namespace sf6 {

ScanResult scanForCalibrator(SerialLink& link, const std::function<void(const QStringList&)>& onPortList)
{
    ScanResult r;
    try {
        if (link.IsOpen())
            link.Close();
        link.SetSettings(QString::fromLatin1(kLineSettings));
        link.SetReadLength(0);
        link.SetInputBufferSize(kReceiveCapacity);
        link.SetBinaryInput();

        QStringList names = ListSerialPorts();
        // Plain text order, so COM10 comes before COM2.
        std::sort(names.begin(), names.end());
        if (onPortList)
            onPortList(names);
        if (names.isEmpty()) {
            r.outcome = ScanResult::Outcome::NoPorts;
            return r;
        }

        for (const QString& name : names) {
            link.SetPortName(name);
            if (link.IsOpen())
                link.Close();
            link.Open();
            if (!link.IsOpen())
                continue;   // no such port, or busy: the next one may be ours
            r.tried << name;
            link.WriteBytes(kHandshake);
            link.CollectFor(kProbeWait);
            if (link.BytesAvailable() != kHandshake.size()) {
                link.Close();
                continue;
            }
            if (link.BytesAvailable() != kHandshake.size())
                continue;
            const QByteArray answer = link.ReadAvailable();
            if (!answer.startsWith(kHandshake))
                continue;
            r.outcome = ScanResult::Outcome::Found;
            r.portName = name;
            r.kind = portKind(name);
            return r;
        }
        r.outcome = ScanResult::Outcome::NoAnswer;
    } catch (const std::exception& e) {
        r.outcome = ScanResult::Outcome::Error;
        r.error = QString::fromLocal8Bit(e.what());
    } catch (...) {
        r.outcome = ScanResult::Outcome::Error;
    }
    return r;
}

} // namespace sf6
