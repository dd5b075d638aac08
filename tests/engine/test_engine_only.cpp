// The module engine on its own: this program links the engine and the simulator only
// (no widgets, no GUI), runs under a QCoreApplication and takes a simulated module on a
// pseudo-terminal through the probe, the full read, a write of two settings and a
// read-back, as a command line or a production station would.
#include "link/modulesession.h"
#include "link/qserialbackend.h"
#include "protocol/codes.h"
#include "protocol/frames.h"
#include "serial/portopen.h"
#include "sim/station.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestEngineOnly : public QObject {
    Q_OBJECT

  private slots:
    void aModuleIsReadWrittenAndReadBackWithoutWindows() {
        QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
        QTemporaryDir work; // the poll writes portstate.dat into the working directory
        QVERIFY(QDir::setCurrent(work.path()));

        t83sim::Station station;
        QVERIFY(station.openPty());
        ModuleSession session([&](int port) { return port == 1 ? station.linePath() : QString(); },
                              &QSerialBackend::create);
        QVERIFY(OpenPort(session.comm(), 1, QStringLiteral("9600,n,8,1")).ok());

        QSignalSpy answered(&session, &ModuleSession::answered);
        QSignalSpy read(&session, &ModuleSession::readFinished);
        QSignalSpy polled(&session, &ModuleSession::pollFinished);
        session.probe();
        QVERIFY(read.wait(3000));
        QCOMPARE(answered.size(), 1);
        QCOMPARE(read[0][0].toBool(), false);               // the automatic read
        QCOMPARE(read[0][1].toStringList(), QStringList{}); // complete
        QCOMPARE(session.params.m_meaddress, QStringLiteral("0001"));
        QCOMPARE(session.params.m_repeat, QStringLiteral("03"));
        QVERIFY(session.params.m_versionb);
        QVERIFY(polled.wait(3000)); // a second later the switch-port poll

        // Two settings: own address and retry count; neither has a status reply.
        QSignalSpy written(&session, &ModuleSession::writeFinished);
        QVERIFY(session.writeSettings(
            {t83::HexSettingWriteFrame(t83::cmd::SetOwnAddress, QStringLiteral("1234")),
             t83::HexSettingWriteFrame(t83::cmd::SetRetryCount, QStringLiteral("07"))}));
        QVERIFY(written.wait(3000));
        QCOMPARE(written[0][0].toBool(), true);

        session.startRefreshRead();
        QTRY_COMPARE_WITH_TIMEOUT(read.size(), 2, 3000);
        QCOMPARE(read[1][0].toBool(), true);
        QCOMPARE(session.params.m_meaddress, QStringLiteral("1234"));
        QCOMPARE(session.params.m_repeat, QStringLiteral("07"));
        QCOMPARE(station.protocol().settings().retryCount, quint8(0x07));
        QDir::setCurrent(QDir::tempPath());
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestEngineOnly tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "test_engine_only.moc"
