#include "sim/ttyline.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace t83sim {

#ifdef Q_OS_UNIX

namespace {

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

speed_t speedFor(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

bool makeRaw(int fd, speed_t speed, QString* error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        *error = systemError("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != B0)
        cfsetspeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }
    return true;
}

} // namespace

bool openPty(PtyHandles* handles, QString* error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = systemError("grantpt/unlockpt");
        ::close(master);
        return false;
    }
    const char* name = ptsname(master);
    if (!name) {
        *error = systemError("ptsname");
        ::close(master);
        return false;
    }
    const QString path = QString::fromLocal8Bit(name);
    const int keeper = openRawTerminal(path, error);
    if (keeper < 0) {
        ::close(master);
        return false;
    }
    handles->masterFd = master;
    handles->keeperFd = keeper;
    handles->slavePath = path;
    return true;
}

bool openSerialDevice(const QString& path, int baud, int* fd, QString* error) {
    const speed_t speed = speedFor(baud);
    if (speed == B0) {
        *error = QStringLiteral("unsupported baud rate %1").arg(baud);
        return false;
    }
    const int handle =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        *error = systemError("open");
        return false;
    }
    if (!makeRaw(handle, speed, error)) {
        ::close(handle);
        return false;
    }
    *fd = handle;
    return true;
}

int openRawTerminal(const QString& path, QString* error) {
    const int handle =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        *error = systemError("open");
        return -1;
    }
    if (!makeRaw(handle, B0, error)) {
        ::close(handle);
        return -1;
    }
    return handle;
}

bool isSupportedBaudRate(int baud) {
    return speedFor(baud) != B0;
}

void closeDescriptor(int* fd) {
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

#else

namespace {
QString unavailable() {
    return QStringLiteral("terminal devices are only supported on Unix-like systems");
}
} // namespace

bool openPty(PtyHandles*, QString* error) {
    *error = unavailable();
    return false;
}

bool openSerialDevice(const QString&, int, int*, QString* error) {
    *error = unavailable();
    return false;
}

int openRawTerminal(const QString&, QString* error) {
    *error = unavailable();
    return -1;
}

bool isSupportedBaudRate(int) {
    return false;
}

void closeDescriptor(int* fd) {
    *fd = -1;
}

#endif

} // namespace t83sim
