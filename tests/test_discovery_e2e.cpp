// Start-up against the simulated module through a real pseudo-terminal: probe, read
// cycle, port poll and portstate.dat, and a module that never answers.
#include "app/appcontext.h"
#include "app/father.h"
#include "config/promptwindow.h"
#include "sim/station.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/commandwindow.h"
#include "ui/showdata.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>

class TestDiscoveryE2E : public QObject {
    Q_OBJECT

    std::unique_ptr<AppContext> makeContext(ScriptedDialogs& dialogs,
                                            const t83sim::Station& station) {
        AppContext::Options options;
        options.portEnumerator = [] { return QStringList{}; }; // no real device in tests
        auto ctx = std::make_unique<AppContext>(dialogs, options);
        ctx->portMap().map(1, station.linePath());
        return ctx;
    }

  private slots:
    void init() { testenv::reset(); }

    void startupReadsTheModuleAndItsPorts() {
        t83sim::SimOptions options;
        options.splitReplies = true; // replies trickle in byte by byte
        t83sim::Station station(options);
        QVERIFY(station.openPty());
        QList<std::pair<qint64, QByteArray>> frames;
        QElapsedTimer clock;
        clock.start();
        connect(&station, &t83sim::Station::frameReceived, this,
                [&](const t83sim::ReceivedFrame& f) {
                    frames.append({clock.elapsed(), f.bytes()});
                });

        ScriptedDialogs dialogs;
        auto ctx = makeContext(dialogs, station);
        ctx->startup();
        ctx->window<CommandWindow>(); // log the replies
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("portstate.dat")), 8000);
        QVERIFY(dialogs.messages.isEmpty());

        QList<QByteArray> sent;
        for (const auto& f : frames)
            sent << f.second;
        QList<QByteArray> expected = {QByteArray::fromHex("D7FE"),   QByteArray::fromHex("D7EF"),
                                      QByteArray::fromHex("D7F4"),   QByteArray::fromHex("D7E3"),
                                      QByteArray::fromHex("D7E8"),   QByteArray::fromHex("D7A2"),
                                      QByteArray::fromHex("D7EC"),   QByteArray::fromHex("D7D2"),
                                      QByteArray::fromHex("D7D5"),   QByteArray::fromHex("D7B7"),
                                      QByteArray::fromHex("D7ABAA"), QByteArray::fromHex("D7A8AA")};
        for (int p = 0; p < 8; ++p)
            expected << QByteArray::fromHex("D7D8") + QByteArray(1, char(p));
        QCOMPARE(sent, expected);
        for (int i = 2; i < 12; ++i) // read requests 100 ms apart
            QVERIFY2(frames[i].first - frames[i - 1].first >= 80, qPrintable(QString::number(i)));
        // The prompt reports the end and closes a second later, before the port poll.
        QVERIFY(frames[12].first - frames[11].first >= 900);

        const ModuleParameters& m = ctx->params;
        QCOMPARE(m.m_txfreque, QStringLiteral("229100"));
        QCOMPARE(m.m_rxfreque, QStringLiteral("229100"));
        QCOMPARE(m.m_meaddress, QStringLiteral("0001"));
        QCOMPARE(m.m_headdress, QStringLiteral("0002"));
        QCOMPARE(m.m_repeat, QStringLiteral("03"));
        QCOMPARE(m.m_invite, QStringLiteral("0000"));
        QCOMPARE(m.m_version, QStringLiteral("T83SIM V1.0"));
        QCOMPARE(m.m_typepower, QStringLiteral("普通"));
        QCOMPARE(m.m_typeheat, QStringLiteral("普通"));
        QCOMPARE(m.m_typeaudio, QStringLiteral("非申请"));
        QCOMPARE(m.m_datbit, QStringLiteral("八位"));
        QCOMPARE(m.m_sqr, QStringLiteral("模拟"));

        QFile file(QStringLiteral("portstate.dat"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray table = file.readAll();
        QCOMPARE(table.size(), 24);
        for (int p = 0; p < 8; ++p) {
            const auto& port = station.protocol().settings().ports[p];
            QCOMPARE(table.mid(3 * p, 3),
                     QByteArray(1, char(p)) + char(port.direction) + char(port.mode));
        }
        const QString log = ctx->window<CommandWindow>()->Text2->toPlainText();
        QVERIFY(log.startsWith(QStringLiteral("D7:FD:\nD7:EF:22:91:00:22:91:00:\n")));
        QVERIFY(ctx->showdata()->Text1->toPlainText().isEmpty()); // replies are not data
    }

    void silentModuleIsReportedAndGated() {
        t83sim::SimOptions options;
        options.silent = true;
        t83sim::Station station(options);
        QVERIFY(station.openPty());
        ScriptedDialogs dialogs;
        auto ctx = makeContext(dialogs, station);
        ctx->startup();
        QTRY_VERIFY(ctx->loaded<PromptWindow>());
        QCOMPARE(ctx->loaded<PromptWindow>()->mode(), qint16(4));
        QVERIFY(!ctx->father()->menusetmodule->isEnabled());
        QCOMPARE(station.protocol().receivedFrames().size(), 1); // the probe alone
    }
};

T83_TEST_MAIN(TestDiscoveryE2E)
#include "test_discovery_e2e.moc"
