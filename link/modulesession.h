#pragma once

#include "link/capturepath.h"
#include "link/link.h"
#include "protocol/moduleparameters.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// A module on the serial link and the sequences the program runs with it: the probe and
// its answer, the automatic read that follows (eleven requests), the prompt's second and
// the switch-port poll (eight queries), refreshes, writes of settings and switch ports,
// and the read-back. Windows, the command line and tests call it and listen to it; it
// knows none of them.
//
// The automatic sequence: probe → answered() and, unless the command window sent the
// probe itself, readStarted() and the read → readFinished() (missing parameters read
// "无此参数") → one second later, or sooner when promptDone() is called, the switch-port
// poll → pollFinished().
class ModuleSession : public QObject {
    Q_OBJECT
  public:
    ModuleSession(CommControl::PortResolver resolver, SerialBackendFactory factory,
                  QObject* parent = nullptr);

    Link& link() { return link_; }
    CommControl& comm() { return link_.MSComm1; }
    CapturePath& capture() { return capture_; }

    // Sends the probe D7 FE; answered() or noAnswer() follows within 500 ms. The
    // module's answer starts the automatic read, unless `thenRead` is false (a caller
    // that runs its own sequence).
    void probe(bool thenRead = true);
    // The probe under way is one of a caller's own sequence (no automatic read after it).
    bool ownProbe() const { return !readAfterAnswer_; }
    // The production station runs its own reads and polls: the windows that asked for a
    // refresh are not the ones these end.
    void setStationRunning(bool on) { stationRunning_ = on; }
    bool stationRunning() const { return stationRunning_; }
    // Reads and polls send each request as soon as the reply to the one before is in
    // (each waiting at most ReadCycle::kReplyTimeoutMs) instead of every 100 ms. Off by
    // default: the windows keep the timed read.
    void setReplyDrivenRead(bool on) { link_.cycle.setReplyDriven(on); }
    bool replyDrivenRead() const { return link_.cycle.replyDriven(); }
    // A read, the prompt's second or a poll is under way.
    bool sequenceRunning() const;
    // Reads the eleven parameters again without the prompt (refresh, read-back).
    void startRefreshRead() { link_.cycle.startRefreshRead(); }
    // Polls the eight switch ports again (refresh).
    void startRefreshPoll() { link_.cycle.startRefreshPoll(); }
    // The finished-read prompt is done (its "确定", or its second ran out): the
    // switch-port poll starts.
    void promptDone();

    // Writes a whole frame to the serial object, adding nothing. False when the port is
    // closed (the frame is dropped quietly) or the line refused it (userMessage() says
    // so: the command did not go, whatever a window shows next).
    bool SendFrame(const QByteArray& frame);
    // For frames the user asked for: true when the port is open; otherwise userMessage()
    // tells the user that nothing was sent.
    bool PortOpenForUser();
    // Sends setting frames, one a setting, in the given order. Ends with writeFinished():
    // once the frames have left, at once, unless one of them is a frequency write, whose
    // status reply (FA, F7, FF) ends it; without that reply within kStatusReplyMs of the
    // frames leaving it ends as not answered. False (nothing more sent, and no
    // writeFinished) when the port is closed or refused a frame.
    // `quiet`: the caller reports the outcome itself (the production station), so the
    // status reply is not told to the user as well (quietWrite() is true meanwhile).
    bool writeSettings(const QList<QByteArray>& frames, bool quiet = false);
    bool quietWrite() const { return writePending_ && quietWrite_; }
    // A switch port's direction/answer and mode bytes.
    bool writePortSetting(int port, quint8 directionAnswer, quint8 mode);
    bool writing() const { return writePending_; }

    // While a file is being captured every receive pass belongs to capture() instead of
    // the reply parser. Opening starts from the header; closing gives the passes back.
    void setCaptureOpen(bool open);
    bool captureOpen() const { return captureOpen_; }

    static constexpr int kStatusReplyMs = 1000;

    // The module's settings as last read; a read fills it, a write does not.
    ModuleParameters params;

  signals:
    void answered();
    // The automatic read after the module's answer has begun.
    void readStarted();
    // No answer to the probe within its time.
    void noAnswer();
    // The progress of an automatic read, 0..110.
    void readProgress(int value);
    void parameterStored(quint8 code);
    // A read ended: `missing` names the parameters the module did not answer for (as in
    // ModuleParameters::fields()), empty when the read is complete.
    void readFinished(bool refresh, const QStringList& missing);
    // The finished-read prompt's second ran out; promptDone() has already run.
    void promptCloseDue();
    void pollFinished(bool refresh);
    // A read or poll cut off by a lost line or a reopening.
    void readCutOff(bool refresh);
    void pollCutOff(bool refresh);
    // The module's status reply to a frequency write: FA "频率设置完成", F7 "锁相环无法锁定",
    // FF "设置频率超出范围" (`accepted` for FA).
    void moduleStatus(quint8 code, const QString& text, bool accepted);
    // A writeSettings() has ended: `ok`, or the reason it failed (the module's text, or
    // that it did not answer).
    void writeFinished(bool ok, const QString& reason);
    // The open line went away (the port is closed already). Whatever was under way ended
    // with it; a write under way ends with writeFinished(false) first.
    void lineLost(const QString& detail);
    // Something the user must be told about a command they gave.
    void userMessage(const QString& text);

  private:
    void finishWrite(bool ok, const QString& reason);

    Link link_;
    CapturePath capture_;
    QTimer statusWait_;
    bool writePending_ = false;
    bool awaitingStatus_ = false;
    bool quietWrite_ = false;
    bool stationRunning_ = false;
    bool captureOpen_ = false;
    bool readAfterAnswer_ = true;
};
