#pragma once

#include <QByteArray>
#include <QString>

class QPlainTextEdit;

// Key filter for hex-pair entry ("D7:FF:"): digits are appended at the end of the box
// (a-f as A-F) with a colon after every complete pair; other printable keys are
// discarded. Returns the key to let through to the box, or 0.
int FilterHexPairKey(int key, QPlainTextEdit* box);
// "D7:FF:" -> D7 FF: one byte per three characters of the text, a last pair without
// its colon being dropped.
QByteArray HexTextToBytes(const QString& text);
