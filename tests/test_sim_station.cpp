// The simulated module on real pseudo-terminals: a host end opened on the
// station's slave, replies timed and split as asked, and two stations linked
// by radio.

#include "sim/hostline.h"
#include "sim/station.h"
#include "tests/support/fileheader.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
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
    void fileCrossesToThePeerBitForBit();
    void stoppedTransferGivesWayToCommands();
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

    // The other way, a small file whose data holds frames: all of it is data,
    // and the command after it is answered.
    const QByteArray file = fileHeader("a.bin", 10) + hex("D7FE0102D7EF03D7D800");
    QVERIFY(hostB.write(file + hex("D7EC")));
    QTRY_COMPARE(hostA.received(), hex("D7FD") + file);
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

void SimStationTest::fileCrossesToThePeerBitForBit() {
    // 64 KB of every byte value, with frame starts planted all through it.
    QRandomGenerator random(83);
    QByteArray data(64 * 1024, Qt::Uninitialized);
    for (char& byte : data)
        byte = char(random.bounded(256));
    for (qsizetype i = 0; i + 1 < data.size(); i += 97) {
        data[i] = char(0xD7);
        data[i + 1] = char(i % 2 ? 0xFE : 0xEF);
    }
    QCOMPARE(QSet<char>(data.cbegin(), data.cend()).size(), 256);
    const QByteArray header = fileHeader("\xb2\xe2\xca\xd4.bin", quint32(data.size()));

    Station a;
    Station b;
    HostLine hostA;
    HostLine hostB;
    start(a, hostA);
    start(b, hostB);
    Station::link(&a, &b);
    QByteArray carried;
    connect(&hostB, &HostLine::bytesArrived, this,
            [&](const QByteArray& bytes) { carried += bytes; });

    // The header in one write, as the tool sends it; the data only once the
    // header has crossed, in pieces of changing size. Each piece is let
    // through before the next so the line never fills.
    QVERIFY(hostA.write(header));
    QVERIFY(QTest::qWaitFor([&] { return carried.size() >= header.size(); }, 5000));
    qsizetype sent = 0;
    for (int k = 0; sent < data.size(); ++k) {
        const qsizetype size = qMin(data.size() - sent, qsizetype(1 + (k * 733) % 3000));
        QVERIFY(hostA.write(data.sliced(sent, size)));
        sent += size;
        QVERIFY2(QTest::qWaitFor([&] { return carried.size() >= header.size() + sent; }, 5000),
                 qPrintable(QString::number(sent)));
    }

    // A probe and a last data byte after the file: the probe is answered, and
    // only the byte follows the file on the peer's line.
    QVERIFY(hostA.write(hex("D7FE") + "!"));
    QTRY_COMPARE(hostA.received(), hex("D7FD"));
    QTRY_COMPARE(carried.size(), header.size() + data.size() + 1);
    const QByteArray expected = header + data + "!";
    qsizetype firstDifference = 0;
    while (firstDifference < carried.size() &&
           carried[firstDifference] == expected[firstDifference])
        ++firstDifference;
    QCOMPARE(firstDifference, expected.size());
    QCOMPARE(a.protocol().receivedFrames().size(), 1);
}

void SimStationTest::stoppedTransferGivesWayToCommands() {
    SimOptions options;
    options.transferTimeoutMs = 50;
    Station a(options);
    Station b;
    HostLine hostA;
    HostLine hostB;
    start(a, hostA);
    start(b, hostB);
    Station::link(&a, &b);
    // The file announces 100 bytes, but the sender stops after three.
    const QByteArray begun = fileHeader("a.bin", 100) + "abc";
    QVERIFY(hostA.write(begun));
    QTRY_COMPARE(hostB.received(), begun);
    QTRY_VERIFY(!a.protocol().transferInProgress());
    QVERIFY(hostA.write(hex("D7FE") + "!"));
    QTRY_COMPARE(hostA.received(), hex("D7FD"));
    QTRY_COMPARE(hostB.received(), begun + "!");
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
