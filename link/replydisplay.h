#pragma once

#include <QByteArray>
#include <QString>

class AppContext;

// A byte as two upper-case hex digits ("0A", "FF").
QString HexByte(quint8 b);
// Each byte as two hex digits and a colon ("41:D7:").
QString HexPairs(const QByteArray& bytes);
// Logs a completed reply (prefix, then the bytes) in the command window when it logs,
// and returns the parser to idle in every case.
void LogReplyBytes(AppContext& ctx, const QByteArray& bytes);
// Logs a fixed text (a two-byte reply) in the command window when it logs.
void LogReplyText(AppContext& ctx, const QString& text);
// Prepares the prompt window for one of its uses and shows it (not modal):
// 1 read running, 2 read finished, 3 repeat-send progress, 4 module not working.
void ShowPrompt(AppContext& ctx, qint16 mode);
// Protects (read-only) or unprotects a stored file; true when it worked.
bool SetStoredFileAttributes(const QString& path, bool protect);
