#include "link/PortList.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

namespace sf6 {

namespace {
std::optional<QStringList>& override_()
{
    static std::optional<QStringList> names;
    return names;
}
constexpr int kFirstUsbComNumber = 3;
} // namespace

QStringList ListSerialPorts()
{
    if (override_())
        return *override_();
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

void setPortListOverride(std::optional<QStringList> names) { override_() = std::move(names); }

QString portKind(const QString& portName)
{
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if ((info.portName() == portName || info.systemLocation() == portName) && info.hasVendorIdentifier())
            return kKindUsb;
    }
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(portName);
    if (m.hasMatch() && m.captured(1).toLongLong() >= kFirstUsbComNumber)
        return kKindUsb;
    return kKindSerial;
}

} // namespace sf6
