// The paced sender over an in-memory line: the port's pace on a line without one, DTR
// held off for the whole send, a stop that lets nothing more out, a port that goes away
// mid-send, a megabyte at a high rate, and a slow line that never gets more than the
// window to hold.
#include "link/commcontrol.h"
#include "link/memorybackend.h"
#include "tests/support/testenv.h"
#include "link/pacedsender.h"

#include <QSignalSpy>

namespace {
using User = CommControl::DtrUser;

// Distinct bytes, so that a lost, repeated or reordered slice shows.
QByteArray pattern(qsizetype n) {
    QByteArray out(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        out[i] = char((i * 131 + (i >> 8) * 7) & 0xff);
    return out;
}

// 50 ms of line time at 9600 bit/s with ten bits per character.
constexpr qint64 kWindow9600 = 48;
} // namespace

class TestPacedSender : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<CommControl> comm;

  private slots:
    void init() {
        line.setDrainRate(0); // like a pseudo-terminal: everything leaves at once
        line.takeWritten();
        comm = std::make_unique<CommControl>(
            [](int port) { return port == 1 ? QStringLiteral("mem:1") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        QVERIFY(comm->setSettings(QStringLiteral("9600,n,8,1")).ok());
        QVERIFY(comm->setPortOpen(true).ok());
        comm->setDTREnable(true);
        line.clearTimeline();
    }
    void cleanup() { comm.reset(); }

    // A line with no pace of its own is fed at 9600 bit/s: 960 bytes take about a
    // second, arrive whole and in order, all with DTR off; DTR comes back 100 ms after
    // the last byte, and the progress shown is what the line has.
    void paceOrderAndDtrOnALineWithoutPace() {
        const QByteArray block = pattern(960);
        PacedSender sender(*comm, User::DataString, 100);
        QSignalSpy finished(&sender, &PacedSender::finished);
        QObject scope;
        QList<qint64> reports;
        QList<qint64> aheadOfLine; // reports that ran ahead of the line by more than 50 ms
        connect(&sender, &PacedSender::progress, &scope, [&](qint64 sent) {
            reports << sent;
            if (sent > line.written().size() + kWindow9600)
                aheadOfLine << sent;
        });
        QList<QPair<qint64, bool>> dtrChanges;
        connect(comm.get(), &CommControl::dtrChanged, &scope, [&](bool on) {
            dtrChanges.append({line.elapsedMs(), on});
        });

        const qint64 startMs = line.elapsedMs();
        QVERIFY(sender.start(block));
        QVERIFY(sender.busy());
        QVERIFY(!comm->LinkDtr());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 10000);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!sender.busy());
        QVERIFY(comm->LinkDtr());

        QCOMPARE(line.written(), block);
        const QList<MemoryLine::Sent>& timeline = line.timeline();
        QVERIFY(timeline.size() > 10); // fed in slices, not in one write
        for (const MemoryLine::Sent& chunk : timeline)
            QVERIFY2(
                !chunk.dtr,
                qPrintable(
                    QStringLiteral("bytes left with DTR on at %1 ms").arg(chunk.ms - startMs)));
        const qint64 lastByteMs = timeline.last().ms;
        QVERIFY2(lastByteMs - startMs >= 900,
                 qPrintable(QStringLiteral("960 bytes in %1 ms").arg(lastByteMs - startMs)));

        QCOMPARE(dtrChanges.size(), 2);
        QCOMPARE(dtrChanges[0].second, false);
        QCOMPARE(dtrChanges[1].second, true);
        QVERIFY2(dtrChanges[1].first - lastByteMs >= 100,
                 qPrintable(QStringLiteral("DTR on %1 ms after the last byte")
                                .arg(dtrChanges[1].first - lastByteMs)));

        QVERIFY2(aheadOfLine.isEmpty(), qPrintable(QString::number(aheadOfLine.value(0))));
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
        QCOMPARE(reports.last(), block.size());
        QCOMPARE(sender.sent(), block.size());
        // Coalesced: about one report per 20 ms, not one per slice or byte.
        QVERIFY2(reports.size() <= (lastByteMs - startMs) / 20 + 2,
                 qPrintable(QString::number(reports.size())));
    }

    // Stop on a line that paces like a real port: the bytes waiting in the buffer never
    // leave, no further byte is handed, DTR is back 100 ms later, and no new send starts
    // until then. The same sender then sends again.
    void stopLetsNothingMoreOut() {
        line.setDrainRate(960);
        const QByteArray block = pattern(960);
        PacedSender sender(*comm, User::DataString, 100);
        QSignalSpy finished(&sender, &PacedSender::finished);
        QSignalSpy stopped(&sender, &PacedSender::stopped);
        QObject scope;
        qint64 stoppedAtMs = -1;
        bool dtrOnAtStopped = false;
        connect(&sender, &PacedSender::stopped, &scope, [&] {
            stoppedAtMs = line.elapsedMs();
            dtrOnAtStopped = comm->LinkDtr();
        });

        QVERIFY(sender.start(block));
        QTRY_VERIFY_WITH_TIMEOUT(sender.sent() >= 200, 10000);
        QVERIFY(!sender.start(pattern(10))); // busy
        QVERIFY(comm->OutBufferCount() > 0); // something waits to be dropped

        const qint64 stopMs = line.elapsedMs();
        sender.stop();
        const qsizetype gone = line.written().size();
        QVERIFY(gone < block.size());
        QVERIFY(sender.sent() <= gone);
        QVERIFY(sender.busy()); // until DTR is back
        QVERIFY(!comm->LinkDtr());
        QVERIFY(!sender.start(pattern(10)));

        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(!sender.busy());
        QVERIFY(dtrOnAtStopped);
        QVERIFY(stoppedAtMs - stopMs >= 100);

        // A marker written after the stop follows the part of the block that had gone.
        QVERIFY(comm->Output(QByteArray("END")));
        QTRY_VERIFY_WITH_TIMEOUT(line.written().endsWith("END"), 10000);
        QCOMPARE(line.written(), block.left(gone) + "END");
        QCOMPARE(finished.count(), 0);

        QVERIFY(sender.start(QByteArray("again")));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QVERIFY(line.written().endsWith("ENDagain"));
        QCOMPARE(stopped.count(), 1);
    }

