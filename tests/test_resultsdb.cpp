// The results database: a run and its fields are stored in one transaction and read back
// newest first; filters; the CSV export byte for byte; a process killed in the middle of
// a tray loses no committed run; and the same against a PostgreSQL server when the test
// command has started one (T83_TEST_PG_URL).
#include "records/resultsdb.h"
#include "tests/support/testenv.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace {
RunRecord sample(int n, bool pass) {
    RunRecord r;
    r.result.pass = pass;
    r.result.reason = pass ? QString() : QStringLiteral("参数不符: rxfreque, PB1");
    r.result.startedAt = QDateTime(QDate(2026, 12, 9), QTime(8, 0, n, 125), Qt::UTC);
    r.result.finishedAt = r.result.startedAt.addMSecs(4321);
    r.result.durationMs = 4321;
    r.result.fields = {
        {QStringLiteral("rxfreque"), QStringLiteral("231250"), QStringLiteral("229100"),
         pass ? QStringLiteral("231250") : QStringLiteral("229100"), pass},
        {QStringLiteral("PB1"), QStringLiteral("输入/端口电平变化后发送变化信息"),
         QStringLiteral("无此参数"), QStringLiteral("输入/端口电平变化后发送变化信息"), true}};
    r.station = QStringLiteral("bench-1");
    r.operatorName = QStringLiteral("张三");
    r.lot = n < 2 ? QStringLiteral("L1") : QStringLiteral("L2");
    r.serial = QStringLiteral("SN%1").arg(n);
    r.port = QStringLiteral("COM1");
    r.device = QStringLiteral("/dev/ttyUSB0");
    r.profileName = QStringLiteral("线体A, 1\"号\"");
    r.profileSha256 = QStringLiteral("ab12");
    return r;
}

const char* const kCsv =
    "\xEF\xBB\xBF"
    "id,started_at,finished_at,station,operator,lot,serial,port,device,profile_name,"
    "profile_sha256,result,reason,duration_ms,rxfreque.expected,rxfreque.after,rxfreque.ok,"
    "PB1.expected,PB1.after,PB1.ok\r\n"
    "1,2026-12-09T08:00:00.125Z,2026-12-09T08:00:04.446Z,bench-1,张三,L1,SN0,COM1,/dev/ttyUSB0,"
    "\"线体A, 1\"\"号\"\"\",ab12,PASS,,4321,231250,231250,1,输入/端口电平变化后发送变化信息,"
    "输入/端口电平变化后发送变化信息,1\r\n"
    "2,2026-12-09T08:00:01.125Z,2026-12-09T08:00:05.446Z,bench-1,张三,L1,SN1,COM1,/dev/ttyUSB0,"
    "\"线体A, 1\"\"号\"\"\",ab12,FAIL,\"参数不符: rxfreque, PB1\",4321,231250,229100,0,"
    "输入/端口电平变化后发送变化信息,输入/端口电平变化后发送变化信息,1\r\n"
    "3,2026-12-09T08:00:02.125Z,2026-12-09T08:00:06.446Z,bench-1,张三,L2,SN2,COM1,/dev/ttyUSB0,"
    "\"线体A, 1\"\"号\"\"\",ab12,PASS,,4321,231250,231250,1,输入/端口电平变化后发送变化信息,"
    "输入/端口电平变化后发送变化信息,1\r\n";
} // namespace

class TestResultsDb : public QObject {
    Q_OBJECT

    void storesListsAndExports(const QString& url, const QString& path) {
        ResultsDatabase db;
        QString error;
        QVERIFY2(db.open(url, &error, path), qPrintable(error));
        for (int n = 0; n < 3; ++n)
            QVERIFY2(db.record(sample(n, n != 1), &error), qPrintable(error));
        const QList<RunRecord> all = db.runs({});
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.first().serial, QStringLiteral("SN2")); // newest first
        QCOMPARE(all.at(1).result.fields.size(), 2);
        QCOMPARE(all.at(1).result.fields.first().after, QStringLiteral("229100"));
        QCOMPARE(all.at(1).result.reason, QStringLiteral("参数不符: rxfreque, PB1"));
        RunFilter lot;
        lot.lot = QStringLiteral("L1");
        QCOMPARE(db.runs(lot).size(), 2);
        RunFilter failed;
        failed.pass = false;
        QCOMPARE(db.runs(failed).size(), 1);
        RunFilter later;
        later.from = QDate(2026, 12, 10);
        QCOMPARE(db.runs(later).size(), 0);
        QCOMPARE(db.exportCsv({}), QByteArray(kCsv));

