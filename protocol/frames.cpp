#include "protocol/frames.h"

#include "protocol/codes.h"
#include "protocol/hex.h"

namespace t83 {

namespace {
QByteArray frame(quint8 code) {
    QByteArray bytes;
    bytes.append(static_cast<char>(kFrameStart));
    bytes.append(static_cast<char>(code));
    return bytes;
}

QByteArray frame(quint8 code, quint8 value) {
    return frame(code).append(static_cast<char>(value));
}
} // namespace

QByteArray ProbeFrame() {
    return frame(cmd::Probe);
}

QByteArray CrcQueryFrame() {
    return frame(cmd::CrcQuery);
}

quint8 ReadRequestCode(int step) {
    static constexpr quint8 kCodes[kReadSteps] = {
        cmd::ReadFrequencies, cmd::ReadOwnAddress, cmd::ReadDestAddress, cmd::ReadRetryCount,
        cmd::ReadInviteGroup, cmd::ReadVersion,    cmd::ReadPowerSaving, cmd::ReadTempCompensation,
        cmd::ReadVoiceMode,   cmd::DataBits,       cmd::Squelch,
    };
    return step < 1 || step > kReadSteps ? 0 : kCodes[step - 1];
}

QByteArray ReadRequestFrame(int step) {
    if (step < 1 || step > kReadSteps)
        return {};
    const quint8 code = ReadRequestCode(step);
    // Data bits and squelch share their code with the write: the marker makes a read.
    return code == cmd::DataBits || code == cmd::Squelch ? frame(code, kReadMarker) : frame(code);
}

QByteArray PortQueryFrame(int port) {
    return frame(cmd::PortQuery, static_cast<quint8>(port));
}

QByteArray FrequencyWriteFrame(const QString& tx, const QString& rx) {
    QByteArray f = frame(cmd::SetFrequencies);
    for (const QString& text : {tx, rx}) {
        f.append(static_cast<char>(PackDecimalPair(text.left(2))));
        f.append(static_cast<char>(PackDecimalPair(text.mid(2, 2))));
        f.append(static_cast<char>(PackDecimalPair(text.right(2))));
    }
    return f;
}

QByteArray ChannelFrame(const std::array<quint8, 6>& packed) {
    QByteArray f = frame(cmd::SetFrequencies);
    for (quint8 b : packed)
        f.append(static_cast<char>(b));
    return f;
}

QByteArray HexSettingWriteFrame(quint8 code, const QString& hexDigits) {
    QByteArray f = frame(code);
    for (qsizetype k = 0; k + 1 < hexDigits.size(); k += 2)
        f.append(
            static_cast<char>(HexDigitValue(hexDigits[k]) * 16 + HexDigitValue(hexDigits[k + 1])));
    return f;
}

QByteArray ModeWriteFrame(quint8 code, bool on) {
    return frame(code, on ? 0xFF : 0x00);
}

QByteArray SquelchWriteFrame(bool digital) {
    return frame(cmd::Squelch, digital ? 0xFF : 0x00);
}

QByteArray DataBitsWriteFrame(bool nine) {
    return frame(cmd::DataBits, nine ? 0x01 : 0x00);
}

QByteArray PortWriteFrame(int port, quint8 directionAnswer, quint8 mode) {
    QByteArray f = frame(cmd::SetPortConfig, static_cast<quint8>(port));
    f.append(static_cast<char>(directionAnswer));
    f.append(static_cast<char>(mode));
    return f;
}

QByteArray TestCodeFrame(bool start) {
    return frame(start ? cmd::StartTestCode : cmd::StopTestCode);
}

QByteArray AmplifierFrame(bool on) {
    return frame(on ? cmd::AmplifierOn : cmd::AmplifierOff);
}

QByteArray EncodeFileLength(quint32 length) {
    QByteArray bytes(4, '\0');
    for (int i = 3; i >= 0; --i, length >>= 8)
        bytes[i] = char(length & 0xff);
    return bytes;
}

QByteArray FileHeaderFrame(const QByteArray& nameBytes, quint32 length) {
    QByteArray header;
    header.append(static_cast<char>(kFrameStart));
    header.append(static_cast<char>(nameBytes.size()));
    header.append(nameBytes);
    header.append('*');
    header.append(EncodeFileLength(length));
    return header;
}

} // namespace t83
