#include "tests/support/pty.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

Pty::Pty() {
#ifdef Q_OS_UNIX
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
        closeMaster();
        return;
    }
    slave_ = QString::fromLocal8Bit(::ptsname(fd_));
    // Holding the slave open keeps the master from reporting a hang-up before and
    // between the program's openings; raw mode lets every byte pass unchanged.
    heldSlave_ = ::open(::ptsname(fd_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (heldSlave_ >= 0 && ::tcgetattr(heldSlave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(heldSlave_, TCSANOW, &tio);
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Pty::readMaster);
#endif
}

Pty::~Pty() {
    closeMaster();
}

void Pty::write(const QByteArray& bytes) {
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        (void)!::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size()));
#endif
}

QByteArray Pty::take() {
    QByteArray out;
    out.swap(received_);
    return out;
}

void Pty::closeMaster() {
#ifdef Q_OS_UNIX
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    if (heldSlave_ >= 0)
        ::close(heldSlave_);
    fd_ = -1;
    heldSlave_ = -1;
#endif
}

void Pty::readMaster() {
#ifdef Q_OS_UNIX
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            // EIO while no slave is open: nothing to read; stop busy notifications
            // until something is written again.
            break;
        }
        received_.append(buffer, n);
    }
    emit bytesArrived();
#endif
}
