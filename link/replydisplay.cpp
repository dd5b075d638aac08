#include "link/replydisplay.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// Opens the name itself, never what a link in its place leads to, and never waits for
// the other end of a pipe. -1 with errno set when it cannot; `notPlain` is set when the
// name belongs to something other than a regular file (a link, a folder, a pipe).
int openPlainFile(const QString& path, int flags, bool* notPlain) {
    *notPlain = false;
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd < 0) {
        const int cause = errno;
        *notPlain = ::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode);
        errno = cause;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *notPlain = true;
        return -1;
    }
    return fd;
}
#endif

} // namespace

bool SetStoredFileAttributes(const QString& path, bool protect) {
    // The only protection every platform offers is read-only: hidden and system exist
    // only on Windows.
    // Only a plain file of that name is ours to change: a folder or a link in its place
    // keeps its rights.
    if (!IsPlainFile(path))
        return false;
#ifdef Q_OS_UNIX
    // Changed through the file itself, so a link put in its place meanwhile is not
    // followed.
    bool notPlain = false;
    const int fd = openPlainFile(path, O_RDONLY, &notPlain);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        const mode_t mode =
            protect ? (st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
        ok = ::fchmod(fd, mode & 07777) == 0;
    }
    ::close(fd);
    return ok;
#else
    QFile file(path);
    const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return file.setPermissions(
        protect ? readable : readable | QFileDevice::WriteOwner | QFileDevice::WriteUser);
#endif
}

bool IsPlainFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

bool StoredNameTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

StoredOpen OpenStoredFile(QFile& file, QIODevice::OpenMode mode, QString* error) {
    const auto failed = [error](const QString& reason) {
        if (error)
            *error = reason;
        return StoredOpen::Failed;
    };
#ifdef Q_OS_UNIX
    const bool writing = mode & QIODevice::WriteOnly;
    const int flags =
        writing ? ((mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY) | O_CREAT : O_RDONLY;
    bool notPlain = false;
    const int fd = openPlainFile(file.fileName(), flags, &notPlain);
    if (fd < 0)
        return notPlain ? StoredOpen::NotPlain : failed(qt_error_string(errno));
    // Emptied only now that it is known to be a regular file.
    if ((mode & QIODevice::Truncate) && ::ftruncate(fd, 0) != 0) {
        const int cause = errno;
        ::close(fd);
        return failed(qt_error_string(cause));
    }
    if (!file.open(fd, mode & ~QIODevice::Truncate, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(file.errorString());
    }
    return StoredOpen::Opened;
#else
    if (StoredNameTaken(file.fileName()) && !IsPlainFile(file.fileName()))
        return StoredOpen::NotPlain;
    if (!file.open(mode))
        return failed(file.errorString());
    return StoredOpen::Opened;
#endif
}
