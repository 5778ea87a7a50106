#pragma once
// Which serial ports the system has, and what kind each is.

#include <QString>
#include <QStringList>

#include <optional>

namespace sf6 {

// The system's port names, or the names given on the command line instead
// (a pseudo-terminal is never listed by the system).
QStringList ListSerialPorts();
void setPortListOverride(std::optional<QStringList> names);

inline const QString kKindUsb = QStringLiteral("USB");
inline const QString kKindSerial = QStringLiteral("串口");

// "USB" when the system reports a USB device behind the name; otherwise COMn
// with n >= 3 counts as USB (adapters get the higher numbers); else "串口".
QString portKind(const QString& portName);

} // namespace sf6
