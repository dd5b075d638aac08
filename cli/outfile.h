#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `path`: a regular file (or a new one) is replaced whole, never left
// half-written; a device or a pipe already there (/dev/stdout) is written into in place,
// not renamed over. False with `error` saying why.
bool WriteOutFile(const QString& path, const QByteArray& bytes, QString* error);
