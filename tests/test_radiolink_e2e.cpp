// A file crosses the radio link bit for bit: one program's file send, the other's file
// capture. Over in-memory lines joined as the module joins them (what the sender writes
// with DTR off is radio data), and through the simulator's two linked stations on real
// pseudo-terminals.
#include "app/appcontext.h"
#include "app/father.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/filereceivewindow.h"
#include "tools/filetrwindow.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>

namespace {
const QString kComplete = QStringLiteral("文件接收完毕!");

// Random bytes of every value, with many D7 FE and D7 EF pairs planted: the pairs a
// module would take for commands if it read data as frames.
QByteArray randomFile(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = static_cast<char>(random.bounded(256));
    for (int i = 0; i + 1 < size; i += 97 + int(random.bounded(200))) {
        data[i] = '\xD7';
        data[i + 1] = random.bounded(2) ? '\xFE' : '\xEF';
    }
    return data;
}

QString writeFile(const QString& name, const QByteArray& data) {
    const QString path = QDir(testenv::workDir()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Sends `path` from one program and captures it in the other; returns what was saved.
QByteArray transfer(AppContext& sender, ScriptedDialogs& senderDialogs, AppContext& receiver,
                    ScriptedDialogs& receiverDialogs, const QString& path, int timeoutMs) {
    receiver.showFileCapture();
    FileReceiveWindow* capture = receiver.loaded<FileReceiveWindow>();
    sender.father()->filetx->trigger();
    FileTrWindow* send = sender.loaded<FileTrWindow>();
    if (!capture || !send)
        return "(no window)";
    senderDialogs.fileNames.enqueue(path);
    send->Command4->click();
    send->Command5->click();
    if (!QTest::qWaitFor([&] { return receiverDialogs.texts().contains(kComplete); }, timeoutMs))
        return "(not complete)";
    const QString saved = QDir(testenv::workDir()).filePath(QStringLiteral("received.bin"));
    receiverDialogs.fileNames.enqueue(saved);
    capture->Command1->click();
    return readFile(saved);
}
} // namespace

class TestRadioLinkE2E : public QObject {
    Q_OBJECT

  private slots:
    void init() { testenv::reset(); }

    void aMegabyteCrossesInMemoryLinesExactly() {
        AppFixture a;
        AppFixture b;
        a.start();
        b.start();
        // The module carries what its host sends with DTR off to the other station.
        connect(a.line, &MemoryLine::bytesWritten, b.line, [&](const QByteArray& bytes) {
            if (!a.line->dtr())
                b.line->feed(bytes);
        });
        QVERIFY(a.ctx->MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok());
        const QByteArray data = randomFile(1000000, 83);
        const QString path = writeFile(QStringLiteral("mega.bin"), data);
        QVERIFY(!path.isEmpty());
        const QByteArray saved = transfer(*a.ctx, *a.dialogs, *b.ctx, *b.dialogs, path, 30000);
        QCOMPARE(saved.size(), data.size());
        QVERIFY(saved == data);
        QVERIFY(a.dialogs->messages.isEmpty()); // nothing went wrong on the sending side
    }

    void aFileCrossesTheSimulatorsLinkedStations() {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/t83sim");
        if (!QFile::exists(program))
            QSKIP("t83sim has not been built next to the tests");
        QProcess sim;
        sim.start(program, {QStringLiteral("--peer")});
        QVERIFY(sim.waitForStarted(5000));
        QStringList lines;
        while (lines.size() < 2 && sim.waitForReadyRead(5000)) {
            while (sim.canReadLine())
                lines << QString::fromLocal8Bit(sim.readLine()).trimmed();
        }
        QCOMPARE(lines.size(), 2);

        // Two programs on the two stations, each started once its port is mapped.
        ScriptedDialogs dialogsA;
        ScriptedDialogs dialogsB;
        const auto none = [] { return QStringList{}; };
        AppContext a(dialogsA, AppContext::Options{{}, none});
        QSignalSpy polledA(&a.link().cycle, &ReadCycle::portPollFinished);
        a.portMap().map(1, lines[0].section(QLatin1Char(' '), 1));
        a.startup();
        AppContext b(dialogsB, AppContext::Options{{}, none});
        QSignalSpy polledB(&b.link().cycle, &ReadCycle::portPollFinished);
        b.portMap().map(1, lines[1].section(QLatin1Char(' '), 1));
        b.startup();
        // Both modules answer and are read; the transfer starts on a quiet link.
        QVERIFY(QTest::qWaitFor([&] { return polledA.size() && polledB.size(); }, 10000));
        QVERIFY(a.MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok());

        const QByteArray data = randomFile(64 * 1024, 64);
        const QString path = writeFile(QStringLiteral("pty.bin"), data);
        const QByteArray saved = transfer(a, dialogsA, b, dialogsB, path, 30000);
        QCOMPARE(saved.size(), data.size());
        QVERIFY(saved == data);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }
};

T83_TEST_MAIN(TestRadioLinkE2E)
#include "test_radiolink_e2e.moc"
