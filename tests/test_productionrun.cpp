// The production station's sequence on an in-memory line answered by the simulated
// module: a module that needs writes passes and then holds the profile; every fault a
// module or the line can have fails with its reason, and never passes.
#include "link/memorybackend.h"
#include "link/modulesession.h"
#include "link/productionrun.h"
#include "protocol/codes.h"
#include "serial/portopen.h"
#include "sim/protocol.h"
#include "tests/support/testenv.h"

#include <QSignalSpy>

class TestProductionRun : public QObject {
    Q_OBJECT

    MemoryLine line;
    std::unique_ptr<t83sim::ModuleProtocol> module;
    std::unique_ptr<ModuleSession> session;
    std::unique_ptr<ProductionRun> run;

    static ModuleProfile profile() {
        QString error;
        auto p = ModuleProfile::fromJson(
            R"({"format":1,"name":"line A",
                "settings":{"txfreque":"231250","rxfreque":"231250","meaddress":"0A0B",
                            "headdress":"0001","repeat":"05","invite":"1234","typepower":"省电",
                            "typeheat":"温补","typeaudio":"申请","sqr":"数字","datbit":"九位"},
                "ports":{"PB3":{"direction":"输出","answer":"应答","destination":"串口输出",
                                "form":"输出负脉冲"}},
                "version":"T83SIM V1.0"})",
            &error);
        if (!p)
            qFatal("%s", qPrintable(error));
        return *p;
    }

    RunResult runOnce(const t83sim::SimOptions& options, std::function<void()> during = {}) {
        module = std::make_unique<t83sim::ModuleProtocol>(options);
        session = std::make_unique<ModuleSession>(
            [](int port) { return port == 1 ? QStringLiteral("mem") : QString(); },
            [this](const QString&) { return std::make_unique<MemoryBackend>(&line); });
        run = std::make_unique<ProductionRun>(*session);
        if (!OpenPort(session->comm(), 1, QStringLiteral("9600,n,8,1")).ok())
            qFatal("no port");
        QSignalSpy finished(run.get(), &ProductionRun::finished);
        if (!run->start(profile()))
            qFatal("did not start");
        if (during)
            during();
        if (!finished.wait(15000) && finished.isEmpty())
            qFatal("no result");
        QTest::qWait(50);
        if (finished.size() != 1)
            qFatal("%lld results", qlonglong(finished.size()));
        return finished.first().first().value<RunResult>();
    }

  private slots:
    void init() {
        testenv::reset();
        connect(&line, &MemoryLine::bytesWritten, this, [this](const QByteArray& bytes) {
            if (module)
                for (const QByteArray& reply : module->feed(bytes).replies)
                    line.feed(reply);
        });
    }
    void cleanup() {
        run.reset();
        session.reset();
        module.reset();
        line.disconnect(this);
    }

    void aModuleThatNeedsWritesPassesAndHoldsTheProfile() {
        const RunResult r = runOnce({});
        QVERIFY2(r.pass, qPrintable(r.reason));
        QCOMPARE(r.fields.size(), 13); // eleven settings, PB3, the version
        for (const RunField& f : r.fields)
            QVERIFY2(f.ok && f.after == f.expected, qPrintable(f.field));
        QCOMPARE(r.fields.first().before, QStringLiteral("229100"));
        const t83sim::ModuleSettings& s = module->settings();
        QCOMPARE(s.retryCount, quint8(0x05));
        QCOMPARE(s.dataBits, quint8(0x01));
        QCOMPARE(s.ports[2].direction, quint8(0xF0));
        QCOMPARE(s.ports[2].mode, quint8(0x11));
        QVERIFY(r.durationMs > 0 && r.finishedAt >= r.startedAt);
    }

    void everyFaultFailsWithItsReason_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("write not kept") << "revert"
                                        << "参数不符: repeat";
        QTest::newRow("no write reply") << "no-write-reply"
                                        << "模块无应答";
        QTest::newRow("garbled read") << "garble"
                                      << "参数不符: meaddress";
        QTest::newRow("lock failure") << "lock"
                                      << "锁相环无法锁定";
        QTest::newRow("missing parameter") << "missing"
                                           << "参数不符: typeheat";
        QTest::newRow("no answer") << "silent"
                                   << "模块无应答";
        QTest::newRow("line lost") << "unplug"
                                   << "串口断开";
    }
    void everyFaultFailsWithItsReason() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        t83sim::SimOptions o;
        if (fault == "revert")
            o.revert = {t83::cmd::SetRetryCount};
        if (fault == "no-write-reply")
            o.unanswered = {t83::cmd::SetFrequencies};
        if (fault == "garble")
            o.garble = {t83::cmd::ReadOwnAddress};
        o.lockFailure = fault == "lock";
        if (fault == "missing")
            o.unanswered = {t83::cmd::ReadTempCompensation};
        o.silent = fault == "silent";
        const RunResult r = runOnce(o, [&] {
            if (fault == "unplug")
                QTimer::singleShot(700, &line, [this] { line.unplug(); });
        });
        QVERIFY(!r.pass);
        QCOMPARE(r.reason, reason);
        QVERIFY(!session->link().cycle.Timer2.isActive() &&
                !session->link().cycle.Timer5.isActive());
    }
};

T83_TEST_MAIN(TestProductionRun)
#include "test_productionrun.moc"
