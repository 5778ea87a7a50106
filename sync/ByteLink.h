#pragma once
// What the sync needs of a serial link: the operations the exchange uses, in
// the link's own names. The serial port implements it; the sync never sees a port.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

namespace sf6 {

class ByteLink {
public:
    virtual ~ByteLink() = default;

    virtual bool IsOpen() const = 0;
    virtual void FlushInput() = 0;                      // quiet on a closed link
    virtual bool WriteBytes(const QByteArray& bytes) = 0;
    virtual int BytesAvailable() = 0;
    virtual QByteArray ReadAvailable() = 0;
    // Blocks for the whole duration while the receive queue keeps filling.
    virtual void CollectFor(std::chrono::milliseconds d) = 0;

    // The link went away (far end gone, port error); it is closed by then.
    virtual bool wasLost() const = 0;
    // Why, in Chinese; handed out once.
    virtual std::optional<QString> takeLostError() = 0;
};

} // namespace sf6
