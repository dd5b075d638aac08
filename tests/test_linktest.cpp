// The link test between two stations: its packets and the receiver's framing, two
// programs over a simulated radio that loses, corrupts and duplicates packets (the
// receiver's counts against the radio's own log), an echo on a paced line, and a line
// lost mid-test.
#include "app/appcontext.h"
#include "link/linktest.h"
#include "link/modulesession.h"
#include "link/qserialbackend.h"
#include "linktest/linktestwindow.h"
#include "protocol/linkpacket.h"
#include "records/resultsdb.h"
#include "serial/portopen.h"
#include "sim/impairment.h"
#include "sim/protocol.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>

namespace {
using linkpacket::Scanner;

struct Scanned {
    int good = 0;
    int corrupted = 0;
    QList<int> seqs;
};

Scanned scan(const QByteArray& stream) {
    Scanner scanner;
    QList<Scanner::Packet> packets;
    scanner.feed(stream, &packets);
    scanner.finish(&packets);
    Scanned s;
    for (const auto& p : packets) {
        if (p.good) {
            ++s.good;
            s.seqs << p.seq;
        } else {
            ++s.corrupted;
        }
    }
    return s;
}

QString dbPath() {
    return testenv::workDir() + QStringLiteral("/results.sqlite");
}

// Two programs whose modules carry what each sends with DTR off to the other, through
// the simulator's radio faults for each direction.
struct TwoStations {
    AppFixture a;
    AppFixture b;
    std::unique_ptr<t83sim::ImpairLog> log;
    std::unique_ptr<t83sim::Impairer> ab;
    std::unique_ptr<t83sim::Impairer> ba;

