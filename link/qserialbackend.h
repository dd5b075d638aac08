#pragma once

#include "link/serialbackend.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

// A real serial device through QSerialPort. DSR has no change signal in Qt, so the
// line is polled every 50 ms while the port is open. Neither does the driver say when
// its output queue has emptied: once QSerialPort's own buffer is empty, the queue is
// polled every few milliseconds until it is empty too, and only while bytes wait.
//
// A slow stream arrives a few bytes at a time, one wake-up each (a thousand a second at
// 115200 bit/s in 1 ms pieces). After a small read the port's read notification rests
// for kReadPauseMs, so what comes meanwhile is taken in one read; a stream that had bytes
// waiting when the rest ended rests kSteadyPauseMs; a large read (a flood), and the small
// reads that catch up within kReadPauseMs of it, rest not at all. The first byte after a
// quiet line is read at once, a short reply's rest is the short one, and a reply being
// taken is read without rests (setPromptReads).
class QSerialBackend final : public SerialBackend {
    Q_OBJECT
  public:
    explicit QSerialBackend(const QString& device, QObject* parent = nullptr);
    ~QSerialBackend() override;

    Result open(const SerialSettings& settings) override;
    void close() override;
    Result applySettings(const SerialSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    qint64 bytesWaiting() const override;
    void discardOutput() override;
    QByteArray readAll() override;
    void setDtr(bool on) override;
    bool dsr() const override { return dsr_; }
    void setPromptReads(bool on) override;
    // The read notification is off for a rest now.
    bool resting() const { return readPause_.isActive(); }
    bool readsSteadily() const override {
        return readPause_.isActive() && readPause_.interval() == kSteadyPauseMs;
    }

    static std::unique_ptr<SerialBackend> create(const QString& device);

    static constexpr int kReadPauseMs = 8;
    // As long as the receive window's display frame: a steady stream is read once a
    // frame, and what it brings goes on screen in the same pass.
    static constexpr int kSteadyPauseMs = 50;
    // A read this soon after a rest ended found bytes waiting.
    static constexpr int kSteadyWithinMs = 2;
    // A read at least this large is a flood: no pause after it.
    static constexpr qsizetype kFloodRead = 1024;

  private:
    void resumeReading();
    void onError(QSerialPort::SerialPortError error);
    void pollDsr();
    qint64 driverQueued() const;
    void checkDrained();

    QString device_;
    QSerialPort port_;
    QTimer dsrPoll_;
    QTimer drainPoll_;
    QTimer readPause_;
    QElapsedTimer resumed_;
    QElapsedTimer flooded_;
    // QSerialPort's own read notifier, where it has one (on Unix); without it reads are
    // never paused.
    QPointer<QSocketNotifier> readNotifier_;
    bool dsr_ = false;
    bool promptReads_ = false;
    bool pinoutSupported_ = true;
    bool lost_ = false;
    // Something was written since outputDrained was last raised.
    bool drainPending_ = false;
};
