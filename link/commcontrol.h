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
//  - a DSR change raises CommEvent 4.
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
    int InBufferCount() const { return static_cast<int>(inBuffer_.size()); }
    bool DTREnable() const { return dtrEnable_; }
    void setDTREnable(bool on);
    bool DSRHolding() const;
    int CommEvent() const { return commEvent_; }

    static QByteArray toAnsi(const QString& text);

  signals:
    void OnComm();
    // The open line went away; the port is closed already. Raised once per loss.
    void portLost(const QString& description);

  private:
    void pullFromBackend();
    void schedule();
    void dispatch();
    QByteArray takeInput();

    PortResolver resolver_;
    SerialBackendFactory factory_;
    std::unique_ptr<SerialBackend> backend_;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    QByteArray inBuffer_;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int inputMode_ = comInputModeText;
    bool dtrEnable_ = false;
    int commEvent_ = 0;
    int pendingDsrEvents_ = 0;
    bool dispatchScheduled_ = false;
    bool inHandler_ = false;
    bool changedSinceEvent_ = false;
    QStringDecoder decoder_;
};
