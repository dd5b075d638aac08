#include "link/qserialbackend.h"

#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_WIN)
#include <windows.h>
#elif defined(Q_OS_UNIX)
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

QSerialBackend::QSerialBackend(const QString& device, QObject* parent)
    : SerialBackend(parent), device_(device) {
    port_.setPortName(device);
    connect(&port_, &QSerialPort::readyRead, this, &SerialBackend::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QSerialBackend::onError);
    dsrPoll_.setInterval(50);
    connect(&dsrPoll_, &QTimer::timeout, this, &QSerialBackend::pollDsr);
    drainPoll_.setInterval(5);
    connect(&drainPoll_, &QTimer::timeout, this, &QSerialBackend::checkDrained);
    connect(&port_, &QSerialPort::bytesWritten, this, &QSerialBackend::checkDrained);
    readPause_.setSingleShot(true);
    readPause_.setInterval(kReadPauseMs);
    connect(&readPause_, &QTimer::timeout, this, &QSerialBackend::resumeReading);
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
//  - on Unix, a path that is not a character device (a file, a folder) -> Other, naming
//    it as not a serial device;
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
    // A file or a folder mapped by mistake: the system would only say "Inappropriate
    // ioctl for device" or "Is a directory", without naming what was opened.
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        return {Failure::Other, QStringLiteral("%1 不是串口设备,确定后请重新设置").arg(device_)};
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
    readPause_.stop();
    resumeReading();
    readNotifier_ = nullptr;
    dsrPoll_.stop();
    drainPoll_.stop();
    drainPending_ = false;
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
    if (bytes.isEmpty())
        return true;
    // Marked before the write, so that a port that writes at once finds it set.
    const bool wasPending = drainPending_;
    drainPending_ = true;
    const qint64 taken = port_.write(bytes);
    if (taken <= 0)
        drainPending_ = wasPending;
    return taken == bytes.size();
}

qint64 QSerialBackend::bytesWaiting() const {
    if (!port_.isOpen())
        return 0;
    return port_.bytesToWrite() + driverQueued();
}

// The driver's output queue: bytes handed to the system that have not left the UART.
// On Windows a write still in progress may be counted by QSerialPort and the driver
// both for a moment; the sum still reaches 0 only when everything has gone.
qint64 QSerialBackend::driverQueued() const {
    if (!port_.isOpen())
        return 0;
#if defined(Q_OS_WIN)
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(port_.handle(), &errors, &status))
        return static_cast<qint64>(status.cbOutQue);
    return 0;
#elif defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int queued = 0;
    if (::ioctl(port_.handle(), TIOCOUTQ, &queued) == 0 && queued > 0)
        return queued;
    return 0;
#else
    return 0;
#endif
}

void QSerialBackend::discardOutput() {
    if (!port_.isOpen())
        return;
    // QSerialPort drops its own buffer and asks the driver to flush; the driver's queue
    // is flushed here as well, so that nothing already handed over still goes out.
    port_.clear(QSerialPort::Output);
#if defined(Q_OS_WIN)
    ::PurgeComm(port_.handle(), PURGE_TXABORT | PURGE_TXCLEAR);
#elif defined(Q_OS_UNIX)
    ::tcflush(port_.handle(), TCOFLUSH);
#endif
    port_.clearError();
    if (drainPending_)
        QMetaObject::invokeMethod(this, &QSerialBackend::checkDrained, Qt::QueuedConnection);
}

// Runs after QSerialPort has handed bytes to the driver, on the poll timer, and after a
// discard. The driver is polled only between "our buffer is empty" and "the driver's
// queue is empty".
void QSerialBackend::checkDrained() {
    if (!drainPending_ || !port_.isOpen()) {
        drainPoll_.stop();
        return;
    }
    if (port_.bytesToWrite() > 0) {
        drainPoll_.stop(); // the next bytesWritten comes back here
        return;
    }
    if (driverQueued() > 0) {
        if (!drainPoll_.isActive())
            drainPoll_.start();
        return;
    }
    drainPoll_.stop();
    drainPending_ = false;
    emit outputDrained();
}

QByteArray QSerialBackend::readAll() {
    if (!port_.isOpen())
        return {};
    // Reading lets QSerialPort switch its notification back on: during a pause it is
    // switched off again, and a small read starts a pause.
    // During a rest nothing reaches QSerialPort's buffer, and reading it would switch
    // the notification on only to be switched off again (each switch wakes the loop).
    if (readPause_.isActive() && port_.bytesAvailable() == 0)
        return {};
    QByteArray bytes = port_.readAll();
    // Bytes waiting the moment a rest ended, and no more than a small read: a steady
    // stream, which rests longer. A flood fills a read after every rest.
    const bool steady = resumed_.isValid() && resumed_.elapsed() <= kSteadyWithinMs;
    resumed_.invalidate();
    const bool resting = readPause_.isActive();
    // A flood read, and the small reads that catch up just after it, rest not at all:
    // resting there would only hold the flood back.
    if (bytes.size() >= kFloodRead)
        flooded_.start();
    const bool flooding = flooded_.isValid() && flooded_.elapsed() <= kReadPauseMs;
    if (!resting && (promptReads_ || flooding || bytes.isEmpty()))
        return bytes;
    if (!readNotifier_) {
        for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>())
            if (notifier->type() == QSocketNotifier::Read)
                readNotifier_ = notifier;
    }
    if (readNotifier_) {
        readNotifier_->setEnabled(false);
        if (!resting)
            readPause_.start(steady ? kSteadyPauseMs : kReadPauseMs);
    }
    return bytes;
}

void QSerialBackend::setPromptReads(bool on) {
    promptReads_ = on;
    if (on && readPause_.isActive()) {
        readPause_.stop();
        resumeReading();
    }
}

void QSerialBackend::resumeReading() {
    // Whatever came during the pause raises the notification at the next poll.
    if (readNotifier_ && port_.isOpen()) {
        readNotifier_->setEnabled(true);
        resumed_.start();
    }
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
        // A vanished device is a resource error whose text is the last system error of
        // any kind; a failed read or write has a text of its own.
        const QString text = error == QSerialPort::ResourceError ? QString() : port_.errorString();
        close();
        emit lost(text);
        return;
    }
    default:
        return;
    }
}
