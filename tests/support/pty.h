#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The master side of a pseudo-terminal, standing in for a device at the far end of a
// serial line. The slave side (slavePath) is what the program opens.
class Pty : public QObject {
    Q_OBJECT
  public:
    Pty();
    ~Pty() override;
    bool ok() const { return fd_ >= 0; }
    QString slavePath() const { return slave_; }
    void write(const QByteArray& bytes);
    // Everything read from the master so far (what the program wrote).
    QByteArray received() const { return received_; }
    QByteArray take();
    // Closes the master, so the slave's reader sees the far end go away.
    void closeMaster();

  signals:
    void bytesArrived();

  private:
    void readMaster();
    int fd_ = -1;
    int heldSlave_ = -1;
    QString slave_;
    QByteArray received_;
    QSocketNotifier* notifier_ = nullptr;
};
