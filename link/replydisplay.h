#pragma once

#include "protocol/hex.h"

#include <QIODevice>
#include <QString>

class QFile;

// Protects (read-only) or unprotects a stored file; true when it worked. Anything but a
// plain file (a folder, a link) is left alone and gives false.
bool SetStoredFileAttributes(const QString& path, bool protect);
// True for a regular file that is not a link.
bool IsPlainFile(const QString& path);
// True when anything has the name: a file, a folder, a pipe, a device or a link, a link
// that leads nowhere included.
bool StoredNameTaken(const QString& path);

enum class StoredOpen { Opened, NotPlain, Failed };
// Opens a file the program keeps in the working directory (portstate.dat), but only a
// regular file of that name: a link is never followed (nor, when writing, its target
// created), and a pipe or device is never waited on. Writing creates a missing file.
// NotPlain when something else has the name; Failed with the system's reason otherwise.
StoredOpen OpenStoredFile(QFile& file, QIODevice::OpenMode mode, QString* error = nullptr);
