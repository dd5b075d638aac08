// The simulator's command line, and the t83sim program run as a user would:
// it prints its pty paths, serves them, and ends cleanly on SIGTERM.

#include "sim/cli.h"
#include "sim/hostline.h"

#include <QProcess>
#include <QtTest>

using namespace t83sim;

namespace {

QStringList args(const QStringList& rest) {
    return QStringList{QStringLiteral("t83sim")} + rest;
}

QString programPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/t83sim");
}

} // namespace

class SimCliTest : public QObject {
    Q_OBJECT
  private slots:
    void everyOptionIsParsed();
    void badValuesAreRejected_data();
    void badValuesAreRejected();
    void programServesLinkedPtysAndStopsOnTerm();
    void programHelpAndErrors();
};

void SimCliTest::everyOptionIsParsed() {
    CliConfig config;
    QString error;
    const QStringList flags{"--peer",
                            "--device",
                            "/dev/ttyUSB0",
                            "--baud",
                            "19200",
                            "--silent",
                            "--missing",
                            "EC,0xb7,AB",
                            "--delay",
                            "250",
                            "--split",
                            "--split-gap",
                            "7",
                            "--unlisted",
                            "9C:a1b2",
                            "--unlisted-on",
                            "E6",
                            "--lock-failure",
                            "--crc",
                            "0x3c",
                            "--version-text",
                            "V9.9",
                            "--frame-timeout",
                            "0",
                            "--transfer-timeout",
                            "250",
                            "--verbose",
                            "--randomize",
                            "--revert",
                            "E7,FF",
                            "--no-write-reply",
                            "D1",
                            "--garble",
                            "F4",
                            "--loss",
                            "0.7",
                            "--corrupt",
                            "0.3",
                            "--duplicate",
                            "2",
                            "--seed",
                            "83",
                            "--impair-log",
                            "/tmp/impair.log"};
    QVERIFY2(parseCommandLine(args(flags), &config, &error), qPrintable(error));
    QVERIFY(config.peer);
    QVERIFY(config.verbose);
    QCOMPARE(config.device, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(config.baud, 19200);
    const SimOptions& o = config.options;
    QVERIFY(o.silent);
    QCOMPARE(o.unanswered, (QSet<quint8>{0xEC, 0xB7, 0xAB, 0xD1}));
    QVERIFY(config.randomize);
    QCOMPARE(o.revert, (QSet<quint8>{0xE7, 0xFF}));
    QCOMPARE(o.garble, (QSet<quint8>{0xF4}));
    QCOMPARE(o.replyDelayMs, 250);
    QVERIFY(o.splitReplies);
    QCOMPARE(o.splitGapMs, 7);
    QVERIFY(o.unlisted.has_value());
    QCOMPARE(o.unlisted->code, quint8(0x9C));
    QCOMPARE(o.unlisted->payload, QByteArray::fromHex("A1B2"));
    QCOMPARE(o.unlisted->trigger, quint8(0xE6));
    QVERIFY(o.lockFailure);
    QCOMPARE(o.crc, quint8(0x3C));
    QCOMPARE(o.versionText, QStringLiteral("V9.9"));
    QCOMPARE(o.frameTimeoutMs, 0);
    QCOMPARE(o.transferTimeoutMs, 250);
    QCOMPARE(config.impair.lossPercent, 0.7);
    QCOMPARE(config.impair.corruptPercent, 0.3);
    QCOMPARE(config.impair.duplicatePercent, 2.0);
    QCOMPARE(config.impair.seed, 83u);
    QCOMPARE(config.impair.logPath, QStringLiteral("/tmp/impair.log"));

    // An unlisted reply without bytes, on the probe by default.
    QVERIFY(parseCommandLine(args({"--unlisted", "55"}), &config, &error));
    QCOMPARE(config.options.unlisted->trigger, quint8(0xFE));
    QVERIFY(config.options.unlisted->payload.isEmpty());
}

void SimCliTest::badValuesAreRejected_data() {
    QTest::addColumn<QStringList>("flags");
    QTest::newRow("unknown flag") << QStringList{"--bogus"};
    QTest::newRow("stray argument") << QStringList{"extra"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-5"};
    QTest::newRow("delay not a number") << QStringList{"--delay", "soon"};
    QTest::newRow("odd baud") << QStringList{"--baud", "12345"};
    QTest::newRow("missing not hex") << QStringList{"--missing", "EC,ZZ"};
    QTest::newRow("missing not a request") << QStringList{"--missing", "FD"};
    QTest::newRow("unlisted is a known code") << QStringList{"--unlisted", "FD:00"};
    QTest::newRow("unlisted bytes not hex") << QStringList{"--unlisted", "55:0g"};
    QTest::newRow("unlisted odd digits") << QStringList{"--unlisted", "55:012"};
    QTest::newRow("trigger without reply") << QStringList{"--unlisted-on", "EC"};
    QTest::newRow("trigger not a request")
        << QStringList{"--unlisted", "55", "--unlisted-on", "12"};
    QTest::newRow("crc too wide") << QStringList{"--crc", "123"};
    QTest::newRow("loss over 100") << QStringList{"--loss", "101"};
    QTest::newRow("faults over 100 together")
        << QStringList{"--loss", "60", "--corrupt", "30", "--duplicate", "11"};
    QTest::newRow("seed not a number") << QStringList{"--seed", "x"};
}

void SimCliTest::badValuesAreRejected() {
    QFETCH(QStringList, flags);
    CliConfig config;
    QString error;
    QVERIFY(!parseCommandLine(args(flags), &config, &error));
    QVERIFY(!error.isEmpty());
}

void SimCliTest::programServesLinkedPtysAndStopsOnTerm() {
    if (!QFile::exists(programPath()))
        QSKIP("t83sim has not been built next to the tests");
    QProcess sim;
    sim.start(programPath(),
              {QStringLiteral("--peer"), QStringLiteral("--crc"), QStringLiteral("C3")});
    QVERIFY(sim.waitForStarted(5000));
    QStringList lines;
    while (lines.size() < 2 && sim.waitForReadyRead(5000)) {
        while (sim.canReadLine())
            lines << QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QLatin1String("PTY /dev/")));
    QVERIFY(lines[1].startsWith(QLatin1String("PEER /dev/")));

    HostLine main;
    HostLine peer;
    QVERIFY(main.open(lines[0].section(QLatin1Char(' '), 1)));
    QVERIFY(peer.open(lines[1].section(QLatin1Char(' '), 1)));
    QVERIFY(main.write(QByteArray::fromHex("D7E6") + "over"));
    QTRY_COMPARE(main.received(), QByteArray::fromHex("D7E6C3"));
    QTRY_COMPARE(peer.received(), QByteArray("over"));

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

void SimCliTest::programHelpAndErrors() {
    if (!QFile::exists(programPath()))
        QSKIP("t83sim has not been built next to the tests");
    QProcess help;
    help.start(programPath(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char* flag : {"--peer", "--device", "--silent", "--missing", "--delay", "--split",
                             "--unlisted", "--lock-failure", "--crc", "--version-text"})
        QVERIFY2(text.contains(QLatin1String(flag)), flag);

    QProcess bad;
    bad.start(programPath(), {QStringLiteral("--delay"), QStringLiteral("never")});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--delay"));
}

QTEST_GUILESS_MAIN(SimCliTest)
#include "test_sim_cli.moc"
