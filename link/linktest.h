#pragma once

#include "link/commcontrol.h"
#include "link/linktestresult.h"
#include "link/receiveroute.h"
#include "protocol/linkpacket.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ModuleSession;
class PacedSender;
class ReplyParser;

// A link test between two stations, without its window: what the window and the command
// line drive.
//  - Send: `count` packets of `size` payload bytes, one every `intervalMs` (0: back to
//    back at the line's pace), DTR held off while they go. With `expectEcho` the far
//    station sends them back: the test then counts the echoes and measures round-trip
//    times, and ends once every echo is in or the line has been quiet for `quietMs`
//    after the last packet; without it, once the last packet has left (no verdict here:
//    the receiver has it).
//  - Receive: counts what arrives (LinkTally); ends once the last sequence number has
//    arrived and the line then stays quiet for kLingerMs (a late duplicate still counts),
//    or the line has been quiet for `quietMs` after the first packet.
//  - Echo: as Receive, and every good packet goes straight back.
// While a test runs it takes every received byte from the reply parser (a receive
// route): its packets and whatever else arrives are counted, not shown in the receive
// window, and module replies are not parsed. The route goes back to the parser at the
// end. A line lost mid-test ends it with what was counted, cut short; so does stop().
class LinkTest : public QObject, public ReceiveRoute {
    Q_OBJECT
  public:
    struct Config {
        LinkTestRole role = LinkTestRole::Send;
        int count = 1000;
        int size = 32;
        double intervalMs = -1; // < 0: defaultIntervalMs()
        double maxPerPercent = 1.0;
        bool expectEcho = false;
        int quietMs = 3000;
    };

    static constexpr int kLingerMs = 300;
    static constexpr int kPerWindow = 50;

    explicit LinkTest(ModuleSession& session, QObject* parent = nullptr);
    ~LinkTest() override;

    // Line time of one packet of `size` payload bytes at the port's settings, in ms.
    static double lineTimeMs(int size, const QString& portSettings);
    // The line time plus 20 %.
    static double defaultIntervalMs(int size, const QString& portSettings);

    // False with `error` when the port is closed, the module is being read or written
    // (its replies would be taken for the test's), another receive route (the file
    // capture) holds the line, a test runs already or the numbers are out of range.
    bool start(const Config& config, QString* error = nullptr);
    // Ends the test at once with what was counted, cut short.
    void stop();
    bool running() const { return running_; }
    // The counts so far (final after finished()): while the test runs, lost and PER
    // count only the numbers up to the highest heard.
    LinkTestResult snapshot() const;

    void receivePass() override;

  signals:
    // Packets sent (sender, echo station) or the highest sequence number heard + 1, of
    // the run's total (0 while unknown).
    void progress(int done, int total);
    // A good packet arrived: the PER over the last kPerWindow sequence numbers (0..1)
    // and, for an echo back at the sender, its round-trip time in ms (else -1).
    void sample(int seq, double windowPer, double rttMs);
    // The counters changed (at most every 50 ms, and at the end).
    void countsChanged();
    void finished(const LinkTestResult& result);

  private:
    void tick();
    void pump();
    // `live`: during the test (echoes go back, samples are emitted); else the rest
    // counted at the end.
    void take(const QList<linkpacket::Scanner::Packet>& packets, bool live);
    void fillCounts(LinkTestResult* r) const;
    void heardQuiet();
    void finish(bool cutShort, const QString& reason);
    void reportCounts(bool force);

    ModuleSession& session_;
    CommControl& comm_;
    ReplyParser& parser_;
    PacedSender* sender_;
    Config config_;
    bool running_ = false;
    LinkTestResult result_;
    LinkTally tally_;
    linkpacket::Scanner scanner_;

    QTimer tick_;
    QTimer quiet_;
    QElapsedTimer clock_;
    qint64 intervalUs_ = 0;
    int nextSeq_ = 0;  // next packet to queue (sender)
    QByteArray queue_; // bytes waiting for the paced sender
    int queuedPackets_ = 0;
    QList<qint64> sentAtUs_;
    bool allSent_ = false;
    bool heardAny_ = false;
    int rttCount_ = 0;
    double rttSum_ = 0;
    qint64 lastCountsMs_ = -1000;
};
