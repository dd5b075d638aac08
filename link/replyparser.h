#pragma once

#include "link/receiveroute.h"
#include "protocol/codes.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class CommControl;

// The one consumer of received bytes. In the idle state it hands received bytes to the
// display (hex pairs or characters) and watches for D7; after D7 and a reply code it sets
// the serial object's threshold and read length to the code's payload, so that one
// receive event brings the whole payload, and then reports what the reply said. It owns
// its state and writes no window: what it finds, it emits.
class ReplyParser : public QObject {
    Q_OBJECT
  public:
    explicit ReplyParser(CommControl& comm, QObject* parent = nullptr);

    // One pass over what is buffered, a bounded amount per call; a payload is handled
    // only once all its bytes have arrived.
    void ParseModuleReply();
    // Collects the rest of an unlisted reply (50 ms after its code) and logs it.
    void Timer6_Timer();
    // Logs a completed reply (prefix, then the bytes) and returns the parser to idle.
    void LogReplyBytes(const QByteArray& bytes);
    // Logs a fixed text (a two-byte reply).
    void LogReplyText(const QString& text);

    // Gives every pass to `route` (nullptr: back to the reply machine). While a route is
    // set, the unlisted-reply collection and the version wait stay out of the buffer.
    void setReceiveRoute(ReceiveRoute* route);
    // A frequency write has left: the module's status reply to it (FA, F7 or FF) is
    // taken as such for `ms` from now. Outside such a time D7 FA, D7 F7 and D7 FF are
    // radio data like any other bytes, and shown as such.
    void expectStatusReply(int ms);

    // Drops a reply cut off half way: idle, threshold and read length 1, timers stopped.
    void reset();
    ReceiveRoute* receiveRoute() const { return route_; }

    // 0 idle, 1 D7 seen, 2..15 waiting for the payload of a listed code.
    qint16 ReplyState = 0;
    QByteArray ReplyBytes;
    QString ReplyPrefix;
    // Idle display format: characters (true) or hex pairs.
    bool ShowAsText = false;
    bool ModuleAnswered = false;
    bool CrcToggle = false;
    // Eight switch ports of three bytes each: number, direction/answer, mode.
    QByteArray PortStateTable = QByteArray(24, '\0');

    QTimer Timer6; // rest of an unlisted reply
    // How long the line must stay quiet before a ten-byte version is taken.
    int versionQuietMs() const;
    // The wait for that quiet line, for harnesses that drive time themselves.
    const QTimer& versionWaitTimer() const { return versionWait_; }

  signals:
    // Received bytes that belong to no reply, ready to show: hex pairs or characters.
    void display(const QString& text, bool hex);
    // The module answered the probe (D7 FD).
    void moduleAnswered();
    // A parameter reply is complete: its code and payload.
    void parameterReply(quint8 code, const QByteArray& payload);
    // The module's software version as text.
    void versionRead(const QString& version);
    // The CRC byte, and which way the CRC panel's toggle now points.
    void crcRead(quint8 crc, bool toggle);
    // A status reply to a frequency write (FA, F7, FF) that the user is told about;
    // `information` picks the icon.
    void statusMessage(quint8 code, const QString& text, bool information);
    // A line for the command window's reply log (without its line end).
    void logLine(const QString& line);
    // A switch port's three bytes were stored; after port 7 the table is complete.
    void portStateStored(int port);
    // The port-state file could not be written (reported once per run).
    void portStateFileFailed(const QString& reason);

  private:
    bool dispatchCode(quint8 code);
    void applyPayload(qint16 state, const QByteArray& payload);
    void writePortStateFile();
    void statusReply(quint8 code, const QString& message, bool information);

    CommControl& comm_;
    ReceiveRoute* route_ = nullptr;
    QTimer versionWait_;
    bool versionWaitOver_ = false;
    bool portStateWriteReported_ = false;
    QDeadlineTimer statusReplyDue_{0};
};
