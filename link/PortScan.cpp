#include "link/PortScan.h"

#include "link/PortList.h"

#include <algorithm>
#include <exception>

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

ScanResult scanForCalibrator(SerialLink& link, const std::function<void(const QStringList&)>& onPortList)
{
    ScanResult r;
    auto refuse = [&](const QString& name, const QString& why, bool denied = false) {
        r.attempts.push_back(PortAttempt{name, why, denied});
        if (link.IsOpen())
            link.Close();
    };
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
            link.Open();
            if (!link.IsOpen()) {
                refuse(name, link.lastError(), link.lastOpenDenied());   // the next one may be ours
                continue;
            }
            link.WriteBytes(kHandshake);
            link.CollectFor(kProbeWait);
            const int waiting = link.BytesAvailable();
            if (waiting != kHandshake.size()) {
                refuse(name, waiting == 0 ? kNoAnswer : kWrongLength.arg(waiting));
                continue;
            }
            if (!link.ReadAvailable().startsWith(kHandshake)) {
                refuse(name, kWrongBytes);
                continue;
            }
            r.attempts.push_back(PortAttempt{name, {}, false});
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
    if (link.IsOpen())
        link.Close();
    return r;
}

} // namespace sf6
