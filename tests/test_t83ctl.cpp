// The t83ctl program run as a script runs it: the real executable against the simulator
// program on a pseudo-terminal, with no display, its exit status and output checked.

#include "records/resultsdb.h"
#include "serial/settingsstore.h"
#include "tests/support/testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

namespace {

QString binary(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

// A t83sim program serving a fresh pty; stopped when this goes.
struct Sim {
    QProcess process;
    QString pty;
    QString peer;

    bool start(const QStringList& args) {
        process.start(binary("t83sim"), args);
        if (!process.waitForStarted(5000))
            return false;
        const int wanted = args.contains(QLatin1String("--peer")) ? 2 : 1;
        QStringList lines;
        while (lines.size() < wanted && process.waitForReadyRead(5000))
            while (process.canReadLine())
                lines << QString::fromLocal8Bit(process.readLine()).trimmed();
        pty = lines.value(0).section(QLatin1Char(' '), 1);
        peer = lines.value(1).section(QLatin1Char(' '), 1);
        return pty.startsWith(QLatin1String("/dev/"));
    }
    ~Sim() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(3000);
        }
    }
};

struct Run {
    int status = -1;
    QByteArray out;
    QString err;
    qint64 ms = 0;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

} // namespace

class TestT83ctl : public QObject {
    Q_OBJECT

    QTemporaryDir data_; // the user's data folder: the results database

