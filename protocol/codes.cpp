#include "protocol/codes.h"

namespace t83 {

namespace {

struct CommandInfo {
    quint8 code;
    int payload;
    const char* name;
};

constexpr CommandInfo kCommands[] = {
    {cmd::Probe, 0, "probe"},
    {cmd::CrcQuery, 0, "crc-query"},
    {cmd::ReadFrequencies, 0, "read-frequencies"},
    {cmd::ReadOwnAddress, 0, "read-own-address"},
    {cmd::ReadDestAddress, 0, "read-dest-address"},
    {cmd::ReadRetryCount, 0, "read-retry-count"},
    {cmd::ReadInviteGroup, 0, "read-invite-group"},
    {cmd::ReadVersion, 0, "read-version"},
    {cmd::ReadPowerSaving, 0, "read-power-saving"},
    {cmd::ReadTempCompensation, 0, "read-temp-compensation"},
    {cmd::ReadVoiceMode, 0, "read-voice-mode"},
    {cmd::DataBits, 1, "data-bits"},
    {cmd::Squelch, 1, "squelch"},
    {cmd::PortQuery, 1, "port-query"},
    {cmd::SetFrequencies, 6, "set-frequencies"},
    {cmd::SetOwnAddress, 2, "set-own-address"},
    {cmd::SetDestAddress, 2, "set-dest-address"},
    {cmd::SetRetryCount, 1, "set-retry-count"},
    {cmd::SetInviteGroup, 2, "set-invite-group"},
    {cmd::SetPowerSaving, 1, "set-power-saving"},
    {cmd::SetTempCompensation, 1, "set-temp-compensation"},
    {cmd::SetVoiceMode, 1, "set-voice-mode"},
    {cmd::SetPortConfig, 3, "set-port"},
    {cmd::StartTestCode, 0, "start-test-code"},
    {cmd::StopTestCode, 0, "stop-test-code"},
    {cmd::AmplifierOn, 0, "amplifier-on"},
    {cmd::AmplifierOff, 0, "amplifier-off"},
};

struct ReplyInfo {
    quint8 code;
    int payload;
};

// Parameter replies carry the request's own code; the rest are status codes.
constexpr ReplyInfo kReplies[] = {
    {cmd::ReadFrequencies, 6}, {cmd::ReadOwnAddress, 2},
    {cmd::ReadDestAddress, 2}, {cmd::ReadRetryCount, 1},
    {cmd::ReadInviteGroup, 2}, {cmd::ReadVersion, 11},
    {cmd::ReadPowerSaving, 1}, {cmd::ReadTempCompensation, 1},
    {cmd::ReadVoiceMode, 1},   {cmd::PortQuery, 3},
    {status::PortReport, 4},   {cmd::CrcQuery, 1},
    {cmd::DataBits, 1},        {cmd::Squelch, 1},
    {status::LockFailed, 0},   {status::FrequencySet, 0},
    {status::Present, 0},      {status::OutOfRange, 0},
};

} // namespace

int CommandPayloadLength(quint8 code) {
    for (const auto& c : kCommands)
        if (c.code == code)
            return c.payload;
    return -1;
}

QString CommandName(quint8 code) {
    for (const auto& c : kCommands)
        if (c.code == code)
            return QString::fromLatin1(c.name);
    return QStringLiteral("unknown-") +
           QString::number(code, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

} // namespace t83

int ReplyPayloadLength(quint8 code) {
    for (const auto& r : t83::kReplies)
        if (r.code == code)
            return r.payload;
    return -1;
}
