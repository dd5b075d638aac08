#include "sim/hostline.h"
#include "sim/ttyline.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace t83sim {

HostLine::HostLine(QObject* parent) : QObject(parent) {}

HostLine::~HostLine() {
    close();
}

bool HostLine::open(const QString& path, QString* error) {
    close();
    QString message;
    m_fd = openRawTerminal(path, &message);
    if (m_fd < 0) {
        if (error)
            *error = message;
        return false;
    }
    m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HostLine::onReadable);
    return true;
}

void HostLine::close() {
    delete m_notifier;
    m_notifier = nullptr;
    closeDescriptor(&m_fd);
}

bool HostLine::write(const QByteArray& bytes) {
#ifdef Q_OS_UNIX
    if (m_fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
    } while (n < 0 && errno == EINTR);
    return n == bytes.size();
#else
    Q_UNUSED(bytes);
    return false;
#endif
}

QByteArray HostLine::received() const {
    QByteArray all;
    for (const QByteArray& chunk : m_reads)
        all += chunk;
    return all;
}

void HostLine::onReadable() {
#ifdef Q_OS_UNIX
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            const QByteArray chunk(buffer, n);
            m_reads.append(chunk);
            emit bytesArrived(chunk);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // The other end went away; stop watching a descriptor that would
        // report readable for ever.
        m_notifier->setEnabled(false);
        return;
    }
#endif
}

} // namespace t83sim