    // A device unplugged or a port closed mid-send ends the send once, with DTR given
    // back; a closed port or an empty block starts nothing.
    void portLostOrClosedMidSendFailsOnce() {
        const QByteArray block = pattern(960);
        PacedSender sender(*comm, User::FileSend, 50);
        QSignalSpy failed(&sender, &PacedSender::failed);
        QSignalSpy finished(&sender, &PacedSender::finished);

        QVERIFY(sender.start(block));
        QTRY_VERIFY_WITH_TIMEOUT(sender.sent() >= 100, 10000);
        line.unplug();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QVERIFY(!sender.busy());
        QVERIFY(comm->LinkDtr());
        const qint64 sentWhenLost = sender.sent();
        QVERIFY(sentWhenLost < block.size());

        QVERIFY(comm->setPortOpen(true).ok());
        QVERIFY(sender.start(block));
        QTRY_VERIFY_WITH_TIMEOUT(sender.sent() >= 100, 10000);
        QVERIFY(comm->setPortOpen(false).ok());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 10000);
        QVERIFY(!sender.busy());
        QVERIFY(comm->LinkDtr());
        QVERIFY(!failed.at(1).at(0).toString().isEmpty());

        QSignalSpy dtrChanged(comm.get(), &CommControl::dtrChanged);
        QVERIFY(!sender.start(block)); // port closed
        QVERIFY(comm->setPortOpen(true).ok());
        QVERIFY(!sender.start(QByteArray()));
        QCOMPARE(dtrChanged.count(), 0);

        // A send that completes: by its end no failure has been repeated.
        line.takeWritten();
        QVERIFY(sender.start(QByteArray("ok")));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(line.written(), QByteArray("ok"));
        QCOMPARE(failed.count(), 2);
    }

    // A rate beyond the offered list is honoured: a megabyte at 2,000,000 bit/s arrives
    // whole, paced (about 5 s), without a report per slice.
    void megabyteAtTwoMegabitsArrivesWhole() {
        QVERIFY(comm->setSettings(QStringLiteral("2000000,n,8,1")).ok());
        const QByteArray block = pattern(1000000);
        PacedSender sender(*comm, User::FileSend, 50);
        QSignalSpy finished(&sender, &PacedSender::finished);
        QSignalSpy progress(&sender, &PacedSender::progress);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(sender.start(block));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        const qint64 ms = clock.elapsed();
        QCOMPARE(line.written().size(), block.size());
        QVERIFY(line.written() == block);
        QVERIFY2(ms >= 4500, qPrintable(QStringLiteral("a megabyte in %1 ms").arg(ms)));
        QVERIFY2(progress.count() <= ms / 20 + 2, qPrintable(QString::number(progress.count())));
        QCOMPARE(progress.last().at(0).toLongLong(), block.size());
    }

    // A line slower than its settings say (as a real port under flow control): what
    // waits in the serial object never exceeds 50 ms worth, and the progress is the wire.
    void slowLineNeverHoldsMoreThanTheWindow() {
        line.setDrainRate(480); // half of 9600 bit/s
        const QByteArray block = pattern(480);
        PacedSender sender(*comm, User::DataString, 100);
        QSignalSpy finished(&sender, &PacedSender::finished);
        QObject scope;
        int mostWaiting = 0;
        qint64 mostAhead = 0;
        const auto sample = [&] { mostWaiting = std::max(mostWaiting, comm->OutBufferCount()); };
        connect(&sender, &PacedSender::progress, &scope, [&](qint64 sent) {
            sample(); // right after a slice was handed
            mostAhead = std::max(mostAhead, sent - line.written().size());
        });
        QTimer poll;
        poll.setInterval(1);
        connect(&poll, &QTimer::timeout, &scope, sample);
        poll.start();

        QVERIFY(sender.start(block));
        sample();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(line.written(), block);
        QVERIFY2(mostWaiting <= kWindow9600 + 1, qPrintable(QString::number(mostWaiting)));
        QVERIFY2(mostAhead <= 0, qPrintable(QString::number(mostAhead)));
        for (const MemoryLine::Sent& chunk : line.timeline())
            QVERIFY(!chunk.dtr);
    }
};

T83_TEST_MAIN(TestPacedSender)
#include "test_pacedsender.moc"
