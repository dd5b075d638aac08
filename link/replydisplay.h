#pragma once

#include "protocol/hex.h"

#include <QString>

// Protects (read-only) or unprotects a stored file; true when it worked. Anything but a
// plain file (a folder, a link) is left alone and gives false.
bool SetStoredFileAttributes(const QString& path, bool protect);
// True for a regular file that is not a link.
bool IsPlainFile(const QString& path);
