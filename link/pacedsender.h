#pragma once

#include "link/commcontrol.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

// Sends a block of bytes through the serial object at the port's own pace, from the
// event loop, while the rest of the program keeps running: the data-string and the
// file-send windows use it.
//
// Bytes are handed to the serial object in slices on a short timer. Two limits hold at
// every moment:
//  - time: after t of sending, at most t / (character time) bytes plus 50 ms worth have
//    been handed, the character time coming from the port's settings (start, data,
//    parity and stop bits over the rate). A line without a pace of its own (a
//    pseudo-terminal takes everything at once) is fed as a real port would take it.
//  - in flight: what waits in the serial object and the driver, plus what this tick
//    hands, stays within 50 ms worth (and at least one byte), so a stop takes effect at
//    once and sent() is what has reached the wire, not a buffer.
// While sending, DTR is held off for the given user; it is released dtrRestoreMs after
// the last byte has left (or after a stop), and only then finished() or stopped() come.
class PacedSender : public QObject {
    Q_OBJECT
  public:
    // `user` is the DTR holder this sender uses; `dtrRestoreMs` the delay after the last
    // byte has left before DTR goes on again.
    PacedSender(CommControl& comm, CommControl::DtrUser user, int dtrRestoreMs,
                QObject* parent = nullptr);
    ~PacedSender() override;

    // Starts sending; false (and nothing happens) when busy, the port is closed or
    // bytes is empty. The port's settings are read here and hold for this send.
    bool start(const QByteArray& bytes);
    // Stops at once: nothing not yet handed to the serial object goes out, what waits in
    // its buffer is dropped, DTR comes back after the delay and then stopped() is
    // emitted. Pressed after the last byte has left, while DTR is still held, the send
    // ends with stopped() at the same moment finished() would have come. Nothing happens
    // when not busy or already stopping.
    void stop();
    // From start until finished, stopped or failed (the DTR delay included).
    bool busy() const { return phase_ != Phase::Idle; }
    // Bytes that have left the program's buffers; never decreases during a send.
    qint64 sent() const { return sent_; }
    qint64 total() const { return bytes_.size(); }

  signals:
    // sent() grew; at most about every 20 ms, and always when the last byte has left.
    void progress(qint64 sent);
    // Every byte has left and DTR is back on.
    void finished();
    // After stop(), once DTR is back on.
    void stopped();
    // The port closed or went away mid-send; DTR is released at once. Emitted once per
    // send; the sender is idle again when it comes.
    void failed(const QString& reason);

  private:
    enum class Phase {
        Idle,
        Sending,   // bytes still to hand
        Draining,  // all handed, some still waiting to leave
        Finishing, // all left, DTR delay running
        Stopping   // stopped, DTR delay running
    };

    void tick();
    // Hands what the two limits allow; false when the port refused it.
    bool feed();
    void updateSent();
    void reportProgress(bool force);
    void fail(const QString& reason);
    void restoreDtr();

    QPointer<CommControl> comm_;
    CommControl::DtrUser user_;
    int dtrRestoreMs_;
    QTimer feedTimer_;
    QTimer restoreTimer_;
    Phase phase_ = Phase::Idle;

    QByteArray bytes_;
    qint64 handed_ = 0;
    qint64 sent_ = 0;
    qint64 reported_ = 0;
    qint64 lastReportMs_ = 0;

    // Pacing: the right to send, in units of (bit-times x 1e6 / rate); one character
    // costs bitsPerCharacter x 1e6 units and every microsecond earns `rate` units.
    // Whole-number arithmetic keeps the pace exact on average. The credit never exceeds
    // one window, so a stalled event loop is not made up for with a burst.
    QElapsedTimer clock_;
    qint64 lastTickUs_ = 0;
    qint64 rate_ = 0;
    qint64 costPerByte_ = 0;
    qint64 credit_ = 0;
    qint64 window_ = 1; // 50 ms of line time in bytes, at least 1
};
