#include "link/qserialbackend.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QSerialBackend::QSerialBackend(const QString& device, QObject* parent)
    : SerialBackend(parent), device_(device) {
    port_.setPortName(device);
    connect(&port_, &QSerialPort::readyRead, this, &SerialBackend::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QSerialBackend::onError);
    dsrPoll_.setInterval(50);
    connect(&dsrPoll_, &QTimer::timeout, this, &QSerialBackend::pollDsr);
}

QSerialBackend::~QSerialBackend() {
    close();
}

std::unique_ptr<SerialBackend> QSerialBackend::create(const QString& device) {
    return std::make_unique<QSerialBackend>(device);
}

// How QSerialPort's failures map to what the user is told:
//  - the device path does not exist, or QSerialPort says DeviceNotFound -> NotFound
//    ("the port is invalid or does not exist");
//  - on Unix, a device we may not read and write -> PermissionDenied, told in plain words
//    (the user must join the group that owns the device); checked before opening,
//    because QSerialPort reports both "no permission" and "locked by another program"
//    as PermissionError;
//  - PermissionError or OpenError after that check -> InUse (another program holds the
//    port: on Unix its lock file or exclusive mode, on Windows the exclusive handle);
//  - anything else -> Other, with QSerialPort's own description.
SerialBackend::Result QSerialBackend::open(const SerialSettings& settings) {
    lost_ = false;
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(device_);
    if (!QFileInfo::exists(device_))
        return {Failure::NotFound, QStringLiteral("%1: 设备不存在").arg(device_)};
    if (::access(path.constData(), R_OK | W_OK) != 0)
        return {Failure::PermissionDenied,
                QStringLiteral("没有权限读写串口设备 %1。请把当前用户加入该设备的用户组"
                               "(通常是 dialout)后重新登录,或修改设备权限。")
                    .arg(device_)};
#endif
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto error = port_.error();
        const QString text = port_.errorString();
        port_.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return {Failure::NotFound, text};
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            return {Failure::InUse, text};
        default:
            return {Failure::Other, text};
        }
    }
    const Result applied = applySettings(settings);
    if (!applied.ok()) {
        close();
        return applied;
    }
    pinoutSupported_ = true;
    pollDsr();
    if (pinoutSupported_)
        dsrPoll_.start();
    return {};
}

void QSerialBackend::close() {
    dsrPoll_.stop();
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

SerialBackend::Result QSerialBackend::applySettings(const SerialSettings& s) {
    if (!port_.setBaudRate(s.rate)) {
        const QString text = port_.errorString();
        const bool unsupported = port_.error() == QSerialPort::UnsupportedOperationError;
        port_.clearError();
        if (!unsupported)
            return {Failure::Other, text};
    }
    // Parity, data bits and stop bits are asked for; a driver that cannot do them (a
    // pseudo-terminal) keeps working with what it has.
    port_.setParity(s.parity);
    port_.setDataBits(s.dataBits);
    port_.setStopBits(s.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.clearError();
    return {};
}

bool QSerialBackend::write(const QByteArray& bytes) {
    if (!port_.isOpen())
        return false;
    return port_.write(bytes) == bytes.size();
}

QByteArray QSerialBackend::readAll() {
    if (!port_.isOpen())
        return {};
    return port_.readAll();
}

void QSerialBackend::setDtr(bool on) {
    if (!port_.isOpen())
        return;
    if (!port_.setDataTerminalReady(on))
        port_.clearError();
}

void QSerialBackend::pollDsr() {
    if (!port_.isOpen() || !pinoutSupported_)
        return;
    const QSerialPort::PinoutSignals pins = port_.pinoutSignals();
    if (port_.error() == QSerialPort::UnsupportedOperationError) {
        port_.clearError();
        pinoutSupported_ = false;
        dsrPoll_.stop();
        return;
    }
    const bool now = pins.testFlag(QSerialPort::DataSetReadySignal);
    if (now != dsr_) {
        dsr_ = now;
        emit dsrChanged(now);
    }
}

void QSerialBackend::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError: {
        // A vanished device raises these in a tight storm: close on the first one
        // and report the loss once.
        if (lost_ || !port_.isOpen())
            return;
        lost_ = true;
        const QString text = port_.errorString();
        close();
        emit lost(text);
        return;
    }
    default:
        return;
    }
}
