#include "sim/settings.h"

#include <QRandomGenerator>

namespace t83sim {

std::optional<int> unpackFrequency(const PackedFrequency& packed) {
    int value = 0;
    for (quint8 byte : packed) {
        const int high = byte >> 4;
        const int low = byte & 0x0F;
        if (high > 9 || low > 9)
            return std::nullopt;
        value = value * 100 + high * 10 + low;
    }
    return value;
}

PackedFrequency packFrequency(int khz) {
    PackedFrequency packed{};
    for (int i = 2; i >= 0; --i) {
        const int pair = khz % 100;
        khz /= 100;
        packed[i] = quint8(((pair / 10) << 4) | (pair % 10));
    }
    return packed;
}

bool frequencyInBand(int khz) {
    return khz >= kMinFrequencyKhz && khz <= kMaxFrequencyKhz;
}

QByteArray versionBytes(const QString& text) {
    QByteArray bytes = text.toLatin1().left(kVersionLength);
    while (bytes.size() < kVersionLength)
        bytes.append(' ');
    return bytes;
}

std::array<PortConfig, kPortCount> ModuleSettings::defaultPorts() {
    std::array<PortConfig, kPortCount> ports{};
    for (int i = 0; i < kPortCount; ++i)
        ports[i] = i < 4 ? PortConfig{0x0F, 0x00} : PortConfig{0x00, 0x30};
    return ports;
}

ModuleSettings randomSettings(quint32 seed) {
    QRandomGenerator rng(seed);
    const auto byte = [&] { return quint8(rng.bounded(256)); };
    const auto oneOf = [&](std::initializer_list<quint8> values) {
        return *(values.begin() + rng.bounded(int(values.size())));
    };
    ModuleSettings s;
    // Whole 12.5 kHz steps of the band, as a tuned module holds.
    const auto frequency = [&] {
        return packFrequency(kMinFrequencyKhz +
                             int(rng.bounded((kMaxFrequencyKhz - kMinFrequencyKhz) / 25)) * 25);
    };
    s.txFrequency = frequency();
    s.rxFrequency = frequency();
    s.ownAddress = {byte(), byte()};
    s.destAddress = {byte(), byte()};
    s.retryCount = quint8(rng.bounded(16));
    s.inviteGroup = {byte(), byte()};
    s.powerSaving = oneOf({0x00, 0xFF});
    s.tempCompensation = oneOf({0x00, 0xFF});
    s.voiceMode = oneOf({0x00, 0xFF});
    s.squelch = oneOf({0x00, 0xFF});
    s.dataBits = oneOf({0x00, 0x01});
    for (PortConfig& p : s.ports) {
        p.direction = oneOf({0x0F, 0x00, 0xF0});
        p.mode = p.direction == 0x0F ? quint8(rng.bounded(4))
                                     : quint8(rng.bounded(4) << 4 | rng.bounded(3));
    }
    return s;
}

} // namespace t83sim
