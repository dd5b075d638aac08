#pragma once

// Behaviour switches of the simulated module, for testing how the host copes
// with modules that are slow, incomplete or misbehaving.

#include "sim/frames.h"
#include "sim/settings.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

namespace t83sim {

// A reply with a code the host does not list, sent instead of the normal
// answer to one request code.
struct UnlistedReply {
    quint8 trigger = cmd::Probe; // request whose answer is replaced
    quint8 code = 0x55;          // reply code sent instead
    QByteArray payload = QByteArray::fromHex("0102");
};

struct SimOptions {
    // Never answer anything; frames are still taken in and applied.
    bool silent = false;
    // Request codes the module leaves unanswered, as a module without that
    // parameter would (for example EC for the version).
    QSet<quint8> unanswered;
    // Time between a complete request and the start of its answer.
    int replyDelayMs = 0;
    // Write every reply one byte at a time, splitGapMs apart.
    bool splitReplies = false;
    int splitGapMs = 2;
    std::optional<UnlistedReply> unlisted;
    // Refuse every in-band frequency write with a phase-lock failure.
    bool lockFailure = false;
    // Writes with these codes are answered as usual but not kept (a module whose
    // memory does not take them).
    QSet<quint8> revert;
    // Replies to these request codes come back with their last payload byte wrong.
    QSet<quint8> garble;
    quint8 crc = 0x5A;
    QString versionText = QString::fromLatin1(kDefaultVersionText);
    // A frame or file header left incomplete this long is given up and passed
    // on as radio data; 0 waits for ever.
    int frameTimeoutMs = 1000;
    // A file transfer that gets no byte for this long before its announced
    // length is reached is given up (the sender was stopped), so that the
    // host's next commands are understood again; 0 waits for ever. It must
    // outlast the sender's pause between header and data.
    int transferTimeoutMs = 3000;
};

} // namespace t83sim
