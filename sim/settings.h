#pragma once

// The module's stored settings and the frequency rules it applies to writes.

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace t83sim {

// Frequencies travel as six decimal digits in kHz, packed two digits per byte,
// most significant first: 229.100 MHz is 229100, sent as 22 91 00.
// The simulated module tunes from 220.000 MHz to 240.000 MHz inclusive.
constexpr int kMinFrequencyKhz = 220000;
constexpr int kMaxFrequencyKhz = 240000;
constexpr int kDefaultFrequencyKhz = 229100;

// The version reply always carries exactly this many bytes.
constexpr int kVersionLength = 11;
constexpr char kDefaultVersionText[] = "T83SIM V1.0";

constexpr int kPortCount = 8;

using PackedFrequency = std::array<quint8, 3>;

// The frequency a packed triple stands for, or nothing when a nibble is not a
// decimal digit.
std::optional<int> unpackFrequency(const PackedFrequency& packed);
PackedFrequency packFrequency(int khz);
bool frequencyInBand(int khz);

// Version text as the module sends it: Latin-1 bytes, cut or padded with
// spaces to the fixed reply length.
QByteArray versionBytes(const QString& text);

// One switch-quantity port: byte 1 is direction and answer (0F input,
// 00 output without answer, F0 output with answer), byte 2 the mode.
struct PortConfig {
    quint8 direction = 0x0F;
    quint8 mode = 0x00;
    bool operator==(const PortConfig&) const = default;
};

struct ModuleSettings {
    PackedFrequency txFrequency = packFrequency(kDefaultFrequencyKhz);
    PackedFrequency rxFrequency = packFrequency(kDefaultFrequencyKhz);
    std::array<quint8, 2> ownAddress{0x00, 0x01};
    std::array<quint8, 2> destAddress{0x00, 0x02};
    quint8 retryCount = 0x03;
    std::array<quint8, 2> inviteGroup{0x00, 0x00};
    QByteArray version = versionBytes(QString::fromLatin1(kDefaultVersionText));
    quint8 powerSaving = 0x00;      // 00 normal, FF power saving
    quint8 tempCompensation = 0x00; // 00 normal, FF compensated
    quint8 voiceMode = 0x00;        // 00 no request, FF request
    quint8 squelch = 0x00;          // 00 analogue, other digital
    quint8 dataBits = 0x00;         // 00 eight bits, other nine bits
    std::array<PortConfig, kPortCount> ports = defaultPorts();

    // Ports PB1..PB4 start as inputs that report nothing, PB5..PB8 as outputs
    // without answer driving both the serial line and the paired port with a
    // positive pulse, so that a fresh module shows both kinds.
    static std::array<PortConfig, kPortCount> defaultPorts();
};

// A module as it might come off a tray: every setting drawn at random (frequencies in
// the band, valid modes and port configurations), from `seed`.
ModuleSettings randomSettings(quint32 seed);

} // namespace t83sim
