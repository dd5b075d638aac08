#include "link/replydisplay.h"

#include <QFile>
#include <QFileInfo>

bool SetStoredFileAttributes(const QString& path, bool protect) {
    // The only protection every platform offers is read-only: hidden and system exist
    // only on Windows.
    // Only a plain file of that name is ours to change: a folder or a link in its place
    // keeps its rights.
    if (!IsPlainFile(path))
        return false;
    QFile file(path);
    const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return file.setPermissions(
        protect ? readable : readable | QFileDevice::WriteOwner | QFileDevice::WriteUser);
}

bool IsPlainFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}