    // The environment of a script on a machine without a display.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("XDG_DATA_HOME"), data_.path());
        env.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.UTF-8"));
        return env;
    }

    void startCtl(QProcess& ctl, const QStringList& args) {
        ctl.setProcessEnvironment(environment());
        ctl.start(binary("t83ctl"), args);
        QVERIFY(ctl.waitForStarted(5000));
    }

    Run ctl(const QStringList& args, int timeoutMs = 20000) {
        QProcess process;
        process.setProcessEnvironment(environment());
        QElapsedTimer clock;
        clock.start();
        process.start(binary("t83ctl"), args);
        Run run;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(3000);
            return run; // status -1: it hung
        }
        run.ms = clock.elapsed();
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString writeProfile(const QByteArray& json) {
        const QString path = testenv::workDir() + QStringLiteral("/line.t83profile");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            return {};
        return path;
    }

  private slots:
    void initTestCase() {
        if (!QFile::exists(binary("t83ctl")) || !QFile::exists(binary("t83sim")))
            QSKIP("t83ctl and t83sim have not been built next to the tests");
        QVERIFY(data_.isValid());
    }

    void readReportsTheModuleWithNoDisplay() {
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--version-text"), QStringLiteral("V7.7")}));
        const Run run = ctl(
            {QStringLiteral("read"), QStringLiteral("--port"), sim.pty, QStringLiteral("--json")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QJsonObject o = run.json();
        QCOMPARE(o.value(QStringLiteral("device")).toString(), sim.pty);
        QVERIFY(o.value(QStringLiteral("answered")).toBool());
        const QJsonObject s = o.value(QStringLiteral("settings")).toObject();
        QCOMPARE(s.size(), 12);
        QCOMPARE(s.value(QStringLiteral("txfreque")).toString(), QStringLiteral("229100"));
        QCOMPARE(s.value(QStringLiteral("headdress")).toString(), QStringLiteral("0002"));
        QCOMPARE(s.value(QStringLiteral("version")).toString().trimmed(), QStringLiteral("V7.7"));
        QCOMPARE(o.value(QStringLiteral("missing")).toArray().size(), 0);
        const QJsonArray ports = o.value(QStringLiteral("ports")).toArray();
        QCOMPARE(ports.size(), 8);
        QCOMPARE(ports.at(7).toObject().value(QStringLiteral("form")).toString(),
                 QStringLiteral("输出正脉冲"));

        // The windows' port map names it as well, and the run says which number it was.
        {
            SettingsStore store;
            store.writeValue(RegKeys::PortMap, QStringLiteral("COM7"), sim.pty);
        }
        const Run mapped = ctl({QStringLiteral("read"), QStringLiteral("--port"),
                                QStringLiteral("COM7"), QStringLiteral("--json")});
        QCOMPARE(mapped.status, 0);
        QCOMPARE(mapped.json().value(QStringLiteral("port")).toString(), QStringLiteral("COM7"));
        QCOMPARE(mapped.json().value(QStringLiteral("device")).toString(), sim.pty);

        // A parameter the module does not have is a failed check, and named.
        Sim partial;
        QVERIFY(partial.start({QStringLiteral("--missing"), QStringLiteral("B7")}));
        const Run missing = ctl({QStringLiteral("read"), QStringLiteral("--port"), partial.pty,
                                 QStringLiteral("--json")});
        QCOMPARE(missing.status, 1);
        QCOMPARE(missing.json().value(QStringLiteral("missing")).toArray(),
                 QJsonArray{QStringLiteral("typeaudio")});
    }

    void applyConfiguresRecordsAndVerifies() {
        const QString profile = writeProfile(
            R"({"format": 1, "name": "线体A", "settings": {"txfreque": "231250",
                "rxfreque": "231250", "meaddress": "0A0B", "repeat": "05", "sqr": "数字"},
                "ports": {"PB8": {"direction": "输出", "answer": "应答",
                          "destination": "串口输出", "form": "输出负脉冲"}}})");
        QVERIFY(!profile.isEmpty());
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--randomize")}));
        const Run run = ctl({QStringLiteral("apply"), QStringLiteral("--port"), sim.pty,
                             QStringLiteral("--profile"), profile, QStringLiteral("--serial"),
                             QStringLiteral("SN-1"), QStringLiteral("--json")});
        QVERIFY2(run.status == 0, qPrintable(run.err + QString::fromUtf8(run.out)));
        const QJsonObject result = run.json();
        QCOMPARE(result.value(QStringLiteral("result")).toString(), QStringLiteral("PASS"));
        QCOMPARE(result.value(QStringLiteral("fields")).toArray().size(), 6);
        QVERIFY(result.value(QStringLiteral("id")).toInteger() > 0);

        // The module holds the profile now, as a separate read finds.
        const QJsonObject read = ctl({QStringLiteral("read"), QStringLiteral("--port"), sim.pty,
                                      QStringLiteral("--json")})
                                     .json();
        const QJsonObject s = read.value(QStringLiteral("settings")).toObject();
        QCOMPARE(s.value(QStringLiteral("txfreque")).toString(), QStringLiteral("231250"));
        QCOMPARE(s.value(QStringLiteral("meaddress")).toString(), QStringLiteral("0A0B"));
        QCOMPARE(s.value(QStringLiteral("sqr")).toString(), QStringLiteral("数字"));
        QCOMPARE(read.value(QStringLiteral("ports"))
                     .toArray()
                     .at(7)
                     .toObject()
                     .value(QStringLiteral("form")),
                 QStringLiteral("输出负脉冲"));

        // A module whose memory does not keep the retry count fails, naming the field, and
        // the failure is recorded as well.
        Sim forgetful;
        QVERIFY(forgetful.start(
            {QStringLiteral("--randomize"), QStringLiteral("--revert"), QStringLiteral("E7")}));
        const Run failed = ctl({QStringLiteral("apply"), QStringLiteral("--port"), forgetful.pty,
                                QStringLiteral("--profile"), profile, QStringLiteral("--serial"),
                                QStringLiteral("SN-2"), QStringLiteral("--json")});
        QCOMPARE(failed.status, 1);
        QVERIFY2(failed.json()
                     .value(QStringLiteral("reason"))
                     .toString()
                     .contains(QStringLiteral("repeat")),
                 failed.out.constData());

        ResultsDatabase db;
        QString error;
        QVERIFY2(
            db.open({}, &error, data_.path() + QStringLiteral("/Norvik/t83tool/results.sqlite")),
            qPrintable(error));
        const QList<RunRecord> runs = db.runs({});
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs.at(0).serial, QStringLiteral("SN-2"));
        QVERIFY(!runs.at(0).result.pass);
        QCOMPARE(runs.at(1).serial, QStringLiteral("SN-1"));
        QVERIFY(runs.at(1).result.pass);
    }

    void failuresGiveTheirOwnStatus() {
        // No answer at all.
        Sim silent;
        QVERIFY(silent.start({QStringLiteral("--silent")}));
        const Run mute = ctl({QStringLiteral("read"), QStringLiteral("--port"), silent.pty});
        QCOMPARE(mute.status, 4);

        // No such port, through the port map as well.
        QCOMPARE(ctl({QStringLiteral("read"), QStringLiteral("--port"),
                      QStringLiteral("/dev/t83-no-such-port")})
                     .status,
                 3);
        QCOMPARE(
            ctl({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("COM42")}).status,
            3);

        // A port another program holds: busy, as the windows say it.
        Sim sim;
        QVERIFY(sim.start({}));
        {
            QSerialPort other;
            other.setPortName(sim.pty);
            QVERIFY(other.open(QIODevice::ReadWrite));
            const Run busy = ctl({QStringLiteral("read"), QStringLiteral("--port"), sim.pty});
            QCOMPARE(busy.status, 3);
            QVERIFY2(busy.err.contains(QStringLiteral("设置串口已打开")), qPrintable(busy.err));
        }

        // Usage errors: an unknown command, an option the command does not take, a value
        // that is not one, a profile that is not one.
        const QString bad = writeProfile(R"({"format": 1, "settings": {"repeat": "5"}})");
        for (const QStringList& args :
             {QStringList{QStringLiteral("frobnicate")},
              QStringList{QStringLiteral("read"), QStringLiteral("--port"), sim.pty,
                          QStringLiteral("--profile"), bad},
              QStringList{QStringLiteral("write"), QStringLiteral("--port"), sim.pty,
                          QStringLiteral("repeat=5")},
              QStringList{QStringLiteral("apply"), QStringLiteral("--port"), sim.pty,
                          QStringLiteral("--profile"), bad}}) {
            const Run usage = ctl(args);
            QVERIFY2(usage.status == 2, qPrintable(args.join(QLatin1Char(' '))));
            QVERIFY(!usage.err.isEmpty());
        }
    }

    void aLostPortOrASignalEndsTheRunAtOnce() {
        // The simulator killed in the middle of a read: status 3 within two seconds.
        Sim sim;
        QVERIFY(sim.start(
            {QStringLiteral("--verbose"), QStringLiteral("--delay"), QStringLiteral("200")}));
        QProcess reading;
        startCtl(reading, {QStringLiteral("read"), QStringLiteral("--port"), sim.pty,
                           QStringLiteral("--timed-read")});
        QVERIFY(QTest::qWaitFor(
            [&] { return sim.process.readAllStandardError().contains("d7 ef"); }, 5000));
        QElapsedTimer clock;
        clock.start();
        sim.process.kill();
        QVERIFY(reading.waitForFinished(5000));
        QCOMPARE(reading.exitCode(), 3);
        QVERIFY2(clock.elapsed() < 2000, QByteArray::number(clock.elapsed()).constData());

        // SIGINT in the middle of a read: it stops at once and leaves the port free.
        Sim other;
        QVERIFY(other.start({}));
        QProcess interrupted;
        startCtl(interrupted, {QStringLiteral("read"), QStringLiteral("--port"), other.pty,
                               QStringLiteral("--timed-read")});
        QTest::qWait(600);
        clock.restart();
        ::kill(pid_t(interrupted.processId()), SIGINT);
        QVERIFY(interrupted.waitForFinished(5000));
        QCOMPARE(interrupted.exitCode(), 128 + SIGINT);
        QVERIFY(clock.elapsed() < 1000);
        QSerialPort free;
        free.setPortName(other.pty);
        QVERIFY(free.open(QIODevice::ReadWrite));
    }

    void aFileGoesFromSendFileToCapture() {
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--peer")}));
        QByteArray data;
        for (int i = 0; i < 3000; ++i)
            data.append(char(i * 7)); // D7 and D7 FE among them: data, not commands
        const QString source = testenv::workDir() + QStringLiteral("/发送.bin");
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
        file.close();
        const QString target = testenv::workDir() + QStringLiteral("/received.bin");
        QProcess capture;
        startCtl(capture, {QStringLiteral("capture"), QStringLiteral("--port"), sim.peer,
                           QStringLiteral("--out"), target, QStringLiteral("--timeout"),
                           QStringLiteral("20")});
        const Run sent = ctl({QStringLiteral("send-file"), QStringLiteral("--port"), sim.pty,
                              QStringLiteral("--rate"), QStringLiteral("56000"), source});
        QVERIFY2(sent.status == 0, qPrintable(sent.err));
        QVERIFY(capture.waitForFinished(10000));
        QVERIFY2(capture.exitCode() == 0, capture.readAllStandardError().constData());
        QFile received(target);
        QVERIFY(received.open(QIODevice::ReadOnly));
        QVERIFY(received.readAll() == data);
    }

    // Two stations over a radio that loses, corrupts and duplicates packets: the
    // listener's counts are what the simulator's log says it did, the threshold gives the
    // status, and both ends are recorded.
    void aLinkTestCountsWhatTheRadioDid() {
        const QString log = testenv::workDir() + QStringLiteral("/impair.log");
        Sim sim;
        QVERIFY(
            sim.start({QStringLiteral("--peer"), QStringLiteral("--loss"), QStringLiteral("3"),
                       QStringLiteral("--corrupt"), QStringLiteral("2"),
                       QStringLiteral("--duplicate"), QStringLiteral("2"), QStringLiteral("--seed"),
                       QStringLiteral("7"), QStringLiteral("--impair-log"), log}));
        const QStringList common{QStringLiteral("--rate"), QStringLiteral("56000"),
                                 QStringLiteral("--json")};
        QProcess listener;
        startCtl(listener, QStringList{QStringLiteral("linktest"), QStringLiteral("--port"),
                                       sim.peer, QStringLiteral("--listen"),
                                       QStringLiteral("--max-per"), QStringLiteral("1"),
                                       QStringLiteral("--timeout"), QStringLiteral("20")} +
                               common);
        QByteArray said; // the sender goes once the listener is ready
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += listener.readAllStandardError()).contains(QByteArray("等待对端发送")), 10000);
        const Run sent = ctl(QStringList{QStringLiteral("linktest"), QStringLiteral("--port"),
                                         sim.pty, QStringLiteral("--send"),
                                         QStringLiteral("--count"), QStringLiteral("300")} +
                             common);
        QVERIFY2(sent.status == 0, qPrintable(sent.err));
        QCOMPARE(sent.json().value(QStringLiteral("result")).toString(), QStringLiteral("SENT"));
        QCOMPARE(sent.json().value(QStringLiteral("sent")).toInt(), 300);
        QVERIFY(listener.waitForFinished(15000));
        const QJsonObject heard =
            QJsonDocument::fromJson(listener.readAllStandardOutput()).object();

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The listener's direction only: what the first station sent.
        const QStringList done = QString::fromUtf8(file.readAll())
                                     .split(QLatin1Char('\n'))
                                     .filter(QStringLiteral("pty>peer"));
        const auto count = [&done](const char* what) {
            return int(done.filter(QLatin1String(what)).size());
        };
        const int lost = count(" lost ");
        const int corrupted = count(" corrupted ");
        QVERIFY(lost + corrupted > 3); // more than 1 % of 300: a FAIL
        QCOMPARE(heard.value(QStringLiteral("total")).toInt(), 300);
        QCOMPARE(heard.value(QStringLiteral("lost")).toInt(), lost);
        QCOMPARE(heard.value(QStringLiteral("corrupted")).toInt(), corrupted);
        QCOMPARE(heard.value(QStringLiteral("duplicated")).toInt(), count(" duplicated"));
        QCOMPARE(heard.value(QStringLiteral("per")).toDouble(), (lost + corrupted) / 300.0);
        QCOMPARE(heard.value(QStringLiteral("result")).toString(), QStringLiteral("FAIL"));
        QCOMPARE(listener.exitCode(), 1);
        QVERIFY(!heard.value(QStringLiteral("settings")).toObject().isEmpty());

        ResultsDatabase db;
        QString error;
        QVERIFY(
            db.open({}, &error, data_.path() + QStringLiteral("/Norvik/t83tool/results.sqlite")));
        QCOMPARE(db.linkTests(&error).size(), 2);
    }

    void aHundredReadsInARowLeaveNothingBehind() {
        Sim sim;
        QVERIFY(sim.start({}));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100; ++i) {
            const Run run = ctl({QStringLiteral("read"), QStringLiteral("--port"), sim.pty}, 10000);
            QVERIFY2(
                run.status == 0,
                qPrintable(QStringLiteral("run %1: %2 %3").arg(i).arg(run.status).arg(run.err)));
        }
        qInfo("100 reads in %lld ms", clock.elapsed());
        // No lock or open handle is left: the port opens at once.
        QSerialPort after;
        after.setPortName(sim.pty);
        QVERIFY(after.open(QIODevice::ReadWrite));
    }
};

T83_TEST_MAIN(TestT83ctl)
#include "test_t83ctl.moc"
