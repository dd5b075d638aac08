#pragma once

#include <QByteArray>
#include <QString>

// A byte as two upper-case hex digits ("0A", "FF").
QString HexByte(quint8 b);
// Each byte as two hex digits and a colon ("41:D7:").
QString HexPairs(const QByteArray& bytes);
// Appends each byte as two hex digits and a colon to `out`.
void AppendHexPairs(QString& out, const QByteArray& bytes);
// Two characters packed as one decimal byte: "22" -> 0x22, "7" -> 0x77, "" -> 0x00;
// anything that is not a decimal digit counts as 0.
quint8 PackDecimalPair(const QString& text);
// One hex digit: '0'..'9', 'A'..'F' (upper case only); anything else is 0.
quint8 HexDigitValue(QChar c);
