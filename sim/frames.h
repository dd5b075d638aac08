#pragma once

// The simulator speaks the module link's own vocabulary (protocol/codes.h).

#include "protocol/codes.h"

#include <QString>
#include <QtGlobal>

namespace t83sim {

using t83::kFrameStart;
using t83::kReadMarker;
namespace cmd = t83::cmd;
namespace status = t83::status;

// Payload length of a host frame with this code, or -1 when the code is not
// one the module accepts as a command.
inline int commandPayloadLength(quint8 code) {
    return t83::CommandPayloadLength(code);
}

// Payload length of a module reply with this code, or -1 when the host does
// not know the code (such a reply has no fixed length).
inline int replyPayloadLength(quint8 code) {
    return ::ReplyPayloadLength(code);
}

inline bool isListedReplyCode(quint8 code) {
    return replyPayloadLength(code) >= 0;
}

// Short readable name of a host command code, for logs ("probe", "set-port").
inline QString commandName(quint8 code) {
    return t83::CommandName(code);
}

} // namespace t83sim