    void start(const t83sim::ImpairOptions& impair, const QString& settings) {
        a.start();
        b.start();
        if (!impair.logPath.isEmpty()) {
            log = std::make_unique<t83sim::ImpairLog>();
            QVERIFY(log->open(impair.logPath, nullptr));
        }
        ab = std::make_unique<t83sim::Impairer>(impair, impair.seed, QStringLiteral("a>b"),
                                                log.get());
        ba = std::make_unique<t83sim::Impairer>(impair, impair.seed + 1, QStringLiteral("b>a"),
                                                log.get());
        QObject::connect(a.line, &MemoryLine::bytesWritten, b.line, [this](const QByteArray& x) {
            if (!a.line->dtr())
                b.line->feed(ab->pass(x));
        });
        QObject::connect(b.line, &MemoryLine::bytesWritten, a.line, [this](const QByteArray& x) {
            if (!b.line->dtr())
                a.line->feed(ba->pass(x));
        });
        for (AppFixture* f : {&a, &b}) {
            QVERIFY(f->ctx->MSComm1().setSettings(settings).ok());
            f->ctx->store().writeValue(RegKeys::Results, QStringLiteral("path"), dbPath());
        }
    }
    LinkTestWindow* window(AppFixture& f) { return f.ctx->window<LinkTestWindow>(); }
};

QStringList logLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestLinkTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        testenv::reset();
        QFile::remove(dbPath());
    }

    void packetsAreFramedAndCheckedWhateverSurroundsThem() {
        QCOMPARE(linkpacket::crc16("123456789"), quint16(0x29B1));
        const QByteArray p0 = linkpacket::encode(0, 10, 32);
        const QByteArray p1 = linkpacket::encode(1, 10, 32);
        const QByteArray p2 = linkpacket::encode(2, 10, 32);
        QCOMPARE(p0.size(), 41);
        QCOMPARE(p0.first(7), QByteArray::fromHex("55aa0000000a20"));

        // Garbage, a lone 55 and a false 55 AA with an impossible length before a packet.
        const Scanned g = scan(QByteArray::fromHex("0155aa") + "\x55\xAA\0\0\0\0\xF0" + p0);
        QCOMPARE(g.good, 1);
        QCOMPARE(g.corrupted, 0);

        // A payload byte changed and the CRC made to match: corrupted all the same.
        QByteArray forged = p1;
        forged[10] = char(forged.at(10) ^ 0x40);
        const quint16 crc = linkpacket::crc16(QByteArrayView(forged).sliced(2, 5 + 32));
        forged[39] = char(crc >> 8);
        forged[40] = char(crc & 0xFF);
        QCOMPARE(scan(forged).corrupted, 1);
        QCOMPARE(scan(forged).good, 0);

        // A length byte corrupted upwards claims the next packets' bytes: it counts once
        // as corrupted, and the packets behind it are found.
        QByteArray longer = p0;
        longer[6] = char(200);
        const Scanned l = scan(longer + p1 + p2);
        QCOMPARE(l.corrupted, 1);
        QCOMPARE(l.seqs, (QList<int>{1, 2}));
        // The last packet cut off by the end of the stream is corrupted, not silently
        // dropped.
        QCOMPARE(scan(p0 + p1.first(20)).corrupted, 1);

        // A packet that comes twice is received once and counted as duplicated; one that
        // comes after a higher one is out of order; what never came is lost.
        LinkTally tally;
        for (int seq : {0, 1, 1, 3, 2})
            QVERIFY(tally.good(quint16(seq), 6));
        tally.corrupted();
        QCOMPARE(tally.received(), 4);
        QCOMPARE(tally.duplicated(), 1);
        QCOMPARE(tally.outOfOrder(), 1);
        QCOMPARE(tally.lost(), 1); // 6 - 4 good - 1 corrupted
        QCOMPARE(tally.per(), 2.0 / 6);

        // The simulated module passes a packet through as radio data even when its
        // payload holds what would be a command.
        t83sim::ModuleProtocol module;
        QByteArray withCommand = linkpacket::encode(0, 1, 8);
        withCommand.replace(7, 2, QByteArray::fromHex("d7fe"));
        const t83sim::FeedResult out = module.feed(withCommand + QByteArray::fromHex("d7fe"));
        QCOMPARE(out.radioData, withCommand);
        QCOMPARE(out.replies, (QList<QByteArray>{QByteArray::fromHex("d7fd")}));
    }

    void impairedRadioCountsEqualTheSimulatorsLog() {
        for (const double threshold : {0.5, 2.0}) {
            const QString logPath = testenv::workDir() + QStringLiteral("/impair.log");
            t83sim::ImpairOptions impair;
            impair.lossPercent = 0.7;
            impair.corruptPercent = 0.3;
            impair.duplicatePercent = 0.5;
            impair.seed = 83;
            impair.logPath = logPath;
            TwoStations s;
            s.start(impair, QStringLiteral("2000000,n,8,1"));
            LinkTestWindow* rx = s.window(s.b);
            LinkTestWindow* tx = s.window(s.a);
            rx->receiveRole->click();
            rx->thresholdBox->setValue(threshold);
            rx->startButton->click();
            QVERIFY(rx->test().running());
            tx->countBox->setValue(1000);
            tx->sizeBox->setValue(32);
            tx->intervalBox->setValue(0.5);
            tx->startButton->click();
            QVERIFY(tx->test().running());
            QTRY_VERIFY_WITH_TIMEOUT(rx->lastResult().has_value(), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(tx->lastResult().has_value(), 5000);

            const QStringList lines = logLines(logPath);
            const auto logged = [&](const QString& what) {
                return int(std::count_if(lines.cbegin(), lines.cend(), [&](const QString& l) {
                    return l.startsWith(QLatin1String("a>b")) && l.contains(what);
                }));
            };
            const LinkTestResult& r = *rx->lastResult();
            QVERIFY(!r.cutShort);
            QCOMPARE(r.total, 1000);
            QCOMPARE(r.lost, logged(QStringLiteral(" lost ")));
            QCOMPARE(r.corrupted, logged(QStringLiteral(" corrupted ")));
            QCOMPARE(r.duplicated, logged(QStringLiteral(" duplicated")));
            QCOMPARE(r.outOfOrder, 0);
            QCOMPARE(r.received, 1000 - r.lost - r.corrupted);
            QVERIFY(r.lost > 0 && r.corrupted > 0 && r.duplicated > 0);
            const double per = double(r.lost + r.corrupted) / 1000;
            QCOMPARE(r.per, per);
            QVERIFY2(per > 0.005 && per < 0.02, qPrintable(QString::number(per)));
            QVERIFY(rx->countersLabel->text().contains(
                QStringLiteral("误包率: %1%").arg(QString::number(per * 100, 'f', 2))));
            const bool pass = threshold > 1;
            QCOMPARE(r.verdict,
                     pass ? LinkTestResult::Verdict::Pass : LinkTestResult::Verdict::Fail);
            QCOMPARE(rx->verdictLabel->text(),
                     pass ? QStringLiteral("合格") : QStringLiteral("不合格"));
            QVERIFY(rx->lastRecorded());
            QCOMPARE(tx->lastResult()->sent, 1000);
            QCOMPARE(tx->verdictLabel->text(), QStringLiteral("发送完毕"));

            ResultsDatabase db;
            QString error;
            QVERIFY(db.open({}, &error, dbPath()));
            const QList<LinkTestRecord> stored = db.linkTests(&error);
            const auto receiver =
                std::find_if(stored.cbegin(), stored.cend(), [](const LinkTestRecord& t) {
                    return t.result.role == LinkTestRole::Receive;
                });
            QVERIFY(receiver != stored.cend());
            QCOMPARE(receiver->result.lost, r.lost);
            QCOMPARE(receiver->result.corrupted, r.corrupted);
            QCOMPARE(receiver->result.verdictText(), r.verdictText());
            QCOMPARE(receiver->result.maxPerPercent, threshold);
            QFile::remove(dbPath());
        }
    }

    void theSimulatorProgramsLogIsTheTruthOverPtys() {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/t83sim");
        if (!QFile::exists(program))
            QSKIP("t83sim has not been built next to the tests");
        const QString logPath = testenv::workDir() + QStringLiteral("/pty-impair.log");
        QProcess sim;
        sim.start(program,
                  {QStringLiteral("--peer"), QStringLiteral("--loss"), QStringLiteral("3"),
                   QStringLiteral("--corrupt"), QStringLiteral("2"), QStringLiteral("--duplicate"),
                   QStringLiteral("2"), QStringLiteral("--seed"), QStringLiteral("5"),
                   QStringLiteral("--impair-log"), logPath});
        QVERIFY(sim.waitForStarted(5000));
        QStringList paths;
        while (paths.size() < 2 && sim.waitForReadyRead(5000))
            while (sim.canReadLine())
                paths << QString::fromLocal8Bit(sim.readLine()).trimmed().section(' ', 1);
        QCOMPARE(paths.size(), 2);
        ModuleSession a([&](int) { return paths[0]; }, &QSerialBackend::create);
        ModuleSession b([&](int) { return paths[1]; }, &QSerialBackend::create);
        QVERIFY(OpenPort(a.comm(), 1, QStringLiteral("2000000,n,8,1")).ok());
        QVERIFY(OpenPort(b.comm(), 1, QStringLiteral("2000000,n,8,1")).ok());
        LinkTest tx(a);
        LinkTest rx(b);
        LinkTest::Config receive;
        receive.role = LinkTestRole::Receive;
        receive.quietMs = 1000;
        QVERIFY(rx.start(receive));
        LinkTest::Config send;
        send.count = 300;
        send.size = 200; // payloads long enough to hold every byte value, 55 AA and D7 too
        send.intervalMs = 0;
        QVERIFY(tx.start(send));
        QSignalSpy done(&rx, &LinkTest::finished);
        QVERIFY(done.wait(15000));
        const LinkTestResult r = rx.snapshot();
        const QStringList lines = logLines(logPath);
        const auto logged = [&](const QString& what) {
            return int(std::count_if(lines.cbegin(), lines.cend(),
                                     [&](const QString& l) { return l.contains(what); }));
        };
        QVERIFY(!r.cutShort);
        QCOMPARE(r.total, 300);
        QCOMPARE(r.lost, logged(QStringLiteral(" lost ")));
        QCOMPARE(r.corrupted, logged(QStringLiteral(" corrupted ")));
        QCOMPARE(r.duplicated, logged(QStringLiteral(" duplicated")));
        QVERIFY(r.lost > 0 && r.corrupted > 0 && r.duplicated > 0);
        QCOMPARE(r.strayBytes, 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    void echoMeasuresRoundTripsOnAPacedLine() {
        TwoStations s;
        s.start({}, QStringLiteral("56000,n,8,1"));
        for (AppFixture* f : {&s.a, &s.b})
            f->line->setDrainRate(5600); // 10 bits a byte at 56000 bit/s
        LinkTestWindow* echo = s.window(s.b);
        LinkTestWindow* tx = s.window(s.a);
        echo->echoRole->click();
        echo->startButton->click();
        tx->countBox->setValue(20);
        tx->expectEchoBox->setChecked(true);
        tx->startButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(tx->lastResult().has_value(), 10000);
        const LinkTestResult& r = *tx->lastResult();
        QVERIFY(r.echo);
        QCOMPARE(r.received, 20);
        QCOMPARE(r.verdict, LinkTestResult::Verdict::Pass);
        const double lineTime = LinkTest::lineTimeMs(32, QStringLiteral("56000,n,8,1"));
        QVERIFY2(r.rttMinMs && *r.rttMinMs >= 2 * lineTime,
                 qPrintable(QString::number(r.rttMinMs.value_or(-1))));
        QVERIFY(*r.rttMaxMs >= *r.rttMeanMs && *r.rttMeanMs >= *r.rttMinMs);
        QVERIFY(tx->noteLabel->text().contains(QStringLiteral("无法区分")));
        QVERIFY(tx->countersLabel->text().contains(QStringLiteral("往返时间")));
        echo->stopButton->click(); // the echo station is ended by its operator
        QVERIFY(echo->lastResult().has_value());
        QCOMPARE(echo->lastResult()->sent, 20);
    }

    void aTestWaitsForTheModuleReadToEnd() {
        // The module's replies during a read would otherwise be taken for test bytes and
        // the read would fail.
        AppFixture f;
        f.start();
        f.ctx->store().writeValue(RegKeys::Results, QStringLiteral("path"), dbPath());
        t83sim::ModuleProtocol module;
        connect(f.line, &MemoryLine::bytesWritten, this, [&](const QByteArray& bytes) {
            for (const QByteArray& reply : module.feed(bytes).replies)
                f.line->feed(reply);
        });
        QSignalSpy read(&f.ctx->session(), &ModuleSession::readFinished);
        f.ctx->session().startRefreshRead();
        LinkTestWindow* w = f.ctx->window<LinkTestWindow>();
        w->receiveRole->click();
        w->startButton->click();
        QVERIFY(!w->test().running());
        QVERIFY(f.dialogs->texts().join(QString()).contains(QStringLiteral("正在读写模块参数")));
        QVERIFY(read.wait(5000));
        QCOMPARE(read.last().at(1).toStringList(), QStringList{});
        w->startButton->click();
        QVERIFY(w->test().running());
        w->stopButton->click();
    }

    void aLineLostMidTestIsRecordedCutShort() {
        TwoStations s;
        s.start({}, QStringLiteral("2000000,n,8,1"));
        LinkTestWindow* rx = s.window(s.b);
        LinkTestWindow* tx = s.window(s.a);
        rx->receiveRole->click();
        rx->startButton->click();
        tx->countBox->setValue(1000);
        tx->intervalBox->setValue(1);
        tx->startButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(rx->test().snapshot().received >= 100, 10000);
        s.b.line->unplug();
        QVERIFY(rx->lastResult().has_value());
        const LinkTestResult& r = *rx->lastResult();
        QVERIFY(r.cutShort);
        QCOMPARE(r.verdict, LinkTestResult::Verdict::Fail);
        QVERIFY(r.received >= 100 && r.received < 1000);
        QCOMPARE(rx->verdictLabel->text(), QStringLiteral("不合格"));
        QVERIFY(rx->noteLabel->text().contains(QStringLiteral("测试中断")));
        // The receive window gets the line back once the test is over.
        QVERIFY(!s.b.ctx->link().parser.receiveRoute());

        ResultsDatabase db;
        QString error;
        QVERIFY(db.open({}, &error, dbPath()));
        const QList<LinkTestRecord> stored = db.linkTests(&error);
        QCOMPARE(stored.size(), 1);
        QVERIFY(stored[0].result.cutShort);
        QCOMPARE(stored[0].result.received, r.received);
        QCOMPARE(stored[0].result.verdictText(), QStringLiteral("FAIL"));
        tx->stopButton->click();
    }
};

T83_TEST_MAIN(TestLinkTest)
#include "test_linktest.moc"
