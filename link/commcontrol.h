#pragma once

#include "link/serialbackend.h"

#include <QStringDecoder>
#include <QVariant>

// The program's one serial object. Its properties follow the classic serial-control
// contract that the rest of the program is written against:
//  - received bytes wait in an input buffer; a receive event (CommEvent 2) is raised
//    whenever at least RThreshold bytes wait and the previous handler has returned;
//    RThreshold 0 raises no receive events; events are never delivered re-entrantly;
//  - Input removes at most InputLen bytes (0 = all), as bytes in binary mode or as text
//    decoded from the ANSI code page (GBK) in text mode, a split double-byte character
//    being held until its second byte arrives;
//  - a DSR change raises CommEvent 4;
//  - closing the port, or losing it, empties the input buffer.
// Sent bytes wait until the line has taken them: OutBufferCount says how many still wait
// and OutputDrained says when none do any more.
// DTR has one owner, this object. setDTREnable is the base request; while any user holds
// DTR off the line's DTR is off whatever that request says.
class CommControl : public QObject {
    Q_OBJECT
  public:
    enum class Failure { None, InvalidPort, AlreadyOpen, Other };
    struct Result {
        Failure failure = Failure::None;
        QString description;
        bool ok() const { return failure == Failure::None; }
    };
    enum Event { comEvReceive = 2, comEvDSR = 4 };
    enum Mode { comInputModeText = 0, comInputModeBinary = 1 };
    // The parts of the program that pull DTR off while they send. A repeated data
    // string holds DataString for the whole run and DataStringBlock for each block, so
    // DTR stays off between its blocks; a link test likewise LinkTest and LinkTestBlock.
    enum class DtrUser {
        TypedKeys,
        DataString,
        FileSend,
        DataStringBlock,
        LinkTest,
        LinkTestBlock
    };

    // Maps a port number to its device path (empty: no such port).
    using PortResolver = std::function<QString(int port)>;

    CommControl(PortResolver resolver, SerialBackendFactory factory, QObject* parent = nullptr);
    ~CommControl() override;

    int CommPort() const { return commPort_; }
    Result setCommPort(int port);
    QString Settings() const { return settings_; }
    Result setSettings(const QString& text);
    bool PortOpen() const { return backend_ != nullptr; }
    Result setPortOpen(bool open);

    // Sends bytes as they are, or text in the ANSI code page. False when the port is
    // closed or the line refused the bytes; nothing else happens then.
    bool Output(const QByteArray& bytes);
    bool Output(const QString& text);
    // Bytes written but not yet gone from the machine: ours and the driver's (0 when
    // closed).
    int OutBufferCount() const;
    // Drops every byte still waiting to leave; nothing happens when closed.
    void ClearOutBuffer();

    // A QByteArray in binary mode, a QString in text mode.
    QVariant Input();
    QByteArray InputBytes(); // always binary, whatever the mode
    int InputLen() const { return inputLen_; }
    void setInputLen(int n) { inputLen_ = std::max(0, n); }
    int RThreshold() const { return rThreshold_; }
    void setRThreshold(int n);
    int InputMode() const { return inputMode_; }
    void setInputMode(int mode) {
        inputMode_ = mode == comInputModeText ? mode : comInputModeBinary;
    }
    int InBufferCount() const { return static_cast<int>(inBuffer_.size() - inStart_); }
    // Where `byte` first waits in the input buffer (0 = next to be read), or -1.
    int InBufferIndexOf(char byte) const;
    // The DTR state in force, the same as LinkDtr().
    bool DTREnable() const { return linkDtr_; }
    // The base request: DTR is on when this was last set true and no user holds it off.
    // Applied to the line at once when open, and to every line opened later.
    void setDTREnable(bool on);
    // A user that needs DTR off while it sends. Holding twice is holding once; releasing
    // a user that does not hold is nothing. Holds outlive closing and reopening the port.
    void holdDtrOff(DtrUser user);
    void releaseDtr(DtrUser user);
    // The DTR state the program has set (true = on), open port or not.
    bool LinkDtr() const { return linkDtr_; }
    bool DSRHolding() const;
    // Every byte read as soon as it comes (while a reply is being taken), or the line
    // may rest between reads. Kept for lines opened later.
    void setPromptReads(bool on);
    bool promptReads() const { return promptReads_; }
    // A steady stream is being read once a display frame (see SerialBackend).
    bool readsSteadily() const;
    int CommEvent() const { return commEvent_; }

    // Received bytes waiting to be read are kept up to this many; more are dropped.
    static constexpr qsizetype kInBufferLimit = qsizetype(1) << 20;
    // Bytes dropped because the input buffer was full, since the port was opened.
    qint64 droppedBytes() const { return dropped_; }

    static QByteArray toAnsi(const QString& text);
    // Text from ANSI (GBK) bytes, on their own: nothing is carried over between calls.
    static QString fromAnsi(const QByteArray& bytes);

  signals:
    void OnComm();
    // Bytes from the line went into the input buffer, whatever RThreshold says: the line
    // is not silent. No receive event is implied.
    void bytesArrived();
    // The open line went away; the port is closed already. Raised once per loss.
    // `detail` as SerialBackend::lost gives it (empty when the device simply vanished).
    void portLost(const QString& detail);
    // The output emptied after a write (the bytes left, or ClearOutBuffer dropped them).
    // Raised once per emptying, from the event loop; never when nothing was written.
    void OutputDrained();
    // LinkDtr changed; raised once per change, never when a request changes nothing.
    void dtrChanged(bool on);
    // The input buffer was full and received bytes were dropped, as a UART driver's
    // overrun: raised once when it starts dropping (with what this first arrival lost),
    // again only after the buffer has been emptied.
    void overrun(qint64 dropped);

  private:
    // Empties the input buffer: a closed port has none.
    void dropInput();
    bool takeFromBackend(); // true when bytes were taken into the input buffer
    void pullFromBackend();
    // New bytes on the line: the receive event runs at once unless a handler is running.
    void onReadyRead();
    void schedule();
    void dispatch();
    QByteArray takeInput();
    void updateDtr();

    PortResolver resolver_;
    SerialBackendFactory factory_;
    std::unique_ptr<SerialBackend> backend_;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    // Received bytes; those before inStart_ have been read already. Reads move the start
    // instead of copying the rest to the front; the space is reclaimed once it is large.
    QByteArray inBuffer_;
    qsizetype inStart_ = 0;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int inputMode_ = comInputModeText;
    bool dtrRequest_ = false;
    unsigned dtrHolders_ = 0; // one bit per DtrUser
    bool linkDtr_ = false;
    bool promptReads_ = false;
    int commEvent_ = 0;
    int pendingDsrEvents_ = 0;
    bool dispatchScheduled_ = false;
    bool inHandler_ = false;
    bool changedSinceEvent_ = false;
    qint64 dropped_ = 0;
    bool overrunTold_ = false;
    QStringDecoder decoder_;
};
