// The module session on an in-memory line answered by the simulated module: the
// automatic sequence, writes with the module's status replies, the read-back, and a line
// lost in the middle of a read or a write.
#include "link/memorybackend.h"
#include "link/modulesession.h"
#include "protocol/codes.h"
#include "protocol/frames.h"
#include "serial/portopen.h"
#include "sim/protocol.h"
#include "tests/support/testenv.h"

#include <QElapsedTimer>
#include <QSignalSpy>

class TestModuleSession : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<t83sim::ModuleProtocol> module;
    std::unique_ptr<ModuleSession> session;

    void start(const t83sim::SimOptions& options = {}) {
        module = std::make_unique<t83sim::ModuleProtocol>(options);
        session = std::make_unique<ModuleSession>(
            [](int port) { return port == 1 ? QStringLiteral("mem") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        QVERIFY(OpenPort(session->comm(), 1, QStringLiteral("9600,n,8,1")).ok());
    }
    bool timersIdle() const {
        const ReadCycle& c = session->link().cycle;
        return !c.Timer1.isActive() && !c.Timer2.isActive() && !c.Timer4.isActive() &&
               !c.Timer5.isActive() && !session->writing();
    }

  private slots:
    void init() {
        testenv::reset();
        // What leaves the line reaches the module; its replies come straight back.
        connect(&line, &MemoryLine::bytesWritten, this, [this](const QByteArray& bytes) {
            if (!module)
                return;
            for (const QByteArray& reply : module->feed(bytes).replies)
                line.feed(reply);
        });
    }
    void cleanup() {
        session.reset();
        module.reset();
        line.disconnect(this);
    }

    void theProbeLeadsToTheReadAndThePoll() {
        t83sim::SimOptions options;
        options.unanswered = {t83::cmd::ReadVoiceMode, t83::cmd::Squelch};
        start(options);
        QSignalSpy started(session.get(), &ModuleSession::readStarted);
        QSignalSpy progress(session.get(), &ModuleSession::readProgress);
        QSignalSpy read(session.get(), &ModuleSession::readFinished);
        QSignalSpy closing(session.get(), &ModuleSession::promptCloseDue);
        QSignalSpy polled(session.get(), &ModuleSession::pollFinished);
        session->probe();
        QVERIFY(read.wait(3000));
        QCOMPARE(started.size(), 1);
        QCOMPARE(progress.last()[0].toInt(), 110);
        QCOMPARE(read[0][1].toStringList(),
                 (QStringList{QStringLiteral("typeaudio"), QStringLiteral("sqr")}));
        QCOMPARE(session->params.m_typeaudio, QStringLiteral("无此参数"));
        QCOMPARE(session->params.m_txfreque, QStringLiteral("229100"));
        // Nobody closes a prompt here: its second runs out and the poll follows.
        QVERIFY(polled.wait(3000));
        QCOMPARE(closing.size(), 1);
        QCOMPARE(polled[0][0].toBool(), false);
        QVERIFY(timersIdle());

        // The command window's own probe is answered, but starts no read.
        session->link().CommandBusy = true;
        session->probe();
        QTRY_VERIFY(session->link().parser.ModuleAnswered);
        QTest::qWait(200);
        QCOMPARE(started.size(), 1);
    }

    // The reply-driven read asks the same eleven questions and marks the same parameters
    // missing; a reply that never comes costs its own time-out, not the whole read.
    void theReplyDrivenReadKeepsTheTimedReadsOutcome() {
        t83sim::SimOptions options;
        options.unanswered = {t83::cmd::ReadVoiceMode, t83::cmd::Squelch};
        start(options);
        session->setReplyDrivenRead(true);
        QSignalSpy read(session.get(), &ModuleSession::readFinished);
        QSignalSpy polled(session.get(), &ModuleSession::pollFinished);
        QElapsedTimer clock;
        clock.start();
        session->startRefreshRead();
        QVERIFY(read.wait(3000));
        // Two silent requests at 250 ms each; the timed read alone takes 1200 ms.
        QVERIFY2(clock.elapsed() < 1100, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(read[0][1].toStringList(),
                 (QStringList{QStringLiteral("typeaudio"), QStringLiteral("sqr")}));
        QCOMPARE(session->params.m_txfreque, QStringLiteral("229100"));
        QCOMPARE(session->params.m_datbit, QStringLiteral("八位")); // the last answered request
        session->link().parser.PortStateTable.fill(char(0xEE));
        session->startRefreshPoll();
        QVERIFY(polled.wait(3000));
        for (int port = 0; port < 8; ++port)
            QCOMPARE(quint8(session->link().parser.PortStateTable.at(3 * port)), quint8(port));
        QVERIFY(timersIdle());
    }

    void aWriteEndsWithTheModulesStatusReply_data() {
        QTest::addColumn<bool>("lockFailure");
        QTest::addColumn<QString>("rx");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("reason");
        QTest::newRow("stored") << false << "229200" << true << "";
        QTest::newRow("lock failed") << true << "229200" << false << "锁相环无法锁定";
        QTest::newRow("out of range") << false << "999999" << false << "设置频率超出范围";
    }
    void aWriteEndsWithTheModulesStatusReply() {
        QFETCH(bool, lockFailure);
        QFETCH(QString, rx);
        QFETCH(bool, ok);
        QFETCH(QString, reason);
        t83sim::SimOptions options;
        options.lockFailure = lockFailure;
        start(options);
        QSignalSpy status(session.get(), &ModuleSession::moduleStatus);
        QSignalSpy written(session.get(), &ModuleSession::writeFinished);
        QVERIFY(session->writeSettings({t83::FrequencyWriteFrame(QStringLiteral("229200"), rx),
                                        t83::ModeWriteFrame(t83::cmd::SetPowerSaving, true)}));
        QVERIFY(written.wait(2000));
        QCOMPARE(written.size(), 1);
        QCOMPARE(written[0][0].toBool(), ok);
        QCOMPARE(written[0][1].toString(), reason);
        QCOMPARE(status.size(), 1); // told once, for the one frame that has a reply
        QCOMPARE(module->settings().powerSaving, quint8(0xFF));

        // The read-back shows what the module holds now.
        QSignalSpy read(session.get(), &ModuleSession::readFinished);
        session->startRefreshRead();
        QVERIFY(read.wait(3000));
        QCOMPARE(read[0][0].toBool(), true);
        QCOMPARE(session->params.m_rxfreque, ok ? rx : QStringLiteral("229100"));
        QCOMPARE(session->params.m_typepower, QStringLiteral("省电"));
        QVERIFY(timersIdle());
    }

    void aWriteWithoutItsReplyFails() {
        t83sim::SimOptions options;
        options.unanswered = {t83::cmd::SetFrequencies};
        start(options);
        QSignalSpy written(session.get(), &ModuleSession::writeFinished);
        QVERIFY(session->writeSettings(
            {t83::FrequencyWriteFrame(QStringLiteral("229200"), QStringLiteral("229200"))}));
        QVERIFY(written.wait(3000));
        QCOMPARE(written[0][0].toBool(), false);
        QCOMPARE(written[0][1].toString(), QStringLiteral("模块无应答"));
    }

    void aLineLostEndsWhatIsUnderWayOnce_data() {
        QTest::addColumn<bool>("writing");
        QTest::newRow("mid-read") << false;
        QTest::newRow("mid-write") << true;
    }
    void aLineLostEndsWhatIsUnderWayOnce() {
        QFETCH(bool, writing);
        t83sim::SimOptions options;
        options.unanswered = {t83::cmd::SetFrequencies}; // the write waits for its reply
        start(options);
        QSignalSpy lost(session.get(), &ModuleSession::lineLost);
        QSignalSpy cut(session.get(), &ModuleSession::readCutOff);
        QSignalSpy read(session.get(), &ModuleSession::readFinished);
        QSignalSpy written(session.get(), &ModuleSession::writeFinished);
        if (writing) {
            QVERIFY(session->writeSettings(
                {t83::FrequencyWriteFrame(QStringLiteral("229200"), QStringLiteral("229200"))}));
            QTest::qWait(100);
        } else {
            session->startRefreshRead();
            QTRY_VERIFY(session->link().cycle.readstep >= 3);
        }
        line.unplug();
        QTRY_COMPARE(lost.size(), 1);
        QTest::qWait(1500); // whatever would still have come
        QCOMPARE(lost.size(), 1);
        QCOMPARE(cut.size(), writing ? 0 : 1);
        QCOMPARE(read.size(), 0);
        QCOMPARE(written.size(), writing ? 1 : 0);
        if (writing)
            QCOMPARE(written[0][1].toString(), QStringLiteral("串口断开"));
        QVERIFY(timersIdle());
        QVERIFY(!session->comm().PortOpen());
    }
};

T83_TEST_MAIN(TestModuleSession)
#include "test_modulesession.moc"
