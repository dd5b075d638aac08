#include "sim/protocol.h"

#include "protocol/linkpacket.h"

namespace t83sim {

namespace {

constexpr quint8 kPacketSync0 = linkpacket::kSync0;
constexpr quint8 kPacketSync1 = linkpacket::kSync1;

QByteArray replyFrame(quint8 code, QByteArrayView payload = {}) {
    QByteArray frame;
    frame.reserve(2 + payload.size());
    frame.append(char(kFrameStart));
    frame.append(char(code));
    frame.append(payload);
    return frame;
}

template <std::size_t N> QByteArray bytesOf(const std::array<quint8, N>& values) {
    return QByteArray(reinterpret_cast<const char*>(values.data()), qsizetype(N));
}

template <std::size_t N> void copyInto(std::array<quint8, N>& target, const QByteArray& source) {
    for (std::size_t i = 0; i < N; ++i)
        target[i] = quint8(source.at(qsizetype(i)));
}

QByteArray oneByte(quint8 value) {
    return QByteArray(1, char(value));
}

// A file header: D7, the name length n, n name bytes, a separator and four
// length bytes.
constexpr qsizetype fileHeaderSize(quint8 nameLength) {
    return 2 + qsizetype(nameLength) + 1 + 4;
}

// The byte after a D7 that opens a file header rather than a frame.
bool opensFileHeader(quint8 byte) {
    return byte != 0 && commandPayloadLength(byte) < 0;
}

} // namespace

QByteArray ReceivedFrame::bytes() const {
    return replyFrame(code, payload);
}

ModuleProtocol::ModuleProtocol(const SimOptions& options) {
    setOptions(options);
}

void ModuleProtocol::setOptions(const SimOptions& options) {
    m_options = options;
    m_settings.version = versionBytes(options.versionText);
}

FeedResult ModuleProtocol::feed(QByteArrayView bytes) {
    FeedResult out;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (m_transferLeft > 0) {
            const qsizetype n = qsizetype(qMin<qint64>(m_transferLeft, bytes.size() - i));
            out.radioData.append(bytes.sliced(i, n));
            m_transferLeft -= n;
            i += n;
            continue;
        }
        takeByte(quint8(bytes[i]), out);
        ++i;
    }
    return out;
}

FeedResult ModuleProtocol::feedData(QByteArrayView bytes) {
    FeedResult out = flushIncomplete();
    out.radioData.append(bytes);
    m_transferLeft = qMax<qint64>(0, m_transferLeft - bytes.size());
    return out;
}

FeedResult ModuleProtocol::flushIncomplete() {
    FeedResult out;
    out.radioData = m_pending;
    m_pending.clear();
    return out;
}

void ModuleProtocol::takeByte(quint8 byte, FeedResult& out) {
    if (m_packetHeaderLeft > 0) {
        // A link-test packet's seq, total and length; its payload and CRC follow.
        out.radioData.append(char(byte));
        if (--m_packetHeaderLeft == 0)
            m_transferLeft = qint64(byte) + 2;
        return;
    }
    if (m_pending.isEmpty()) {
        const bool packetStart = m_after55 && byte == kPacketSync1;
        m_after55 = byte == kPacketSync0;
        if (packetStart) {
            out.radioData.append(char(byte));
            m_packetHeaderLeft = 5;
            return;
        }
        if (byte == kFrameStart)
            m_pending.append(char(byte));
        else
            out.radioData.append(char(byte));
        return;
    }
    if (m_pending.size() == 1 && commandPayloadLength(byte) < 0 && !opensFileHeader(byte)) {
        // D7 00 opens neither a frame nor a file header: both bytes are data.
        out.radioData.append(char(kFrameStart));
        out.radioData.append(char(byte));
        m_pending.clear();
        return;
    }
    m_pending.append(char(byte));
    const quint8 code = quint8(m_pending.at(1));
    const int payload = commandPayloadLength(code);
    if (payload < 0) {
        if (m_pending.size() < fileHeaderSize(code))
            return;
        // The header goes out as data, and so do the file bytes it announces.
        qint64 length = 0;
        for (char b : m_pending.last(4))
            length = (length << 8) | quint8(b);
        out.radioData.append(m_pending);
        m_pending.clear();
        m_transferLeft = length;
        return;
    }
    if (m_pending.size() < 2 + payload)
        return;
    const ReceivedFrame frame{code, m_pending.mid(2)};
    m_pending.clear();
    execute(frame, out);
}

void ModuleProtocol::execute(const ReceivedFrame& frame, FeedResult& out) {
    m_received.append(frame);
    out.frames.append(frame);
    const ModuleSettings kept = m_settings;
    QByteArray reply = apply(frame);
    if (m_options.revert.contains(frame.code))
        m_settings = kept;
    if (m_options.garble.contains(frame.code) && reply.size() > 2)
        reply[reply.size() - 1] = char(quint8(reply.back()) ^ 0x01);
    if (m_options.unlisted && m_options.unlisted->trigger == frame.code)
        reply = replyFrame(m_options.unlisted->code, m_options.unlisted->payload);
    if (m_options.silent || m_options.unanswered.contains(frame.code) || reply.isEmpty())
        return;
    out.replies.append(reply);
}

