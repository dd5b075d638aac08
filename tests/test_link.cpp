// The link without any window: the parser reports what the module said through its
// signals, and the read cycle runs on a bare serial object.
#include "link/link.h"
#include "link/memorybackend.h"
#include "serial/portopen.h"
#include "tests/support/testenv.h"

#include <QSignalSpy>

class TestLink : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<Link> link;

  private slots:
    void init() {
        link = std::make_unique<Link>(
            [](int port) { return port == 1 ? QStringLiteral("mem") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        QVERIFY(OpenPort(link->MSComm1, 1, QStringLiteral("9600,n,8,1")).ok());
        line.takeWritten();
    }
    void cleanup() { link.reset(); }

    void repliesAreReportedAsSignals() {
        ReplyParser& parser = link->parser;
        QSignalSpy shown(&parser, &ReplyParser::display);
        QSignalSpy answered(&parser, &ReplyParser::moduleAnswered);
        QSignalSpy parameters(&parser, &ReplyParser::parameterReply);
        QSignalSpy version(&parser, &ReplyParser::versionRead);
        QSignalSpy crc(&parser, &ReplyParser::crcRead);
        QSignalSpy status(&parser, &ReplyParser::statusMessage);
        QSignalSpy logged(&parser, &ReplyParser::logLine);
        parser.expectStatusReply(1000); // a frequency write has just left
        line.feed(QByteArray::fromHex("41D7FDD7EF229100235000D7E65AD7F7D7E65B") +
                  QByteArray::fromHex("D7EC") + QByteArray("T83 V1.0 AB") +
                  QByteArray::fromHex("D7D805000F"));
        QTRY_COMPARE(logged.size(), 7);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0][0].toString(), QStringLiteral("41:"));
        QCOMPARE(answered.size(), 1);
        QVERIFY(parser.ModuleAnswered);
        QCOMPARE(parameters.size(), 2); // EF and EC; D8 goes to the port table
        QCOMPARE(parameters[0][0].value<quint8>(), quint8(0xEF));
        QCOMPARE(parameters[0][1].toByteArray(), QByteArray::fromHex("229100235000"));
        QCOMPARE(version.size(), 1);
        QCOMPARE(version[0][0].toString(), QStringLiteral("T83 V1.0 AB"));
        QCOMPARE(crc.size(), 2);
        QCOMPARE(crc[0][0].value<quint8>(), quint8(0x5A));
        QVERIFY(crc[0][1].toBool() != crc[1][1].toBool()); // the panel's toggle flips
        QCOMPARE(status.size(), 1);
        QCOMPARE(status[0][1].toString(), QStringLiteral("锁相环无法锁定"));
        QCOMPARE(parser.PortStateTable.mid(15, 3), QByteArray::fromHex("05000F"));
        const QStringList lines{QStringLiteral("D7:FD:"),
                                QStringLiteral("D7:EF:22:91:00:23:50:00:"),
                                QStringLiteral("D7:E6:5A:"),
                                QStringLiteral("D7:F7:"),
                                QStringLiteral("D7:E6:5B:"),
                                QStringLiteral("D7:EC:54:38:33:20:56:31:2E:30:20:41:42:"),
                                QStringLiteral("D7:D8:05:00:0F:")};
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(logged[i][0].toString(), lines[i]);
    }

    void aReplyCutOffByTheLineIsForgottenOnReset() {
        line.feed(QByteArray::fromHex("D7EC4142"));
        QTRY_COMPARE(link->parser.ReplyState, qint16(7));
        link->resetToIdle();
        QSignalSpy answered(&link->parser, &ReplyParser::moduleAnswered);
        line.feed(QByteArray::fromHex("D7FD"));
        QTRY_COMPARE(answered.size(), 1);
    }

    void aRouteOwnsTheBufferOnceSet() {
        // An unlisted reply arms the collection timer; a route taken meanwhile (the file
        // capture opening) must get every byte, the timer none.
        struct Recorder : ReceiveRoute {
            CommControl* comm = nullptr;
            QByteArray got;
            void receivePass() override {
                comm->setInputLen(0);
                got += comm->InputBytes();
            }
        } route;
        route.comm = &link->MSComm1;
        QSignalSpy logged(&link->parser, &ReplyParser::logLine);
        line.feed(QByteArray::fromHex("D75501"));
        QTRY_VERIFY(link->parser.Timer6.isActive());
        link->parser.setReceiveRoute(&route);
        link->MSComm1.setRThreshold(1);
        line.feed(QByteArray::fromHex("AABB"));
        QTRY_COMPARE(route.got, QByteArray::fromHex("01AABB"));
        link->parser.Timer6_Timer(); // a tick that was already due
        QVERIFY(logged.isEmpty());
        QCOMPARE(link->MSComm1.RThreshold(), 1);
    }

    void readCycleSendsElevenRequestsThenFinishes() {
        QSignalSpy finished(&link->cycle, &ReadCycle::readFinished);
        QSignalSpy progress(&link->cycle, &ReadCycle::readProgress);
        link->cycle.startRead();
        QVERIFY(finished.wait(3000));
        QCOMPARE(finished[0][0].toBool(), false);
        QCOMPARE(progress.size(), 12);
        QCOMPARE(progress.last()[0].toInt(), 110);
        QCOMPARE(line.takeWritten(), QByteArray::fromHex("D7EFD7F4D7E3D7E8D7A2D7ECD7D2D7D5D7B7"
                                                         "D7ABAAD7A8AA"));
        QVERIFY(link->cycle.Timer4.isActive()); // the prompt closes a second later
    }
};

T83_TEST_MAIN(TestLink)
#include "test_link.moc"
