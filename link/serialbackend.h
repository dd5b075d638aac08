#pragma once

#include "serial/serialsettings.h"

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>

// One opened line under the serial object: a real port or an in-memory line for tests.
class SerialBackend : public QObject {
    Q_OBJECT
  public:
    enum class Failure { None, NotFound, InUse, PermissionDenied, Other };
    struct Result {
        Failure failure = Failure::None;
        QString description;
        bool ok() const { return failure == Failure::None; }
    };

    using QObject::QObject;
    ~SerialBackend() override = default;

    virtual Result open(const SerialSettings& settings) = 0;
    virtual void close() = 0;
    // Changes rate, parity and framing of the open line. A driver that refuses a part of
    // the request (a pseudo-terminal refuses parity) leaves the line usable: only a
    // refusal the line cannot live with is a failure.
    virtual Result applySettings(const SerialSettings& settings) = 0;
    // Queues bytes for sending; they leave at the line's pace.
    virtual bool write(const QByteArray& bytes) = 0;
    // Bytes written but not yet gone from the machine: our own buffer and the driver's
    // output queue together.
    virtual qint64 bytesWaiting() const = 0;
    // Drops every byte still waiting, ours and the driver's.
    virtual void discardOutput() = 0;
    virtual QByteArray readAll() = 0;
    virtual void setDtr(bool on) = 0;
    virtual bool dsr() const = 0;
    // A line that rests between reads (to take a slow stream in fewer wake-ups) reads
    // every byte as soon as it comes while this is on: a reply being taken has timers
    // that would take a rest for a quiet line.
    virtual void setPromptReads(bool on) { (void)on; }
    // The line takes a steady stream one read a rest: the read just taken started a rest
    // as long as a display frame.
    virtual bool readsSteadily() const { return false; }

  signals:
    void readyRead();
    void dsrChanged(bool on);
    // Nothing waits any more after a write: raised once each time bytesWaiting() falls to
    // 0, whether the bytes left or were discarded, and always from the event loop, never
    // from inside write() or discardOutput(). Never raised when nothing was written.
    void outputDrained();
    // The line went away (device unplugged, far end closed); raised once. `detail` is
    // the system's explanation of a failed read or write, and empty when the device
    // simply vanished: the system's last error text then is whatever happened to be
    // left over and explains nothing.
    void lost(const QString& detail);
};

// Makes the backend for a device path (from the port map).
using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>(const QString& device)>;