QByteArray ModuleProtocol::apply(const ReceivedFrame& frame) {
    const QByteArray& p = frame.payload;
    const quint8 first = p.isEmpty() ? 0 : quint8(p.at(0));
    ModuleSettings& s = m_settings;
    switch (frame.code) {
    case cmd::Probe:
        return replyFrame(status::Present);
    case cmd::CrcQuery:
        return replyFrame(cmd::CrcQuery, oneByte(m_options.crc));
    case cmd::ReadFrequencies:
        return replyFrame(frame.code, bytesOf(s.txFrequency) + bytesOf(s.rxFrequency));
    case cmd::ReadOwnAddress:
        return replyFrame(frame.code, bytesOf(s.ownAddress));
    case cmd::ReadDestAddress:
        return replyFrame(frame.code, bytesOf(s.destAddress));
    case cmd::ReadRetryCount:
        return replyFrame(frame.code, oneByte(s.retryCount));
    case cmd::ReadInviteGroup:
        return replyFrame(frame.code, bytesOf(s.inviteGroup));
    case cmd::ReadVersion:
        return replyFrame(frame.code, s.version);
    case cmd::ReadPowerSaving:
        return replyFrame(frame.code, oneByte(s.powerSaving));
    case cmd::ReadTempCompensation:
        return replyFrame(frame.code, oneByte(s.tempCompensation));
    case cmd::ReadVoiceMode:
        return replyFrame(frame.code, oneByte(s.voiceMode));
    case cmd::DataBits:
        if (first == kReadMarker)
            return replyFrame(frame.code, oneByte(s.dataBits));
        s.dataBits = first;
        return {};
    case cmd::Squelch:
        if (first == kReadMarker)
            return replyFrame(frame.code, oneByte(s.squelch));
        s.squelch = first;
        return {};
    case cmd::PortQuery:
        return answerPortQuery(first);
    case cmd::SetFrequencies:
        return answerFrequencyWrite(p);
    case cmd::SetOwnAddress:
        copyInto(s.ownAddress, p);
        return {};
    case cmd::SetDestAddress:
        copyInto(s.destAddress, p);
        return {};
    case cmd::SetRetryCount:
        s.retryCount = first;
        return {};
    case cmd::SetInviteGroup:
        copyInto(s.inviteGroup, p);
        return {};
    case cmd::SetPowerSaving:
        s.powerSaving = first;
        return {};
    case cmd::SetTempCompensation:
        s.tempCompensation = first;
        return {};
    case cmd::SetVoiceMode:
        s.voiceMode = first;
        return {};
    case cmd::SetPortConfig:
        // Ports beyond PB8 do not exist; the frame is taken in and dropped.
        if (first < kPortCount)
            s.ports[first] = PortConfig{quint8(p.at(1)), quint8(p.at(2))};
        return {};
    case cmd::StartTestCode:
        m_testCode = true;
        return {};
    case cmd::StopTestCode:
        m_testCode = false;
        return {};
    case cmd::AmplifierOn:
        m_amplifier = true;
        return {};
    case cmd::AmplifierOff:
        m_amplifier = false;
        return {};
    default:
        return {};
    }
}

QByteArray ModuleProtocol::answerFrequencyWrite(const QByteArray& payload) {
    PackedFrequency tx{};
    PackedFrequency rx{};
    for (int i = 0; i < 3; ++i) {
        tx[i] = quint8(payload.at(i));
        rx[i] = quint8(payload.at(3 + i));
    }
    const auto txKhz = unpackFrequency(tx);
    const auto rxKhz = unpackFrequency(rx);
    // Digits that are not decimal name no frequency at all and count as out
    // of band, like a number outside the tuning range.
    if (!txKhz || !rxKhz || !frequencyInBand(*txKhz) || !frequencyInBand(*rxKhz))
        return replyFrame(status::OutOfRange);
    if (m_options.lockFailure)
        return replyFrame(status::LockFailed);
    m_settings.txFrequency = tx;
    m_settings.rxFrequency = rx;
    return replyFrame(status::FrequencySet);
}

QByteArray ModuleProtocol::answerPortQuery(quint8 port) const {
    // A query for a port the module does not have goes unanswered, as a
    // missing port would.
    if (port >= kPortCount)
        return {};
    const PortConfig& config = m_settings.ports[port];
    const char payload[] = {char(port), char(config.direction), char(config.mode)};
    return replyFrame(cmd::PortQuery, QByteArrayView(payload, 3));
}

} // namespace t83sim
