#include "link/SerialLink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QRegularExpression>
#include <QThread>

#include <map>
#include <mutex>
#include <utility>

namespace sf6 {

namespace {
// Ports are opened on the scan's threads: what every open reads is guarded.
std::mutex& openSettingsMutex()
{
    static std::mutex m;
    return m;
}

std::map<QString, std::shared_ptr<ByteLink>>& inProcessPorts()
{
    static std::map<QString, std::shared_ptr<ByteLink>> ports;
    return ports;
}

std::function<void(const QString&)>& openHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

std::shared_ptr<ByteLink> inProcessPort(const QString& name)
{
    std::lock_guard lock(openSettingsMutex());
    const auto it = inProcessPorts().find(name);
    return it == inProcessPorts().end() ? nullptr : it->second;
}
} // namespace

void setInProcessPort(const QString& name, std::shared_ptr<ByteLink> farEnd)
{
    std::lock_guard lock(openSettingsMutex());
    if (farEnd)
        inProcessPorts()[name] = std::move(farEnd);
    else
        inProcessPorts().erase(name);
}

void setPortOpenHook(std::function<void(const QString& name)> hook)
{
    std::lock_guard lock(openSettingsMutex());
    openHook() = std::move(hook);
}

std::optional<PortSettings> PortSettings::parse(const QString& text)
{
    const QStringList f = text.split(QLatin1Char(','));
    if (f.size() != 4)
        return std::nullopt;
    PortSettings s;
    bool ok = false;
    s.baudRate = f[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return std::nullopt;
    const QString parity = f[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;
    const int data = f[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return std::nullopt;
    s.dataBits = QSerialPort::DataBits(data);
    const QString stop = f[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString portErrorText(QSerialPort::SerialPortError error, const QString& systemText)
{
    QString text;
    switch (error) {
    case QSerialPort::NoError: return {};
    case QSerialPort::DeviceNotFoundError: text = QStringLiteral("串口不存在"); break;
    case QSerialPort::PermissionError:
        // One code for both; the system's words tell a busy port from a forbidden one.
        if (systemText.contains(QLatin1String("denied"), Qt::CaseInsensitive))
            text = QStringLiteral("没有权限打开串口");
        else if (systemText.contains(QLatin1String("lock"), Qt::CaseInsensitive)
                 || systemText.contains(QLatin1String("busy"), Qt::CaseInsensitive))
            text = QStringLiteral("串口正被其他程序占用");
        else
            text = QStringLiteral("没有权限打开串口，或串口正被其他程序占用");
        break;
    case QSerialPort::OpenError: text = QStringLiteral("串口已被打开"); break;
    case QSerialPort::NotOpenError: text = QStringLiteral("串口未打开"); break;
    case QSerialPort::WriteError: text = QStringLiteral("向串口发送数据出错"); break;
    case QSerialPort::ReadError: text = QStringLiteral("从串口读取数据出错"); break;
    case QSerialPort::ResourceError: text = QStringLiteral("串口设备已不可用（设备被拔出或线缆断开）"); break;
    case QSerialPort::UnsupportedOperationError: text = QStringLiteral("不是串口设备，或不支持所需的通信参数"); break;
    case QSerialPort::TimeoutError: text = QStringLiteral("串口操作超时"); break;
    case QSerialPort::UnknownError: text = QStringLiteral("串口出错"); break;
    }
    // The system's words help whoever supports the user; they never stand alone.
    if (!systemText.isEmpty() && systemText != QLatin1String("Unknown error"))
        text += QStringLiteral("（%1）").arg(systemText);
    return text;
}

SerialLink::SerialLink(QObject* parent) : QObject(parent)
{
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::drain);
}

SerialLink::~SerialLink()
{
    if (port_.isOpen())
        port_.close();
}

bool SerialLink::IsOpen() const { return inProcess_ || port_.isOpen(); }

void SerialLink::Open()
{
    if (IsOpen())
        return;
    lastError_.clear();
    openDenied_ = false;
    lost_.reset();
    salvaged_.clear();
    std::function<void(const QString&)> hook;
    {
        std::lock_guard lock(openSettingsMutex());
        hook = openHook();
    }
    if (hook)
        hook(portName_);
    if (auto farEnd = inProcessPort(portName_)) {
        inProcess_ = std::move(farEnd);
        inProcess_->FlushInput();   // as a port: nothing from before the open
        return;
    }
    port_.setPortName(portName_);
    port_.setReadBufferSize(inputBufferSize_);
    if (!port_.open(QIODevice::ReadWrite)) {
        lastError_ = portErrorText(port_.error(), port_.errorString());
        // Busy ports report the same error code; only the system's words tell them apart.
        openDenied_ = port_.error() == QSerialPort::PermissionError
            && port_.errorString().contains(QLatin1String("denied"), Qt::CaseInsensitive);
        return;
    }
    if (!port_.setBaudRate(settings_.baudRate) || !port_.setParity(settings_.parity)
        || !port_.setDataBits(settings_.dataBits) || !port_.setStopBits(settings_.stopBits)) {
        lastError_ = portErrorText(port_.error(), port_.errorString());
        port_.close();
        return;
    }
    // Qt keeps whatever the driver held before we opened: that is not ours.
    port_.clear(QSerialPort::Input);
    // Wine's first overlapped wait never completes: the first read starts reception.
    port_.readAll();
}

void SerialLink::Close()
{
    inProcess_.reset();
    if (port_.isOpen())
        port_.close();
}

void SerialLink::SetPortName(const QString& name) { portName_ = name; }

int SerialLink::PortNumber() const
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(portName_);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

bool SerialLink::SetSettings(const QString& text)
{
    const auto s = PortSettings::parse(text);
    if (!s)
        return false;
    settings_ = *s;
    return true;
}

void SerialLink::SetInputBufferSize(int n)
{
    inputBufferSize_ = n;
    port_.setReadBufferSize(n);
}

void SerialLink::pull()
{
    // Qt counts only its own buffer; ask the system for what it holds.
    drain();
    if (port_.isOpen())
        port_.waitForReadyRead(0);
    drain();
}

void SerialLink::drain()
{
    // Under Wine Qt only reads on again when its buffer is read out (each
    // readAll() issues the next read); harmless on Windows and POSIX. A full
    // buffer is left full: the link stops taking bytes as the port would.
    if (port_.isOpen() && salvaged_.size() < inputBufferSize_)
        salvaged_ += port_.readAll();
}

int SerialLink::BytesAvailable()
{
    if (inProcess_)
        return int(salvaged_.size()) + inProcess_->BytesAvailable();
    pull();
    return int(salvaged_.size() + (port_.isOpen() ? port_.bytesAvailable() : 0));
}

void SerialLink::FlushInput()
{
    salvaged_.clear();
    if (inProcess_) {
        inProcess_->FlushInput();
        return;
    }
    if (!port_.isOpen())
        return;
    pull();
    salvaged_.clear();
    if (!port_.isOpen())
        return;
    port_.clear(QSerialPort::Input);
    port_.readAll();
}

bool SerialLink::WriteBytes(const QByteArray& bytes)
{
    if (inProcess_)
        return inProcess_->WriteBytes(bytes);
    if (!port_.isOpen())
        return false;
    if (port_.write(bytes) != bytes.size())
        return false;
    // Without this Qt sends nothing until the event loop runs.
    return port_.waitForBytesWritten(int(kWriteTimeout.count()));
}

QByteArray SerialLink::ReadAvailable()
{
    QByteArray out;
    if (inProcess_) {
        out = std::exchange(salvaged_, {}) + inProcess_->ReadAvailable();
    } else {
        pull();
        out = std::exchange(salvaged_, {});
        if (port_.isOpen())
            out += port_.readAll();
    }
    if (readLength_ > 0 && out.size() > readLength_) {
        salvaged_ = out.mid(readLength_);
        out.truncate(readLength_);
    }
    return out;
}

void SerialLink::CollectFor(std::chrono::milliseconds d)
{
    if (waitsRunEventLoop_ && QCoreApplication::instance()) {
        QEventLoop loop;
        QTimer::singleShot(d, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    if (inProcess_) {
        inProcess_->CollectFor(d);
        return;
    }
    constexpr qint64 kNapMs = 10;
    QDeadlineTimer deadline(d);
    while (!deadline.hasExpired()) {
        // Closed, or Qt's buffer full (it stops reading then): just let time pass.
        drain();
        if (!port_.isOpen() || salvaged_.size() + port_.bytesAvailable() >= inputBufferSize_) {
            QThread::msleep(std::min(kNapMs, deadline.remainingTime()));
            continue;
        }
        if (!port_.waitForReadyRead(int(deadline.remainingTime())) && !deadline.hasExpired())
            QThread::msleep(std::min(kNapMs, deadline.remainingTime()));   // an error: no busy loop
    }
}

std::optional<QString> SerialLink::takeLostError()
{
    auto e = lost_;
    lost_.reset();
    return e;
}

void SerialLink::onError(QSerialPort::SerialPortError e)
{
    // Timeouts and "no error" are reported here too; they are not failures.
    if (e != QSerialPort::ReadError && e != QSerialPort::ResourceError)
        return;
    if (!port_.isOpen() || lost_)
        return;   // Qt repeats a hang-up many times: report it once
    lost_ = portErrorText(e);
    // What arrived before the loss is still the caller's to read.
    salvaged_ += port_.readAll();
    port_.close();
    QMetaObject::invokeMethod(this, &SerialLink::linkLost, Qt::QueuedConnection);
}

} // namespace sf6
