// The serial object over an in-memory line: thresholds, read lengths, text decoding,
// DSR events, closed-port writes, a vanishing device, output that waits for a slow line,
// and DTR with several users.
#include "link/commcontrol.h"
#include "link/memorybackend.h"
#include "serial/serialsettings.h"
#include "tests/support/testenv.h"

#include <QSignalSpy>

class TestCommControl : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<CommControl> comm;
    QList<int> events;
    std::function<void()> handler;

    void openFresh() {
        comm = std::make_unique<CommControl>(
            [](int port) { return port == 1 ? QStringLiteral("mem:1") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        events.clear();
        handler = nullptr;
        connect(comm.get(), &CommControl::OnComm, this, [this] {
            events << comm->CommEvent();
            if (handler)
                handler();
        });
        QVERIFY(comm->setCommPort(1).ok());
        QVERIFY(comm->setSettings(QStringLiteral("1200,n,8,1")).ok());
        QVERIFY(comm->setPortOpen(true).ok());
        comm->setInputMode(CommControl::comInputModeBinary);
        comm->setRThreshold(1);
        comm->setInputLen(1);
    }

  private slots:
    void init() {
        line.setDrainRate(0);
        line.takeWritten();
        line.clearTimeline();
        openFresh();
    }
    void cleanup() { comm.reset(); }

    void settingsTextsParseInEitherCase() {
        const auto a = SerialSettings::parse(QStringLiteral("9600,n,8,1"));
        QVERIFY(a && a->rate == 9600 && a->parity == QSerialPort::NoParity);
        const auto b = SerialSettings::parse(QStringLiteral("1200,M,8,1"));
        QVERIFY(b && b->parity == QSerialPort::MarkParity && b->dataBits == QSerialPort::Data8);
        const auto c = SerialSettings::parse(QStringLiteral("56000,e,7,2"));
        QVERIFY(c && c->parity == QSerialPort::EvenParity && c->dataBits == QSerialPort::Data7 &&
                c->stopBits == QSerialPort::TwoStop);
        QVERIFY(!SerialSettings::parse(QStringLiteral("0,n,8,1")));
        QVERIFY(!SerialSettings::parse(QStringLiteral("9600,x,8,1")));
        QVERIFY(!SerialSettings::parse(QStringLiteral("9600,n,8")));
        // A rejected settings text leaves the old one in force.
        QVERIFY(!comm->setSettings(QStringLiteral("abc")).ok());
        QCOMPARE(comm->Settings(), QStringLiteral("1200,n,8,1"));
        QVERIFY(comm->setSettings(QStringLiteral("1200,E,8,1")).ok());
        QCOMPARE(line.settings().parity, QSerialPort::EvenParity);
    }

    void oneEventPerByteAtThresholdOne() {
        QByteArray got;
        handler = [&] { got += comm->InputBytes(); };
        line.feed(QByteArray("\x41\x42\x43", 3));
        QTRY_COMPARE(got, QByteArray("ABC"));
        QCOMPARE(events, (QList<int>{2, 2, 2}));
    }

    void raisingThresholdWhileBytesWaitLosesNothing() {
        // The handler reads the first byte and asks for a six-byte payload, as the
        // reply parser does after a reply code.
        QList<QByteArray> reads;
        handler = [&] {
            const QByteArray chunk = comm->InputBytes();
            reads << chunk;
            if (reads.size() == 1) {
                comm->setRThreshold(6);
                comm->setInputLen(6);
            } else {
                comm->setRThreshold(1);
                comm->setInputLen(1);
            }
        };
        line.feed(QByteArray::fromHex("EF229100"));
        QTest::qWait(30);
        QCOMPARE(reads.size(), 1); // four bytes wait under a threshold of six
        QCOMPARE(comm->InBufferCount(), 3);
        line.feed(QByteArray::fromHex("2291007A"));
        QTRY_COMPARE(reads.size(), 3);
        QCOMPARE(reads[1], QByteArray::fromHex("229100229100"));
        QCOMPARE(reads[2], QByteArray::fromHex("7A"));
        QCOMPARE(comm->InBufferCount(), 0);
    }

    void loweringThresholdDeliversWhatWaits() {
        comm->setRThreshold(0); // no receive events at all
        line.feed(QByteArray("xyz"));
        QTest::qWait(30);
        QVERIFY(events.isEmpty());
        QCOMPARE(comm->InBufferCount(), 3);
        comm->setInputLen(0);
        QByteArray got;
        handler = [&] { got += comm->InputBytes(); };
        comm->setRThreshold(1);
        QTRY_COMPARE(got, QByteArray("xyz"));
        QCOMPARE(events.size(), 1); // InputLen 0 took everything in one read
    }

    void eventsAreNeverReentrant() {
        int depth = 0;
        int maxDepth = 0;
        int count = 0;
        handler = [&] {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            comm->InputBytes();
            if (count++ == 0) {
                // Bytes and a DSR change arriving while the handler runs (a handler that
                // lets the event loop run, as the capture path does).
                line.feed(QByteArray("more"));
                line.setDsr(true);
                QTest::qWait(20);
            }
            --depth;
        };
        line.feed(QByteArray("a"));
        QTRY_COMPARE(comm->InBufferCount(), 0);
        QTRY_VERIFY(events.contains(4));
        QCOMPARE(maxDepth, 1);
        QVERIFY(comm->DSRHolding());
    }

    void handlerThatReadsNothingIsNotCalledInALoop() {
        handler = [] {};
        line.feed(QByteArray("zz"));
        QTest::qWait(50);
        QCOMPARE(events.size(), 1);
        QCOMPARE(comm->InBufferCount(), 2);
        line.feed(QByteArray("!"));
        QTRY_COMPARE(events.size(), 2);
    }

    void textModeDecodesGbkAcrossSplitReads() {
        comm->setInputMode(CommControl::comInputModeText);
        comm->setInputLen(0);
        QString text;
        handler = [&] { text += comm->Input().toString(); };
        const QByteArray gbk = CommControl::toAnsi(QStringLiteral("中文A"));
        QCOMPARE(gbk, QByteArray::fromHex("d6d0cec441"));
        line.feed(gbk.left(1)); // half of 中
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(text, QString());
        line.feed(gbk.mid(1, 2)); // rest of 中, half of 文
        QTRY_COMPARE(text, QStringLiteral("中"));
        line.feed(gbk.mid(3));
        QTRY_COMPARE(text, QStringLiteral("中文A"));
    }

    void outputSendsBytesAndAnsiText() {
        QVERIFY(comm->Output(QByteArray::fromHex("D7FE")));
        QVERIFY(comm->Output(QStringLiteral("中a")));
        QCOMPARE(line.takeWritten(), QByteArray::fromHex("D7FED6D061"));
    }

    void closedPortRefusesWritesQuietly() {
        QVERIFY(comm->setPortOpen(false).ok());
        QVERIFY(!line.isOpen());
        QVERIFY(!comm->Output(QByteArray("x")));
        QVERIFY(!comm->Output(QStringLiteral("x")));
        QVERIFY(comm->Input().toByteArray().isEmpty());
        QVERIFY(line.written().isEmpty());
    }

    void openingFailuresAreClassified() {
        QCOMPARE(comm->setPortOpen(true).failure, CommControl::Failure::AlreadyOpen);
        comm->setPortOpen(false);
        QCOMPARE(comm->setCommPort(0).failure, CommControl::Failure::InvalidPort);
        QVERIFY(comm->setCommPort(2).ok());
        QCOMPARE(comm->setPortOpen(true).failure, CommControl::Failure::InvalidPort);
        QVERIFY(comm->setCommPort(1).ok());
        line.setBusy(true);
        QCOMPARE(comm->setPortOpen(true).failure, CommControl::Failure::AlreadyOpen);
        line.setBusy(false);
        QVERIFY(comm->setPortOpen(true).ok());
        // The port number cannot change under an open port.
        QCOMPARE(comm->setCommPort(2).failure, CommControl::Failure::AlreadyOpen);
    }

    void dtrFollowsDtrEnable() {
        comm->setDTREnable(true);
        QVERIFY(line.dtr());
        comm->setDTREnable(false);
        QVERIFY(!line.dtr());
        // Asked before opening, applied on opening.
        comm->setPortOpen(false);
        comm->setDTREnable(true);
        QVERIFY(comm->setPortOpen(true).ok());
        QVERIFY(line.dtr());
    }

    // 60 bytes at 1200 bit/s take half a second to leave; until then they count as
    // waiting, and the program hears once that the line is empty, after the last byte.
    void outputWaitsForTheLineAndSaysOnceWhenItHasLeft() {
        line.setDrainRate(120);
        QObject scope;
        QList<qsizetype> leftAtDrained; // what had left the line at each OutputDrained
        connect(comm.get(), &CommControl::OutputDrained, &scope,
                [&] { leftAtDrained << line.written().size(); });
        QList<QPair<qsizetype, int>> leftAndWaiting;
        connect(&line, &MemoryLine::bytesWritten, &scope, [&] {
            leftAndWaiting.append({line.written().size(), comm->OutBufferCount()});
        });

        QByteArray payload;
        for (int i = 0; i < 60; ++i)
            payload += char('A' + i % 26);
        const qint64 writtenAt = line.elapsedMs();
        QVERIFY(comm->Output(payload));
        QCOMPARE(comm->OutBufferCount(), 60);
        QVERIFY(line.written().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(comm->OutBufferCount(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(leftAtDrained.size(), 1, 10000);
        QCOMPARE(leftAtDrained.first(), payload.size());
        QCOMPARE(line.written(), payload);

        // No byte left before its time at 120 bytes/s, and the count always showed the rest.
        const QList<MemoryLine::Sent>& sent = line.timeline();
        QVERIFY(sent.size() > 1);
        qsizetype left = 0;
        for (const MemoryLine::Sent& chunk : sent) {
            left += chunk.bytes.size();
            QVERIFY2(left <= (chunk.ms - writtenAt + 2) * 120 / 1000,
                     qPrintable(QStringLiteral("%1 bytes gone after %2 ms")
                                    .arg(left)
                                    .arg(chunk.ms - writtenAt)));
        }
        QVERIFY(sent.last().ms - writtenAt >= 400);
        for (const auto& [gone, waiting] : leftAndWaiting)
            QCOMPARE(gone + waiting, payload.size());

        // The next write is told once more; the first emptying is not told again.
        QVERIFY(comm->Output(QByteArray("!")));
        QTRY_VERIFY_WITH_TIMEOUT(leftAtDrained.contains(payload.size() + 1), 10000);
        QCOMPARE(leftAtDrained, (QList<qsizetype>{payload.size(), payload.size() + 1}));
    }

    // Stopping a send: what still waits never reaches the line, and the program hears
    // that the output is empty.
    void clearedOutputNeverLeaves() {
        line.setDrainRate(120);
        QObject scope;
        QList<qsizetype> leftAtDrained;
        connect(comm.get(), &CommControl::OutputDrained, &scope,
                [&] { leftAtDrained << line.written().size(); });
        const QByteArray payload(60, 'a');
        QVERIFY(comm->Output(payload));
        QTRY_VERIFY_WITH_TIMEOUT(line.written().size() >= 3, 10000);
        comm->ClearOutBuffer();
        QCOMPARE(comm->OutBufferCount(), 0);
        const qsizetype gone = line.written().size();
        QVERIFY(gone < payload.size());
        QTRY_COMPARE_WITH_TIMEOUT(leftAtDrained.size(), 1, 10000);

        QVERIFY(comm->Output(QByteArray("END")));
        QTRY_VERIFY_WITH_TIMEOUT(line.written().endsWith("END"), 10000);
        QCOMPARE(line.written(), payload.left(gone) + "END");
        QTRY_COMPARE_WITH_TIMEOUT(leftAtDrained, (QList<qsizetype>{gone, gone + 3}), 10000);
    }

    void dtrIsOnOnlyWhenNoUserHoldsItOff() {
        using User = CommControl::DtrUser;
        comm->setDTREnable(true);
        QVERIFY(line.dtr());
        QSignalSpy changed(comm.get(), &CommControl::dtrChanged);
        comm->holdDtrOff(User::TypedKeys);
        comm->holdDtrOff(User::FileSend);
        comm->holdDtrOff(User::TypedKeys);
        QVERIFY(!line.dtr());
        comm->releaseDtr(User::TypedKeys);  // the file sender still holds it
        comm->releaseDtr(User::DataString); // never held
        comm->setDTREnable(true);           // the base request does not override a holder
        QVERIFY(!line.dtr());
        QVERIFY(!comm->LinkDtr());
        QVERIFY(!comm->DTREnable());
        comm->releaseDtr(User::FileSend);
        QVERIFY(line.dtr());
        QVERIFY(comm->LinkDtr());
        QVERIFY(comm->DTREnable());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(0).at(0).toBool(), false);
        QCOMPARE(changed.at(1).at(0).toBool(), true);

        // A hold taken while the port is closed is applied when it opens.
        QVERIFY(comm->setPortOpen(false).ok());
        comm->holdDtrOff(User::DataString);
        QVERIFY(comm->setPortOpen(true).ok());
        QVERIFY(!line.dtr());
        // With the base request off, the last release leaves DTR off.
        comm->setDTREnable(false);
        comm->releaseDtr(User::DataString);
        QVERIFY(!line.dtr());
        QCOMPARE(changed.count(), 3);
    }

    // A sender that holds DTR off and lets go when the output has drained: every one of
    // its bytes leaves the line with DTR off, and the next ones with DTR on.
    void bytesSentUnderAHoldLeaveWithDtrOff() {
        comm->setDTREnable(true);
        line.setDrainRate(120);
        QObject scope;
        connect(comm.get(), &CommControl::OutputDrained, &scope,
                [this] { comm->releaseDtr(CommControl::DtrUser::DataString); });
        comm->holdDtrOff(CommControl::DtrUser::DataString);
        QVERIFY(comm->Output(QByteArray("held")));
        QTRY_VERIFY_WITH_TIMEOUT(comm->LinkDtr(), 10000);
        QVERIFY(comm->Output(QByteArray("free")));
        QTRY_COMPARE_WITH_TIMEOUT(line.written(), QByteArray("heldfree"), 10000);
        QByteArray off;
        QByteArray on;
        for (const MemoryLine::Sent& chunk : line.timeline())
            (chunk.dtr ? on : off) += chunk.bytes;
        QCOMPARE(off, QByteArray("held"));
        QCOMPARE(on, QByteArray("free"));
    }

    void lostDeviceClosesThePortOnceAndDropsWhatWasUnread() {
        QSignalSpy lost(comm.get(), &CommControl::portLost);
        comm->setRThreshold(5); // a reply waiting for more than came
        line.feed(QByteArray("abc"));
        QTRY_COMPARE(comm->InBufferCount(), 3);
        line.unplug();
        QCOMPARE(comm->InBufferCount(), 0);
        line.unplug();
        QCOMPARE(lost.count(), 1);
        QVERIFY(!comm->PortOpen());
        QVERIFY(!comm->Output(QByteArray("x")));
        QVERIFY(comm->setPortOpen(true).ok()); // and it can be opened again
    }

    void aBufferNobodyReadsStaysBoundedAndSaysWhatItDropped() {
        // No receive events (a reply being collected, say): the line keeps bringing bytes.
        comm->setRThreshold(0);
        QSignalSpy overrun(comm.get(), &CommControl::overrun);
        const qsizetype chunk = 256 * 1024;
        for (int i = 0; i < 12; ++i) {
            line.feed(QByteArray(chunk, char('a' + i)));
            QTest::qWait(1);
        }
        QTRY_COMPARE(comm->droppedBytes() + comm->InBufferCount(), 12 * chunk);
        QCOMPARE(comm->InBufferCount(), CommControl::kInBufferLimit);
        QCOMPARE(overrun.size(), 1); // told once, not once per arrival
        // What was kept is the oldest, in order: the first four arrivals whole.
        comm->setInputLen(chunk);
        QCOMPARE(comm->InputBytes(), QByteArray(chunk, 'a'));
        comm->setInputLen(0);
        comm->InputBytes();
        // Emptied, it takes bytes again, and a new overrun is told again.
        line.feed(QByteArray(16, 'z'));
        QTRY_COMPARE(comm->InBufferCount(), 16);
        line.feed(QByteArray(CommControl::kInBufferLimit, 'y'));
        QTRY_COMPARE(overrun.size(), 2);
    }
};

T83_TEST_MAIN(TestCommControl)
#include "test_commcontrol.moc"