        // Link tests beside the runs: an echo test with its round trips, and a plain
        // sender whose counts (it has none) and round trips stay empty.
        LinkTestRecord echo;
        LinkTestResult& r = echo.result;
        r.startedAt = QDateTime(QDate(2026, 12, 10), QTime(9, 0, 0, 5), Qt::UTC);
        r.finishedAt = r.startedAt.addMSecs(8400);
        r.echo = true;
        r.count = r.total = r.sent = 1000;
        r.size = 32;
        r.intervalMs = 8.786;
        r.received = 988;
        r.corrupted = 3;
        r.lost = 9;
        r.duplicated = 4;
        r.per = 0.012;
        r.rttMinMs = 15.5;
        r.rttMeanMs = 17.25;
        r.rttMaxMs = 30;
        r.maxPerPercent = 1;
        r.verdict = LinkTestResult::Verdict::Fail;
        echo.localSettings = QStringLiteral(R"({"txfreque":"229100"})");
        QVERIFY2(db.recordLinkTest(echo, &error), qPrintable(error));
        LinkTestRecord sender = echo;
        sender.result.echo = false;
        sender.result.rttMinMs = sender.result.rttMeanMs = sender.result.rttMaxMs = std::nullopt;
        sender.result.startedAt = r.startedAt.addSecs(60);
        sender.result.verdict = LinkTestResult::Verdict::None;
        QVERIFY2(db.recordLinkTest(sender, &error), qPrintable(error));
        const QList<LinkTestRecord> tests = db.linkTests(&error);
        QCOMPARE(tests.size(), 2);
        QCOMPARE(tests[1].result.startedAt, r.startedAt);
        QCOMPARE(tests[1].result.lost, 9);
        QCOMPARE(tests[1].result.per, 0.012);
        QCOMPARE(tests[1].result.rttMeanMs, std::optional<double>(17.25));
        QCOMPARE(tests[1].result.verdictText(), QStringLiteral("FAIL"));
        QCOMPARE(tests[1].localSettings, echo.localSettings);
        QCOMPARE(tests[0].result.verdictText(), QStringLiteral("SENT"));
        QVERIFY(!tests[0].result.rttMinMs.has_value());
        QCOMPARE(tests[0].result.sent, 1000);
    }

  private slots:
    void sqliteStoresListsAndExports() {
        storesListsAndExports({}, testenv::workDir() + QStringLiteral("/results.sqlite"));
    }

    void postgresStoresListsAndExports() {
        const QString url = qEnvironmentVariable("T83_TEST_PG_URL");
        if (url.isEmpty())
            QSKIP("no PostgreSQL server (./dev test starts one)");
        {
            // A fresh schema for every run of the test.
            const QUrl u(url);
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("reset"));
            db.setHostName(u.host());
            db.setPort(u.port());
            db.setUserName(u.userName());
            db.setDatabaseName(u.path().mid(1));
            QVERIFY(db.open());
            QSqlQuery(db).exec(
                QStringLiteral("DROP TABLE IF EXISTS fields; DROP TABLE IF EXISTS runs; "
                               "DROP TABLE IF EXISTS linktests"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reset"));
        storesListsAndExports(url, {});
    }

    void anUnreachableServerIsAnErrorNotAnEmptyRecord() {
        ResultsDatabase db;
        QString error;
        QVERIFY(!db.open(QStringLiteral("postgresql://nobody@127.0.0.1:1/none"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!db.record(sample(0, true), &error));
    }

    void aKilledStationLosesNoCommittedRun() {
        const QString path = testenv::workDir() + QStringLiteral("/killed.sqlite");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--record-forever"), path});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (out.count('\n') < 40 && child.waitForReadyRead(10000))
            out += child.readAllStandardOutput();
        child.kill(); // SIGKILL, mid-transaction or not
        child.waitForFinished();
        out += child.readAllStandardOutput();
        const QList<QByteArray> committed = out.trimmed().split('\n');
        QVERIFY(committed.size() >= 40);

        ResultsDatabase db;
        QString error;
        QVERIFY2(db.open({}, &error, path), qPrintable(error));
        {
            QSqlDatabase check =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            check.setDatabaseName(path);
            QVERIFY(check.open());
            QSqlQuery q(check);
            QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
            check.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        QList<qint64> ids;
        for (const RunRecord& r : db.runs({}))
            ids << r.id;
        for (const QByteArray& id : committed)
            QVERIFY2(ids.contains(id.toLongLong()), id.constData()); // told committed: there
    }
};

int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], "--record-forever") == 0) {
        // The station of the kill test: records runs until it is killed, and says each
        // id only once its run is committed.
        QCoreApplication app(argc, argv);
        ResultsDatabase db;
        QString error;
        if (!db.open({}, &error, QString::fromLocal8Bit(argv[2])))
            return 1;
        for (int n = 0;; ++n) {
            const auto id = db.record(sample(n % 60, n % 7 != 0), &error);
            if (!id)
                return 1;
            std::printf("%lld\n", static_cast<long long>(*id));
            std::fflush(stdout);
        }
    }
    testenv::isolate();
    QApplication app(argc, argv);
    TestResultsDb tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "test_resultsdb.moc"
