#pragma once

// Opening the terminal devices a station talks through. Everything here is
// POSIX; on other systems each call fails with an explanatory message.

#include <QString>

namespace t83sim {

// A fresh pseudo-terminal. The station reads and writes the master side; the
// host opens slavePath. keeperFd is the station's own descriptor on the
// slave: while it stays open the master never sees a hang-up when the host
// closes its port, and it fixes the slave in raw mode for every opener.
struct PtyHandles {
    int masterFd = -1;
    int keeperFd = -1;
    QString slavePath;
};

bool openPty(PtyHandles* handles, QString* error);

// Opens a serial device in raw 8N1 mode at the given rate, non-blocking.
bool openSerialDevice(const QString& path, int baud, int* fd, QString* error);

// Opens a terminal device (such as a pty slave) for reading and writing,
// non-blocking, and switches it to raw mode so bytes pass unchanged.
int openRawTerminal(const QString& path, QString* error);

bool isSupportedBaudRate(int baud);

void closeDescriptor(int* fd);

} // namespace t83sim
