#pragma once

// The module's side of the serial link, without any I/O: bytes from the host
// go in, reply frames and radio data come out.
//
// Telling commands from data: the host line carries both module commands and
// user data for the radio link. On hardware the host's DTR line tells them
// apart (the program's data tools hold it off while they send), but a
// pseudo-terminal has no DTR, so feed() decides by content:
//
// - A D7 followed by a code the module accepts as a command opens a frame;
//   once the code's fixed payload has arrived the frame is carried out.
// - A D7 followed by any other byte n from 1 to 255 opens a file header:
//   n name bytes, one separator byte and the file length L as four bytes,
//   most significant first. The complete header and then exactly L more bytes
//   are radio data, whatever they contain; after them recognition starts
//   afresh. A file whose name is as many bytes long as a command code is
//   taken for that command.
// - 55 AA opens a link-test packet: the two bytes, seq, total, the payload
//   length n, n payload bytes and the two CRC bytes are radio data, whatever
//   they contain; after them recognition starts afresh.
// - Every other byte is radio data, in order (so is a D7 followed by 00,
//   together with that 00).
//
// A frame or file header whose bytes stop coming is held until
// flushIncomplete() releases it as data. A transfer whose file bytes stop
// coming (the sender was stopped) lasts until endTransfer().
//
// A caller that knows the DTR line, such as an in-process harness, hands the
// bytes sent with DTR off to feedData() instead: they are radio data, never
// commands.

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

    // Bytes from the host, told apart by content.
    FeedResult feed(QByteArrayView bytes);
    // Bytes the host sent with DTR off: all of them are radio data. Bytes held
    // from an incomplete frame or file header go out as data before them, and
    // they count towards the length of a file announced earlier.
    FeedResult feedData(QByteArrayView bytes);
    // Gives up an incomplete frame or file header: its bytes become radio
    // data.
    FeedResult flushIncomplete();
    bool hasIncompleteFrame() const { return !m_pending.isEmpty(); }

    // True from the end of a file header until the last byte of the file it
    // announced has passed.
    // Likewise for a link-test packet, from its 55 AA to its last CRC byte.
    bool transferInProgress() const { return m_transferLeft > 0 || m_packetHeaderLeft > 0; }
    // Gives up the rest of an announced file or packet: the bytes that follow are
    // told apart by content again.
    void endTransfer() {
        m_transferLeft = 0;
        m_packetHeaderLeft = 0;
    }

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
    // A frame or file header taken in so far, starting with its D7.
    QByteArray m_pending;
    // File (or packet) bytes still to pass as data.
    qint64 m_transferLeft = 0;
    // The last byte told apart was 55, which may open a link-test packet.
    bool m_after55 = false;
    // Header bytes of a link-test packet still to come after its 55 AA.
    int m_packetHeaderLeft = 0;
    QList<ReceivedFrame> m_received;
    bool m_testCode = false;
    bool m_amplifier = false;
};

} // namespace t83sim
