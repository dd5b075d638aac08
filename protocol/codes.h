#pragma once

// The module link's vocabulary. Every frame in either direction is the start byte D7,
// one operation code and a payload whose length the code alone fixes; there is no length
// byte, checksum or terminator. A reply carries the code of the request it answers.

#include <QString>
#include <QtGlobal>

namespace t83 {

constexpr quint8 kFrameStart = 0xD7;

// Value byte that turns the data-bits and squelch frames into read requests.
constexpr quint8 kReadMarker = 0xAA;

// The switch ports PB1..PB8, numbered 0..7 on the wire.
constexpr int kPortCount = 8;

// Operation codes the host sends to the module.
namespace cmd {
constexpr quint8 Probe = 0xFE;
constexpr quint8 CrcQuery = 0xE6;
constexpr quint8 ReadFrequencies = 0xEF;
constexpr quint8 ReadOwnAddress = 0xF4;
constexpr quint8 ReadDestAddress = 0xE3;
constexpr quint8 ReadRetryCount = 0xE8;
constexpr quint8 ReadInviteGroup = 0xA2;
constexpr quint8 ReadVersion = 0xEC;
constexpr quint8 ReadPowerSaving = 0xD2;
constexpr quint8 ReadTempCompensation = 0xD5;
constexpr quint8 ReadVoiceMode = 0xB7;
constexpr quint8 DataBits = 0xAB; // value AA reads, anything else writes
constexpr quint8 Squelch = 0xA8;  // value AA reads, anything else writes
constexpr quint8 PortQuery = 0xD8;
constexpr quint8 SetFrequencies = 0xFF;
constexpr quint8 SetOwnAddress = 0xF5;
constexpr quint8 SetDestAddress = 0xE1;
constexpr quint8 SetRetryCount = 0xE7;
constexpr quint8 SetInviteGroup = 0xA1;
constexpr quint8 SetPowerSaving = 0xD1;
constexpr quint8 SetTempCompensation = 0xD4;
constexpr quint8 SetVoiceMode = 0xB6;
constexpr quint8 SetPortConfig = 0xD6;
constexpr quint8 StartTestCode = 0xF9;
constexpr quint8 StopTestCode = 0xF8;
constexpr quint8 AmplifierOn = 0xE4;
constexpr quint8 AmplifierOff = 0xE5;
} // namespace cmd

// Codes the module sends that are not echoes of a request code.
namespace status {
constexpr quint8 Present = 0xFD;      // answer to the probe
constexpr quint8 FrequencySet = 0xFA; // frequency write accepted
constexpr quint8 LockFailed = 0xF7;   // frequency write: phase lock failed
constexpr quint8 OutOfRange = 0xFF;   // frequency write: outside the band
constexpr quint8 PortReport = 0xC6;   // four-byte report, never requested
} // namespace status

// Payload length of a host frame with this code, or -1 when the module does not take the
// code as a command.
int CommandPayloadLength(quint8 code);

// Short readable name of a host command code, for logs ("probe", "set-port").
QString CommandName(quint8 code);

} // namespace t83

// Payload length of a module reply with this code: 0 for the two-byte replies F7, FA,
// FD and FF, -1 for a code the host does not list (such a reply has no fixed length).
int ReplyPayloadLength(quint8 code);
