#pragma once

#include "link/serialbackend.h"

#include <QSerialPort>
#include <QTimer>

// A real serial device through QSerialPort. DSR has no change signal in Qt, so the
// line is polled every 50 ms while the port is open.
class QSerialBackend final : public SerialBackend {
    Q_OBJECT
  public:
    explicit QSerialBackend(const QString& device, QObject* parent = nullptr);
    ~QSerialBackend() override;

    Result open(const SerialSettings& settings) override;
    void close() override;
    Result applySettings(const SerialSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    void setDtr(bool on) override;
    bool dsr() const override { return dsr_; }

    static std::unique_ptr<SerialBackend> create(const QString& device);

  private:
    void onError(QSerialPort::SerialPortError error);
    void pollDsr();

    QString device_;
    QSerialPort port_;
    QTimer dsrPoll_;
    bool dsr_ = false;
    bool pinoutSupported_ = true;
    bool lost_ = false;
};
