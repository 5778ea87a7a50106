#pragma once
// The process's one serial port. Reception is polled: callers ask how many bytes
// wait and fetch them; nothing is pushed to them except the loss of the link.

#include "sync/ByteLink.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace sf6 {

using namespace std::chrono_literals;

constexpr int kReceiveCapacity = 10240;
constexpr std::chrono::milliseconds kWriteTimeout{1000};
inline constexpr char kLineSettings[] = "19200,n,8,1";

// Line settings as one value: "baud,parity,data,stop".
struct PortSettings {
    qint32 baudRate = 19200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<PortSettings> parse(const QString& text);
};

// Why a port failed, in Chinese; the system's own words follow in brackets
// where they add something.
QString portErrorText(QSerialPort::SerialPortError error, const QString& systemText = {});

// A calibrator served inside the process (the demo): a link opened on this
// name talks to farEnd, which answers as the instrument does, instead of a
// system port. A null farEnd takes the name back.
void setInProcessPort(const QString& name, std::shared_ptr<ByteLink> farEnd);

// Called with the port's name before every open, on the thread that opens:
// lets a test make a port as slow to open as a Bluetooth port on Windows.
// An empty hook removes it.
void setPortOpenHook(std::function<void(const QString& name)> hook);

class SerialLink : public QObject, public ByteLink {
    Q_OBJECT
public:
    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override;

    bool IsOpen() const override;
    void Open();    // a port that cannot be opened leaves the link closed (see lastError)
    void Close();

    // Ports are named as the system names them (COM7, /dev/ttyUSB0, a pty path).
    void SetPortName(const QString& name);
    QString PortName() const { return portName_; }
    // COMn -> n; any other name -> -1. Kept as the link's operation; the port
    // kind is told from the name (portKind), so nothing calls it.
    int PortNumber() const;

    bool SetSettings(const QString& text);   // false: text not understood, nothing changed
    void SetReadLength(int n) { readLength_ = n; }   // always 0: every waiting byte
    void SetInputBufferSize(int n);
    void SetBinaryInput() { binary_ = true; }

    int BytesAvailable() override;   // pulls what the system holds first; bytes received
                                     // before a loss stay readable after it
    void FlushInput() override;      // quiet on a closed link
    bool WriteBytes(const QByteArray& bytes) override;
    QByteArray ReadAvailable() override;

    // Blocks the caller for the whole duration while the receive queue keeps filling.
    void CollectFor(std::chrono::milliseconds d) override;
    // A program without an event loop of its own (the command line) lets Qt's
    // port notifiers run during the waits: on Unix a far end that hangs up is
    // only seen by them. The window keeps its waits blind, as designed.
    void setWaitsRunEventLoop(bool on) { waitsRunEventLoop_ = on; }

    // Why the last Open failed, in Chinese.
    QString lastError() const { return lastError_; }
    // The last Open failed because the user may not use the port (not because it is busy).
    bool lastOpenDenied() const { return openDenied_; }

    // The link was lost (far end gone, port error): it is closed by then, and the
    // reason, in Chinese, is handed out once.
    std::optional<QString> takeLostError() override;
    bool wasLost() const override { return lost_.has_value(); }

signals:
    void linkLost();   // queued: emitted once per loss, after the link has closed

private:
    void onError(QSerialPort::SerialPortError e);
    void pull();
    void drain();

    QSerialPort port_;
    std::shared_ptr<ByteLink> inProcess_;   // open on an in-process port
    QString portName_;
    PortSettings settings_;
    int readLength_ = 0;
    int inputBufferSize_ = kReceiveCapacity;
    bool binary_ = true;
    bool waitsRunEventLoop_ = false;
    QString lastError_;
    bool openDenied_ = false;
    std::optional<QString> lost_;
    QByteArray salvaged_;   // taken from the port (drained, or before the link was lost), not yet read
};

} // namespace sf6
