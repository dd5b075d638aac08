#include "sim/station.h"
#include "sim/ttyline.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace t83sim {

namespace {
// Output the host does not read piles up in the line; past this much the
// oldest unsent bytes are dropped rather than growing without bound.
constexpr qsizetype kMaxBacklog = 1 << 20;
} // namespace

Station::Station(const SimOptions& options, QObject* parent)
    : QObject(parent), m_protocol(options) {
    m_clock.start();
    m_queueTimer.setSingleShot(true);
    // Reply delays are part of what a test asks for; keep them exact.
    m_queueTimer.setTimerType(Qt::PreciseTimer);
    m_frameTimer.setSingleShot(true);
    m_transferTimer.setSingleShot(true);
    connect(&m_queueTimer, &QTimer::timeout, this, &Station::pump);
    connect(&m_frameTimer, &QTimer::timeout, this, &Station::giveUpFrame);
    connect(&m_transferTimer, &QTimer::timeout, this, [this] { m_protocol.endTransfer(); });
    m_impairTimer.setSingleShot(true);
    connect(&m_impairTimer, &QTimer::timeout, this, [this] {
        if (m_impairer) {
            const QByteArray held = m_impairer->flush();
            if (!held.isEmpty())
                emit radioSent(held);
        }
    });
}

void Station::setImpairer(std::unique_ptr<Impairer> impairer) {
    m_impairer = std::move(impairer);
}

Station::~Station() {
    unlink();
    close();
}

bool Station::openPty(QString* error) {
    QString message;
    PtyHandles handles;
    if (!t83sim::openPty(&handles, &message)) {
        if (error)
            *error = message;
        return false;
    }
    close();
    m_keeperFd = handles.keeperFd;
    return adopt(handles.masterFd, handles.slavePath);
}

bool Station::openDevice(const QString& path, int baud, QString* error) {
    QString message;
    int fd = -1;
    if (!openSerialDevice(path, baud, &fd, &message)) {
        if (error)
            *error = message;
        return false;
    }
    close();
    return adopt(fd, path);
}

bool Station::adopt(int fd, const QString& path) {
    m_fd = fd;
    m_path = path;
    m_readNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &Station::onReadable);
    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &Station::flushWrites);
    return true;
}

void Station::close() {
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    closeDescriptor(&m_fd);
    closeDescriptor(&m_keeperFd);
    m_path.clear();
    m_writeBuffer.clear();
    m_queue.clear();
    m_queueTimer.stop();
    m_frameTimer.stop();
    m_transferTimer.stop();
}

void Station::link(Station* a, Station* b) {
    a->unlink();
    b->unlink();
    a->m_peer = b;
    b->m_peer = a;
    connect(a, &Station::radioSent, b, &Station::receiveRadio);
    connect(b, &Station::radioSent, a, &Station::receiveRadio);
}

void Station::unlink() {
    if (!m_peer)
        return;
    Station* other = m_peer;
    disconnect(this, &Station::radioSent, other, &Station::receiveRadio);
    disconnect(other, &Station::radioSent, this, &Station::receiveRadio);
    other->m_peer = nullptr;
    m_peer = nullptr;
}

void Station::receiveRadio(const QByteArray& data) {
    enqueue(data, 0, false);
}

void Station::onReadable() {
#ifdef Q_OS_UNIX
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            handle(m_protocol.feed(QByteArrayView(buffer, n)));
            if (m_fd < 0)
                return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // End of file or a hard error: the line is gone. Stop watching it
        // so a hung-up descriptor does not wake the loop for ever.
        m_readNotifier->setEnabled(false);
        emit lineError(n == 0 ? QStringLiteral("line closed")
                              : QString::fromLocal8Bit(std::strerror(errno)));
        break;
    }
#endif
    restartTimers();
}

// Both time-outs count from the last bytes read: a frame or header is given
// up when its bytes stop coming, a file transfer when its data does.
void Station::restartTimers() {
    const SimOptions& options = m_protocol.options();
    if (m_protocol.hasIncompleteFrame() && options.frameTimeoutMs > 0)
        m_frameTimer.start(options.frameTimeoutMs);
    else
        m_frameTimer.stop();
    if (m_protocol.transferInProgress() && options.transferTimeoutMs > 0)
        m_transferTimer.start(options.transferTimeoutMs);
    else
        m_transferTimer.stop();
}

void Station::giveUpFrame() {
    handle(m_protocol.flushIncomplete());
}

void Station::handle(const FeedResult& result) {
    for (const ReceivedFrame& frame : result.frames)
        emit frameReceived(frame);
    const SimOptions& options = m_protocol.options();
    for (const QByteArray& reply : result.replies) {
        emit replyQueued(reply);
        enqueue(reply, options.replyDelayMs, options.splitReplies);
    }
    if (!result.radioData.isEmpty())
        sendRadio(result.radioData);
}

void Station::sendRadio(const QByteArray& data) {
    if (!m_impairer) {
        emit radioSent(data);
        return;
    }
    const QByteArray out = m_impairer->pass(data);
    // A packet's bytes come at the sender's pace; one whose rest does not come
    // within the frame time-out goes as it is.
    if (m_impairer->holding())
        m_impairTimer.start(qMax(1, m_protocol.options().frameTimeoutMs));
    else
        m_impairTimer.stop();
    if (!out.isEmpty())
        emit radioSent(out);
}

void Station::enqueue(const QByteArray& bytes, qint64 delayMs, bool split) {
    if (bytes.isEmpty())
        return;
    m_queue.push_back(Pending{m_clock.elapsed() + delayMs, bytes, split});
    pump();
}

// Writes out the queue in order. An entry waits until it is due, and later
// entries wait behind it, so the line carries replies and radio data in the
// order the module produced them, never interleaved.
void Station::pump() {
    while (!m_queue.empty()) {
        Pending& head = m_queue.front();
        const qint64 now = m_clock.elapsed();
        if (head.dueMs > now) {
            m_queueTimer.start(int(head.dueMs - now));
            return;
        }
        if (head.split && head.bytes.size() > 1) {
            writeOut(head.bytes.left(1));
            head.bytes.remove(0, 1);
            head.dueMs = now + m_protocol.options().splitGapMs;
            continue;
        }
        writeOut(head.bytes);
        m_queue.pop_front();
    }
}

void Station::writeOut(const QByteArray& bytes) {
    if (m_fd < 0)
        return;
    m_writeBuffer.append(bytes);
    if (m_writeBuffer.size() > kMaxBacklog)
        m_writeBuffer.remove(0, m_writeBuffer.size() - kMaxBacklog);
    flushWrites();
}

void Station::flushWrites() {
#ifdef Q_OS_UNIX
    while (!m_writeBuffer.isEmpty()) {
        const ssize_t n = ::write(m_fd, m_writeBuffer.constData(), size_t(m_writeBuffer.size()));
        if (n > 0) {
            m_writeBuffer.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // The line refuses output for good; what is left cannot be sent.
            m_writeBuffer.clear();
            emit lineError(QString::fromLocal8Bit(std::strerror(errno)));
        }
        break;
    }
#endif
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_writeBuffer.isEmpty());
}

} // namespace t83sim
