#pragma once

#include "link/serialbackend.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>

// The far end of an in-memory line: what a test (or an in-process peer) sees. It
// outlives the backends that open it, as a device outlives its openings.
//
// By default written bytes arrive at once. With a drain rate they wait in the line's
// output queue and leave at that many bytes per second, as through a real UART; only
// bytes that have left count as written.
class MemoryLine : public QObject {
    Q_OBJECT
  public:
    // One chunk that left the line: when (ms since the line was made), what, and the
    // DTR state at that moment.
    struct Sent {
        qint64 ms = 0;
        QByteArray bytes;
        bool dtr = false;
    };

    explicit MemoryLine(QObject* parent = nullptr);

    // Bytes from the far end towards the program.
    void feed(const QByteArray& bytes);
    // Everything that left the line since the last take.
    QByteArray takeWritten();
    const QByteArray& written() const { return written_; }
    void setDsr(bool on);
    bool dsr() const { return dsr_; }
    bool dtr() const { return dtr_; }
    bool isOpen() const { return open_; }
    // Simulates another program holding the device.
    void setBusy(bool busy) { busy_ = busy; }
    // Simulates the device going away while open; what waits to leave is lost. A
    // `detail` stands for the system's text of a failed read or write.
    void unplug(const QString& detail = {});
    // From now on the line takes only `bytes` more: a write beyond takes what fits and
    // fails, as a driver that stops taking bytes does; later writes are refused. -1
    // lifts the limit.
    void limitWrites(qint64 bytes) { writeLimit_ = bytes; }
    SerialSettings settings() const { return settings_; }
    int openCount() const { return openCount_; }

    // Bytes per second leaving the line; 0 (the default) lets them leave at once.
    void setDrainRate(int bytesPerSecond);
    int drainRate() const { return rate_; }
    // Bytes written by the program that have not left yet.
    qint64 waiting() const { return waiting_.size(); }
    // The timeline's clock: ms since the line was made.
    qint64 elapsedMs() const { return clock_.elapsed(); }
    const QList<Sent>& timeline() const { return timeline_; }
    void clearTimeline() { timeline_.clear(); }

  signals:
    // Bytes that left the line towards the far end.
    void bytesWritten(const QByteArray& bytes);
    void fedBytes();
    void dsrSet(bool on);
    void unplugged(const QString& detail);
    // The output queue became empty: its last bytes left or were dropped.
    void drained();

  private:
    friend class MemoryBackend;
    void accept(const QByteArray& bytes);
    void drainDue();
    void leave(const QByteArray& bytes);
    // Drops what waits; true when something was dropped.
    bool dropWaiting();

    QByteArray written_;
    QByteArray toProgram_;
    QByteArray waiting_;
    QList<Sent> timeline_;
    QElapsedTimer clock_;
    // Pacing runs from the moment the queue last became non-empty: by then + t,
    // t * rate bytes have left.
    QElapsedTimer drainClock_;
    qint64 leftSinceDrainStart_ = 0;
    QTimer drainTimer_;
    SerialSettings settings_;
    int rate_ = 0;
    qint64 writeLimit_ = -1;
    bool dsr_ = false;
    bool dtr_ = false;
    bool open_ = false;
    bool busy_ = false;
    int openCount_ = 0;
};

class MemoryBackend final : public SerialBackend {
    Q_OBJECT
  public:
    explicit MemoryBackend(MemoryLine* line, QObject* parent = nullptr);
    ~MemoryBackend() override;

    Result open(const SerialSettings& settings) override;
    void close() override;
    Result applySettings(const SerialSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    qint64 bytesWaiting() const override;
    void discardOutput() override;
    QByteArray readAll() override;
    void setDtr(bool on) override;
    bool dsr() const override;

  private:
    void checkDrained();

    QPointer<MemoryLine> line_;
    bool open_ = false;
    // Something was written since outputDrained was last raised.
    bool drainPending_ = false;
};
