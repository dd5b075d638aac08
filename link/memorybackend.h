#pragma once

#include "link/serialbackend.h"

#include <QPointer>

// The far end of an in-memory line: what a test (or an in-process peer) sees. It
// outlives the backends that open it, as a device outlives its openings.
class MemoryLine : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // Bytes from the far end towards the program.
    void feed(const QByteArray& bytes);
    // Everything the program wrote since the last take.
    QByteArray takeWritten();
    const QByteArray& written() const { return written_; }
    void setDsr(bool on);
    bool dsr() const { return dsr_; }
    bool dtr() const { return dtr_; }
    bool isOpen() const { return open_; }
    // Simulates another program holding the device.
    void setBusy(bool busy) { busy_ = busy; }
    // Simulates the device going away while open.
    void unplug();
    SerialSettings settings() const { return settings_; }
    int openCount() const { return openCount_; }

  signals:
    void bytesWritten(const QByteArray& bytes);
    void fedBytes();
    void dsrSet(bool on);
    void unplugged();

  private:
    friend class MemoryBackend;
    QByteArray written_;
    QByteArray toProgram_;
    SerialSettings settings_;
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
    QByteArray readAll() override;
    void setDtr(bool on) override;
    bool dsr() const override;

  private:
    QPointer<MemoryLine> line_;
    bool open_ = false;
};
