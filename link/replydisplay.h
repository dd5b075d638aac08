#pragma once

#include <QByteArray>
#include <QString>

// A byte as two upper-case hex digits ("0A", "FF").
QString HexByte(quint8 b);
// Each byte as two hex digits and a colon ("41:D7:").
QString HexPairs(const QByteArray& bytes);
// Appends each byte as two hex digits and a colon to `out`.
void AppendHexPairs(QString& out, const QByteArray& bytes);
// Protects (read-only) or unprotects a stored file; true when it worked. Anything but a
// plain file (a folder, a link) is left alone and gives false.
bool SetStoredFileAttributes(const QString& path, bool protect);
// True for a regular file that is not a link.
bool IsPlainFile(const QString& path);
