#pragma once

// The host's end of a terminal line, for driving a station from tests and
// small tools: opens a device (typically a station's pty slave) raw, writes
// bytes, and keeps what arrives, one entry per read.

#include <QByteArray>
#include <QList>
#include <QObject>

class QSocketNotifier;

namespace t83sim {

class HostLine : public QObject {
    Q_OBJECT
  public:
    explicit HostLine(QObject* parent = nullptr);
    ~HostLine() override;

    bool open(const QString& path, QString* error = nullptr);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // Writes all of the bytes in one call; returns false if the line took
    // fewer.
    bool write(const QByteArray& bytes);

    // Everything read so far, and the same split into the individual reads.
    QByteArray received() const;
    const QList<QByteArray>& reads() const { return m_reads; }
    void clear() { m_reads.clear(); }

  signals:
    void bytesArrived(const QByteArray& bytes);

  private:
    void onReadable();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QList<QByteArray> m_reads;
};

} // namespace t83sim
