// The simulated module on real pseudo-terminals: a host end opened on the
// station's slave, replies timed and split as asked, and two stations linked
// by radio.

#include "sim/hostline.h"
#include "sim/station.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace t83sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class SimStationTest : public QObject {
    Q_OBJECT
  private slots:
    void probeIsAnsweredThroughThePty();
    void frameWrittenInPiecesIsReassembled();
    void splitReplyArrivesInSeveralReads();
    void replyWaitsForTheDelay();
    void linkedStationsCarryDataBothWays();
    void abandonedFrameStartIsSentAsData();
    void unlinkedStationsCarryNothing();

  private:
    // Opens a station on a new pty and a host end on its slave.
    void start(Station& station, HostLine& host) {
        QString error;
        QVERIFY2(station.openPty(&error), qPrintable(error));
        QVERIFY(station.linePath().startsWith(QLatin1String("/dev/")));
        QVERIFY2(host.open(station.linePath(), &error), qPrintable(error));
    }
};

void SimStationTest::probeIsAnsweredThroughThePty() {
    Station station;
    HostLine host;
    start(station, host);
    QSignalSpy frames(&station, &Station::frameReceived);
    QVERIFY(host.write(hex("D7FE")));
    QTRY_COMPARE(host.received(), hex("D7FD"));
    QCOMPARE(frames.size(), 1);
    QCOMPARE(station.protocol().receivedFrames().first().code, quint8(0xFE));

    host.clear();
    QVERIFY(host.write(hex("D7EFD7D805")));
    QTRY_COMPARE(host.received(), hex("D7EF229100229100D7D8050030"));
}

void SimStationTest::frameWrittenInPiecesIsReassembled() {
    Station station;
    HostLine host;
    start(station, host);
    QVERIFY(host.write(hex("D7")));
    QTRY_VERIFY(station.protocol().hasIncompleteFrame());
    QVERIFY(host.write(hex("FF2300")));
    QSignalSpy frames(&station, &Station::frameReceived);
    QVERIFY(host.write(hex("00231250")));
    QVERIFY(frames.wait(2000));
    QTRY_COMPARE(host.received(), hex("D7FA"));
    QCOMPARE(station.protocol().settings().rxFrequency, packFrequency(231250));
}

void SimStationTest::splitReplyArrivesInSeveralReads() {
    SimOptions options;
    options.splitReplies = true;
    options.splitGapMs = 20;
    Station station(options);
    HostLine host;
    start(station, host);
    QVERIFY(host.write(hex("D7EF")));
    QTRY_COMPARE(host.received(), hex("D7EF229100229100"));
    QVERIFY2(host.reads().size() >= 2, "the reply came in a single read");
}

void SimStationTest::replyWaitsForTheDelay() {
    SimOptions options;
    options.replyDelayMs = 150;
    Station station(options);
    HostLine host;
    start(station, host);
    QSignalSpy arrived(&host, &HostLine::bytesArrived);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(host.write(hex("D7E6")));
    QVERIFY(arrived.wait(2000));
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(host.received(), hex("D7E65A"));
}

void SimStationTest::linkedStationsCarryDataBothWays() {
    Station a;
    Station b;
    HostLine hostA;
    HostLine hostB;
    start(a, hostA);
    start(b, hostB);
    Station::link(&a, &b);
    QCOMPARE(a.peer(), &b);
    QCOMPARE(b.peer(), &a);

    // Data and a command in one write: the command is answered on its own
    // line, only the data crosses.
    QVERIFY(hostA.write(QByteArray("hello") + hex("D7FE") + QByteArray(" world")));
    QTRY_COMPARE(hostB.received(), QByteArray("hello world"));
    QTRY_COMPARE(hostA.received(), hex("D7FD"));

    // The other way, with a file header that starts like a frame but is data.
    const QByteArray header = hex("D705612E62696E2A0000000A");
    QVERIFY(hostB.write(header + hex("D7EC")));
    QTRY_COMPARE(hostA.received(), hex("D7FD") + header);
    QTRY_COMPARE(hostB.received(), QByteArray("hello world") + hex("D7EC") + "T83SIM V1.0");
    QCOMPARE(a.protocol().receivedFrames().size(), 1);
    QCOMPARE(b.protocol().receivedFrames().size(), 1);
}

void SimStationTest::abandonedFrameStartIsSentAsData() {
    SimOptions options;
    options.frameTimeoutMs = 50;
    Station a(options);
    Station b;
    HostLine hostA;
    HostLine hostB;
    start(a, hostA);
    start(b, hostB);
    Station::link(&a, &b);
    QVERIFY(hostA.write(hex("41D7")));
    QTRY_COMPARE(hostB.received(), hex("41D7"));
    QVERIFY(!a.protocol().hasIncompleteFrame());
    QVERIFY(hostA.received().isEmpty());
}

void SimStationTest::unlinkedStationsCarryNothing() {
    Station a;
    Station b;
    HostLine hostA;
    HostLine hostB;
    start(a, hostA);
    start(b, hostB);
    Station::link(&a, &b);
    b.unlink();
    QVERIFY(a.peer() == nullptr);
    QSignalSpy sent(&a, &Station::radioSent);
    QVERIFY(hostA.write(QByteArray("lost") + hex("D7FE")));
    QTRY_COMPARE(hostA.received(), hex("D7FD"));
    QCOMPARE(sent.size(), 1);
    // Anything forwarded to b would reach its line before b's own answer.
    QVERIFY(hostB.write(hex("D7FE")));
    QTRY_COMPARE(hostB.received(), hex("D7FD"));
}

QTEST_GUILESS_MAIN(SimStationTest)
#include "test_sim_station.moc"
