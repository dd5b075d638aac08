#pragma once

#include "link/serialbackend.h"

#include <QSerialPort>
#include <QTimer>

// A real serial device through QSerialPort. DSR has no change signal in Qt, so the
// line is polled every 50 ms while the port is open. Neither does the driver say when
// its output queue has emptied: once QSerialPort's own buffer is empty, the queue is
// polled every few milliseconds until it is empty too, and only while bytes wait.
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

    static std::unique_ptr<SerialBackend> create(const QString& device);

  private:
    void onError(QSerialPort::SerialPortError error);
    void pollDsr();
    qint64 driverQueued() const;
    void checkDrained();

    QString device_;
    QSerialPort port_;
    QTimer dsrPoll_;
    QTimer drainPoll_;
    bool dsr_ = false;
    bool pinoutSupported_ = true;
    bool lost_ = false;
    // Something was written since outputDrained was last raised.
    bool drainPending_ = false;
};
