#pragma once

// Builders of every frame the host sends to the module. Each returns the whole frame,
// start byte and code included.

#include <QByteArray>
#include <QString>
#include <array>

namespace t83 {

QByteArray ProbeFrame();    // D7 FE: is a module there?
QByteArray CrcQueryFrame(); // D7 E6
// Read request of a step of the read cycle, 1..11 (empty for any other step).
QByteArray ReadRequestFrame(int step);
// The code a read step asks for, which is also the code of its reply (0 outside 1..11).
quint8 ReadRequestCode(int step);
constexpr int kReadSteps = 11;
QByteArray PortQueryFrame(int port); // D7 D8 p

// D7 FF and both frequencies, six decimal digits each, packed two digits a byte.
QByteArray FrequencyWriteFrame(const QString& tx, const QString& rx);
// A channel's stored frequencies, already packed (six bytes: transmit, then receive).
QByteArray ChannelFrame(const std::array<quint8, 6>& packed);
// Own address (F5), destination address (E1), retry count (E7) or invitation group (A1):
// the code and the hex digits, two a byte.
QByteArray HexSettingWriteFrame(quint8 code, const QString& hexDigits);
// Power saving (D1), temperature compensation (D4) or voice mode (B6): FF for on.
QByteArray ModeWriteFrame(quint8 code, bool on);
QByteArray SquelchWriteFrame(bool digital); // A8 FF / 00
QByteArray DataBitsWriteFrame(bool nine);   // AB 01 / 00
// A switch port's direction/answer byte and mode byte.
QByteArray PortWriteFrame(int port, quint8 directionAnswer, quint8 mode);
QByteArray TestCodeFrame(bool start); // F9 start, F8 stop the 1010 test code
QByteArray AmplifierFrame(bool on);   // E4 on, E5 off

// The header of a file sent over the radio: D7, the name's length, the name (ANSI bytes,
// 1..255 of them), "*", the length in four bytes, most significant first.
QByteArray FileHeaderFrame(const QByteArray& nameBytes, quint32 length);
QByteArray EncodeFileLength(quint32 length);

} // namespace t83
