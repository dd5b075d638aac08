#pragma once

// A simulated module on a terminal line: runs ModuleProtocol over a fresh
// pseudo-terminal or a real serial device, writes replies with the delay and
// splitting the options ask for, and hands radio data to a linked station.

#include "sim/impairment.h"
#include "sim/protocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <memory>

class QSocketNotifier;

namespace t83sim {

class Station : public QObject {
    Q_OBJECT
  public:
    explicit Station(const SimOptions& options = {}, QObject* parent = nullptr);
    ~Station() override;

    // Creates a new pseudo-terminal; the host opens linePath().
    bool openPty(QString* error = nullptr);
    bool openDevice(const QString& path, int baud, QString* error = nullptr);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString linePath() const { return m_path; }

    ModuleProtocol& protocol() { return m_protocol; }
    const ModuleProtocol& protocol() const { return m_protocol; }

    // Joins two stations by radio: data either takes in comes out of the
    // other's line. Commands stay with the station that received them.
    static void link(Station* a, Station* b);
    void unlink();
    Station* peer() const { return m_peer; }
    // The radio data this station sends passes through `impairer` (lost, corrupted,
    // duplicated packets); null: unchanged.
    void setImpairer(std::unique_ptr<Impairer> impairer);

  public slots:
    // Radio data arriving from the peer, written to this station's line.
    void receiveRadio(const QByteArray& data);

  signals:
    void frameReceived(const t83sim::ReceivedFrame& frame);
    void replyQueued(const QByteArray& reply);
    void radioSent(const QByteArray& data);
    // The line failed (for example a serial device was unplugged).
    void lineError(const QString& message);

  private:
    struct Pending {
        qint64 dueMs;
        QByteArray bytes;
        bool split;
    };

    bool adopt(int fd, const QString& path);
    void onReadable();
    void handle(const FeedResult& result);
    void enqueue(const QByteArray& bytes, qint64 delayMs, bool split);
    void pump();
    void writeOut(const QByteArray& bytes);
    void flushWrites();
    void giveUpFrame();
    void restartTimers();
    void sendRadio(const QByteArray& data);

    ModuleProtocol m_protocol;
    int m_fd = -1;
    int m_keeperFd = -1;
    QString m_path;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_writeBuffer;
    std::deque<Pending> m_queue;
    QTimer m_queueTimer;
    QTimer m_frameTimer;
    QTimer m_transferTimer;
    QTimer m_impairTimer; // releases a packet the impairer holds incomplete
    std::unique_ptr<Impairer> m_impairer;
    QElapsedTimer m_clock;
    QPointer<Station> m_peer;
};

} // namespace t83sim
