#pragma once

// The module's side of the serial link, without any I/O: bytes from the host
// go in, reply frames and radio data come out.
//
// Telling commands from data: the host line carries both module commands and
// user data for the radio link, and a pseudo-terminal has no DTR line to tell
// them apart. The rule is therefore purely by content. A D7 followed by a code
// the module accepts as a command opens a frame; once the code's fixed payload
// has arrived the frame is carried out. Every other byte is radio data, in
// order: a D7 followed by any other code is passed on as data together with
// that code (a second D7 may itself open a frame). A frame whose payload never
// completes is held until flushIncomplete() releases it as data.

#include "sim/options.h"
#include "sim/settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace t83sim {

struct ReceivedFrame {
    quint8 code = 0;
    QByteArray payload;

    QByteArray bytes() const;
    bool operator==(const ReceivedFrame&) const = default;
};

// What one call of feed() produced: the reply frames for the host, each to be
// written as one unit, and the bytes to send over the radio link.
struct FeedResult {
    QList<QByteArray> replies;
    QList<ReceivedFrame> frames;
    QByteArray radioData;
};

class ModuleProtocol {
  public:
    explicit ModuleProtocol(const SimOptions& options = {});

    FeedResult feed(QByteArrayView bytes);
    // Gives up an incomplete frame: its bytes become radio data.
    FeedResult flushIncomplete();
    bool hasIncompleteFrame() const { return !m_pending.isEmpty(); }

    const SimOptions& options() const { return m_options; }
    // Replaces the options; the version text is applied to the settings.
    void setOptions(const SimOptions& options);

    const ModuleSettings& settings() const { return m_settings; }
    ModuleSettings& settings() { return m_settings; }

    // Every complete frame taken in, oldest first.
    const QList<ReceivedFrame>& receivedFrames() const { return m_received; }
    void clearReceivedFrames() { m_received.clear(); }

    bool testCodeRunning() const { return m_testCode; }
    bool amplifierOn() const { return m_amplifier; }

  private:
    void takeByte(quint8 byte, FeedResult& out);
    void execute(const ReceivedFrame& frame, FeedResult& out);
    // Applies a frame to the settings and returns the normal answer, empty
    // when the frame has none.
    QByteArray apply(const ReceivedFrame& frame);
    QByteArray answerFrequencyWrite(const QByteArray& payload);
    QByteArray answerPortQuery(quint8 port) const;

    SimOptions m_options;
    ModuleSettings m_settings;
    QByteArray m_pending;
    QList<ReceivedFrame> m_received;
    bool m_testCode = false;
    bool m_amplifier = false;
};

} // namespace t83sim
