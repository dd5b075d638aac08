#include "sim/settings.h"

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

} // namespace t83sim
