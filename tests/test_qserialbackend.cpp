// The real-port backend against a pseudo-terminal: opening, bytes both ways, a driver
// that refuses DTR and parity, a port held by another opener, the far end vanishing, and
// sent bytes counted until they have left.
#include "link/commcontrol.h"
#include "link/qserialbackend.h"
#include "tests/support/pty.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

class TestQSerialBackend : public QObject {
    Q_OBJECT

    std::unique_ptr<CommControl> makeComm(const Pty& pty) {
        const QString path = pty.slavePath();
        auto comm = std::make_unique<CommControl>(
            [path](int port) { return port == 1 ? path : QString(); }, &QSerialBackend::create);
        comm->setCommPort(1);
        comm->setRThreshold(1);
        comm->setInputLen(0);
        comm->setInputMode(CommControl::comInputModeBinary);
        return comm;
    }

  private slots:
    void bytesTravelBothWaysAndRefusedRequestsDoNotBreakThePort() {
        Pty pty;
        QVERIFY(pty.ok());
        auto comm = makeComm(pty);
        // Mark parity is refused by a pseudo-terminal; the port must still open and
        // report the settings it was given.
        QVERIFY(comm->setSettings(QStringLiteral("1200,M,8,1")).ok());
        comm->setDTREnable(true); // refused by the pty driver as well
        const auto opened = comm->setPortOpen(true);
        QVERIFY2(opened.ok(), qPrintable(opened.description));
        QCOMPARE(comm->Settings(), QStringLiteral("1200,M,8,1"));
        QVERIFY(!comm->DSRHolding());

        QVERIFY(comm->Output(QByteArray::fromHex("D7FE")));
        QTRY_COMPARE(pty.received(), QByteArray::fromHex("D7FE"));

        QByteArray got;
        int steadyReads = 0;
        bool lastSteady = false;
        connect(comm.get(), &CommControl::OnComm, this, [&] {
            got += comm->InputBytes();
            lastSteady = comm->readsSteadily();
            steadyReads += lastSteady;
        });
        const QByteArray all = QByteArray::fromHex("D7FD0011FF7F80");
        pty.write(all);
        QTRY_COMPARE(got, all);

        // After a small read the port rests a few milliseconds: what comes during the
        // rest, and what comes after it, still arrives.
        for (char byte : QByteArray("xyz")) {
            pty.write(QByteArray(1, byte));
            QTRY_VERIFY(got.endsWith(byte));
        }
        QTest::qWait(3 * QSerialBackend::kReadPauseMs);
        pty.write("!");
        QTRY_COMPARE(got, all + "xyz!");

        // A steady stream rests longer between reads; it still arrives whole, and the
        // first byte after it has stopped is read as before.
        QByteArray stream;
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&] {
            const QByteArray byte(1, char('a' + stream.size() % 26));
            stream += byte;
            pty.write(byte);
            if (stream.size() == 80)
                trickle.stop();
        });
        trickle.start(2);
        QTRY_VERIFY(!trickle.isActive());
        QTRY_COMPARE(got, all + "xyz!" + stream);
        // The receive window draws each steady read at once, the short rests' reads
        // once a frame.
        QVERIFY(steadyReads > 0);
        QTest::qWait(3 * QSerialBackend::kSteadyPauseMs);
        pty.write("?");
        QTRY_COMPARE(got, all + "xyz!" + stream + "?");
        QVERIFY(!lastSteady);

        comm->setDTREnable(false);
        QVERIFY(comm->Output(QStringLiteral("中")));
        QTRY_COMPARE(pty.received(), QByteArray::fromHex("D7FED6D0"));
        QVERIFY(comm->setSettings(QStringLiteral("9600,E,8,1")).ok());
    }

    void promptReadsEndARestAndTakeNone() {
        // While a reply is taken the line must not rest: its timers would see a quiet
        // line that is not.
        Pty pty;
        QVERIFY(pty.ok());
        QSerialBackend backend(pty.slavePath());
        QVERIFY(backend.open(*SerialSettings::parse(QStringLiteral("9600,n,8,1"))).ok());
        QByteArray got;
        connect(&backend, &SerialBackend::readyRead, this, [&] { got += backend.readAll(); });
        pty.write("a");
        QTRY_COMPARE(got, QByteArray("a"));
        QVERIFY(backend.resting());
        backend.setPromptReads(true);
        QVERIFY(!backend.resting());
        pty.write("b");
        QTRY_COMPARE(got, QByteArray("ab"));
        QVERIFY(!backend.resting());
    }

    void sentBytesCountAsWaitingUntilTheyHaveLeft() {
        Pty pty;
        QVERIFY(pty.ok());
        auto comm = makeComm(pty);
        comm->setSettings(QStringLiteral("1200,n,8,1"));
        QVERIFY(comm->setPortOpen(true).ok());
        int phase = 0;
        QList<int> phaseAtDrained;
        QList<int> waitingAtDrained;
        connect(comm.get(), &CommControl::OutputDrained, this, [&] {
            phaseAtDrained << phase;
            waitingAtDrained << comm->OutBufferCount();
        });

        // More than a pseudo-terminal holds, so it leaves only as the far end reads.
        QByteArray block;
        for (int i = 0; i < 256 * 1024; ++i)
            block += char(i % 251);
        QVERIFY(comm->Output(block));
        QVERIFY(comm->OutBufferCount() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(pty.received().size(), block.size(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(phaseAtDrained.size(), 1, 20000);
        QCOMPARE(waitingAtDrained, QList<int>{0});
        QCOMPARE(comm->OutBufferCount(), 0);
        QCOMPARE(pty.received(), block);

        // The next write is told once more; the first emptying is not told again.
        phase = 1;
        QVERIFY(comm->Output(QByteArray("end")));
        QTRY_VERIFY_WITH_TIMEOUT(phaseAtDrained.contains(1), 20000);
        QCOMPARE(phaseAtDrained, (QList<int>{0, 1}));
        QTRY_COMPARE(pty.received().size(), block.size() + 3);
    }

    void clearedOutputNeverReachesTheFarEnd() {
        Pty pty;
        QVERIFY(pty.ok());
        auto comm = makeComm(pty);
        comm->setSettings(QStringLiteral("1200,n,8,1"));
        QVERIFY(comm->setPortOpen(true).ok());
        QVERIFY(comm->Output(QByteArray(1024 * 1024, 'a')));
        comm->ClearOutBuffer();
        QCOMPARE(comm->OutBufferCount(), 0);
        QVERIFY(comm->Output(QByteArray("END")));
        QTRY_VERIFY_WITH_TIMEOUT(pty.received().endsWith("END"), 20000);
        QVERIFY(pty.received().size() < 1024 * 1024);
    }

    void missingDeviceIsAnInvalidPort() {
        auto comm = std::make_unique<CommControl>(
            [](int) { return QStringLiteral("/dev/t83-no-such-device"); }, &QSerialBackend::create);
        comm->setSettings(QStringLiteral("1200,n,8,1"));
        QCOMPARE(comm->setPortOpen(true).failure, CommControl::Failure::InvalidPort);
    }

    // A file or a folder mapped as a port by mistake: the user is told in words that name
    // it that it is not a serial device, not only the system's "Is a directory".
    void fileOrFolderIsNotASerialDevice_data() {
        QTest::addColumn<bool>("folder");
        QTest::newRow("file") << false;
        QTest::newRow("folder") << true;
    }
    void fileOrFolderIsNotASerialDevice() {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("port"));
        if (folder) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        CommControl comm([path](int) { return path; }, &QSerialBackend::create);
        comm.setCommPort(1);
        comm.setSettings(QStringLiteral("1200,n,8,1"));
        const CommControl::Result result = comm.setPortOpen(true);
        QCOMPARE(result.failure, CommControl::Failure::Other);
        QCOMPARE(result.description, QStringLiteral("%1 不是串口设备,确定后请重新设置").arg(path));
        QVERIFY(!comm.PortOpen());
    }

    void portHeldByAnotherOpenerIsInUse() {
        Pty pty;
        QSerialPort other;
        other.setPortName(pty.slavePath());
        QVERIFY(other.open(QIODevice::ReadWrite));
        auto comm = makeComm(pty);
        comm->setSettings(QStringLiteral("1200,n,8,1"));
        QCOMPARE(comm->setPortOpen(true).failure, CommControl::Failure::AlreadyOpen);
        other.close();
        QVERIFY(comm->setPortOpen(true).ok());
    }

    void vanishedFarEndClosesThePortAndSaysSoOnce() {
        Pty pty;
        auto comm = makeComm(pty);
        comm->setSettings(QStringLiteral("1200,n,8,1"));
        QVERIFY(comm->setPortOpen(true).ok());
        QSignalSpy lost(comm.get(), &CommControl::portLost);
        pty.closeMaster();
        QTRY_COMPARE(lost.count(), 1);
        QTest::qWait(100);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!comm->PortOpen());
        QVERIFY(!comm->Output(QByteArray("x")));
    }
};

T83_TEST_MAIN(TestQSerialBackend)
#include "test_qserialbackend.moc"
