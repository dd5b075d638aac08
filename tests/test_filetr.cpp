// The file-send window over an in-memory line: the header and the data a second after
// it, the limits checked at "浏览" and again at "开始传输", the last send's count kept
// across a new choice, GBK names, stopping in the pause and in the data, DTR held off
// throughout, and a port that goes away mid-send.
#include "app/father.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/filetrwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QToolButton>

namespace {
QString makeFile(const QString& name, const QByteArray& content) {
    const QString path = QDir(testenv::workDir()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Distinct bytes, so that a lost or repeated byte shows.
QByteArray pattern(qsizetype n) {
    QByteArray out(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        out[i] = char((i * 131 + (i >> 8) * 7) & 0xff);
    return out;
}

const QString kDone = QStringLiteral("文件已经传输完毕");
const QString kInterrupted = QStringLiteral("文件传输被中断");
const QString kTooLarge = QStringLiteral("请选择其它文件,文件大小不能超过1M字节");
const QString kEmpty = QStringLiteral("请选择其它文件，此文件无数据!");
} // namespace

class TestFileTr : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    FileTrWindow* window = nullptr;
    // Every DTR change: ms on the line's clock, and the new state.
    QList<QPair<qint64, bool>> dtrChanges;

    FileTrWindow* open() {
        ctx->father()->filetx->trigger();
        return ctx->loaded<FileTrWindow>();
    }
    void choose(const QString& path) {
        app.dialogs->fileNames.enqueue(path);
        window->Command4->click();
    }
    QStringList messages() const { return app.dialogs->texts(); }

  private slots:
    void init() {
        app.start();
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("9600,n,8,1")).ok());
        line->clearTimeline();
        dtrChanges.clear();
        connect(&ctx->MSComm1(), &CommControl::dtrChanged, ctx.get(), [this](bool on) {
            dtrChanges.append({line->elapsedMs(), on});
        });
        window = open();
        QVERIFY(window);
    }
    void cleanup() { app.stop(); }

    // F3, button 3 with choice 1 and the drop-down's "发送文件" show the window modal and
    // on top; closing unloads it; start waits for a file.
    void opensModalOnTopAndStartWaitsForAFile() {
        Father* f = ctx->father();
        const std::function<void()> openers[] = {
            [f] { f->Toolbar1_ButtonClick(3); },
            [this, f] {
                ctx->intfile = 0;
                f->buttonMenuItem(QStringLiteral("key21"))->trigger();
                QCOMPARE(ctx->intfile, 1);
            },
            [f] {
                f->show();
                f->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(f));
                QTest::keyClick(f, Qt::Key_F3);
            }};
        for (const auto& openIt : openers) {
            choose(makeFile(QStringLiteral("a.bin"), "0123456789"));
            QVERIFY(window->Command5->isEnabled());
            window->close();
            QTRY_VERIFY(!ctx->loaded<FileTrWindow>());
            openIt();
            window = ctx->loaded<FileTrWindow>();
            QVERIFY(window && window->isVisible());
            QCOMPARE(window->windowModality(), Qt::ApplicationModal);
            QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
            QCOMPARE(window->Text1->text(), QStringLiteral("******"));
            QVERIFY(!window->Command5->isEnabled() && !window->Command6->isEnabled());
            choose(QString()); // cancelled
            QVERIFY(!window->Command5->isEnabled());
        }
        QCOMPARE(f->toolButton(3)->toolTip(), QStringLiteral("发送文件"));
    }

    // The a.bin example: header, a second of silence, the ten bytes with DTR off, the
    // count at 10, DTR back 50 ms after the last byte, the result for five seconds, and
    // the file still chosen.
    void aBinGoesOutAsHeaderThenDataASecondLater() {
        const QByteArray data = "0123456789";
        choose(makeFile(QStringLiteral("a.bin"), data));
        window->Command5->click();
        const QByteArray header = QByteArray::fromHex("D705612E62696E2A0000000A");
        QCOMPARE(line->written(), header);
        QVERIFY(!window->Command4->isEnabled() && !window->Command5->isEnabled());
        QVERIFY(window->Command6->isEnabled() && window->PBar1->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(!window->busy(), 5000);
        QCOMPARE(window->Label1->text(), kDone);
        QCOMPARE(line->written(), header + data);
        QCOMPARE(window->Label8->text(), QStringLiteral("10"));
        const QList<MemoryLine::Sent>& timeline = line->timeline();
        QCOMPARE(timeline.first().bytes, header);
        const qint64 pause = timeline.at(1).ms - timeline.first().ms;
        QVERIFY2(pause >= 995 && pause < 1500, qPrintable(QString::number(pause)));
        for (const MemoryLine::Sent& chunk : timeline)
            QVERIFY(!chunk.dtr);
        QCOMPARE(dtrChanges.size(), 2);
        QVERIFY(!dtrChanges.at(0).second && dtrChanges.at(1).second);
        const qint64 dtrBack = dtrChanges.at(1).first - timeline.last().ms;
        QVERIFY2(dtrBack >= 50 && dtrBack < 300, qPrintable(QString::number(dtrBack)));
        QVERIFY(window->Command4->isEnabled() && window->Command5->isEnabled());
        QVERIFY(!window->Command6->isEnabled() && !window->PBar1->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(window->Label1->text(), QStringLiteral("文件传输进度"), 7000);
    }

    // Checked at "浏览": at most 1,000,000 bytes, not empty, a name of at most 255 GBK
    // bytes; a refused file leaves nothing to start. The length goes out as four bytes,
    // most significant first.
    void limitsAtBrowse() {
        const QString million = makeFile(QStringLiteral("m.bin"), QByteArray(1000000, 'x'));
        choose(million);
        QCOMPARE(window->Label6->text(), QStringLiteral("1000000"));
        QVERIFY(window->Command5->isEnabled());
        QVERIFY(messages().isEmpty());

        choose(makeFile(QStringLiteral("big.bin"), QByteArray(1000001, 'x')));
        QCOMPARE(messages(), QStringList{kTooLarge});
        QCOMPARE(window->Text1->text(), QStringLiteral("******"));
        QCOMPARE(window->Label6->text(), QStringLiteral("******"));
        QVERIFY(!window->Command5->isEnabled());

        choose(makeFile(QStringLiteral("empty.bin"), QByteArray()));
        QCOMPARE(messages().last(), kEmpty);
        QVERIFY(!window->Command5->isEnabled());

        // 128 Chinese characters are 256 bytes in GBK: the name cannot be announced. (No
        // file system here holds such a name, so the path is only the dialog's answer.)
        choose(QDir(testenv::workDir()).filePath(QString(128, QChar(0x6587))));
        QCOMPARE(messages().size(), 3);
        QVERIFY(messages().last().contains(QStringLiteral("文件名太长")));
        QVERIFY(!window->Command5->isEnabled());
        choose(makeFile(QString(255, QLatin1Char('n')), "z")); // the longest name
        QVERIFY(window->Command5->isEnabled());

        choose(million);
        window->Command5->click();
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D7056D2E62696E2A000F4240"));
        window->Command6->click();
        QTRY_VERIFY(!window->busy());
        QCOMPARE(window->Label1->text(), kInterrupted);
        QCOMPARE(messages().size(), 3);
    }

    // "已传输字节" keeps the last send's count when the next file is chosen; a refused
    // file or a cancelled "浏览" shows "******" again.
    void theLastCountStaysUntilAFileIsRefusedOrBrowseCancelled() {
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok());
        choose(makeFile(QStringLiteral("a.bin"), "0123456789"));
        window->Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->busy(), 5000);
        QCOMPARE(window->Label8->text(), QStringLiteral("10"));

        const QString next = makeFile(QStringLiteral("b.bin"), "xyz");
        choose(next);
        QCOMPARE(window->Text1->text(), next);
        QCOMPARE(window->Label6->text(), QStringLiteral("3"));
        QCOMPARE(window->Label8->text(), QStringLiteral("10"));
        QVERIFY(window->Command5->isEnabled());

        choose(makeFile(QStringLiteral("empty.bin"), QByteArray()));
        QCOMPARE(messages(), QStringList{kEmpty});
        QCOMPARE(window->Label8->text(), QStringLiteral("******"));

        choose(next);
        window->Command5->click();
        window->Command6->click(); // in the pause: nothing of the file went out
        QTRY_VERIFY(!window->busy());
        QCOMPARE(window->Label8->text(), QStringLiteral("0"));
        choose(QString()); // cancelled
        QCOMPARE(window->Label8->text(), QStringLiteral("******"));
    }

    // A Chinese name goes out as its GBK bytes, counted in bytes.
    void chineseNameGoesOutInGbk() {
        if (!QStringEncoder("GBK").isValid())
            QSKIP("no GBK converter in this Qt");
        choose(makeFile(QStringLiteral("测试.bin"), "0123456789"));
        window->Command5->click();
        QCOMPARE(line->written(), QByteArray::fromHex("D708B2E2CAD42E62696E2A0000000A"));
    }

    // A file that vanished, grew past the limit or emptied after "浏览": the user is
    // told and nothing goes out. One that changed within the limits goes out as it is
    // now, announced with its new length.
    void fileChangedAfterBrowse() {
        struct Case {
            const char* what;
            std::function<void(const QString&)> change;
        };
        const Case refused[] = {
            {"vanished", [](const QString& path) { QFile::remove(path); }},
            {"grew",
             [](const QString& path) {
                 makeFile(QFileInfo(path).fileName(), QByteArray(1000001, 'x'));
             }},
            {"emptied", [](const QString& path) { makeFile(QFileInfo(path).fileName(), {}); }},
        };
        for (const Case& c : refused) {
            const QString path = makeFile(QStringLiteral("a.bin"), "0123456789");
            choose(path);
            c.change(path);
            const qsizetype told = messages().size();
            window->Command5->click();
            QVERIFY2(messages().size() == told + 1, c.what);
            QVERIFY2(line->written().isEmpty(), c.what);
            QVERIFY2(dtrChanges.isEmpty(), c.what);
            QVERIFY2(!window->busy() && !window->Command5->isEnabled(), c.what);
        }

        choose(makeFile(QStringLiteral("a.bin"), "0123456789"));
        makeFile(QStringLiteral("a.bin"), "xyz");
        window->Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->busy(), 5000);
        QCOMPARE(line->written(), QByteArray::fromHex("D705612E62696E2A00000003") + "xyz");
        QCOMPARE(window->Label6->text(), QStringLiteral("3"));
    }

    // Stop in the second after the header lets no data byte out; stop in the data lets
    // no further byte out. Either way the window is idle again and DTR back after 50 ms.
    void stopInThePauseOrInTheData() {
        choose(makeFile(QStringLiteral("a.bin"), "0123456789"));
        window->Command5->click();
        const QByteArray header = line->written();
        window->Command6->click();
        QTRY_VERIFY(!window->busy());
        QCOMPARE(window->Label1->text(), kInterrupted);
        QVERIFY(window->Command4->isEnabled() && window->Command5->isEnabled());
        QVERIFY(ctx->MSComm1().LinkDtr());
        QVERIFY(!window->Timer2.isActive()); // the data will not follow
        QCOMPARE(line->takeWritten(), header);

        const QByteArray data = pattern(3000); // about three seconds at 9600 bit/s
        choose(makeFile(QStringLiteral("b.bin"), data));
        dtrChanges.clear();
        window->Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->Label8->text().toInt() >= 200, 5000);
        window->Command6->click();
        const qint64 stopMs = line->elapsedMs();
        const qsizetype gone = line->written().size();
        QTRY_VERIFY(!window->busy());
        QCOMPARE(window->Label1->text(), kInterrupted);
        QVERIFY(window->Command4->isEnabled() && window->Command5->isEnabled());
        QCOMPARE(dtrChanges.size(), 2);
        QVERIFY2(dtrChanges.at(1).first - stopMs >= 50,
                 qPrintable(QString::number(dtrChanges.at(1).first - stopMs)));
        QVERIFY(ctx->MSComm1().Output(QByteArray("END")));
        QTRY_VERIFY(line->written().endsWith("END"));
        const qsizetype sent = gone - 12; // after the header
        QVERIFY(sent < data.size());
        QCOMPARE(line->written().mid(12), data.left(sent) + "END");
        QCOMPARE(window->Label8->text().toInt(), sent);
        for (const MemoryLine::Sent& chunk : line->timeline())
            if (chunk.bytes != "END")
                QVERIFY(!chunk.dtr);
    }

    // A device unplugged during the data or during the pause: the user is told once
    // (by the program's lost-port message), the window is idle and DTR is given back.
    void portLostMidSendEndsOnce() {
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok());
        choose(makeFile(QStringLiteral("a.bin"), pattern(1000000)));
        for (const bool inData : {true, false}) {
            const qsizetype told = messages().size();
            window->Command5->click();
            if (inData)
                QTRY_VERIFY_WITH_TIMEOUT(window->Label8->text().toInt() >= 1000, 5000);
            QVERIFY(window->busy());
            line->unplug();
            QTRY_COMPARE(messages().size(), told + 1);
            QVERIFY(messages().last().contains(QStringLiteral("的连接已断开")));
            QVERIFY(!window->busy());
            QCOMPARE(window->Label1->text(), kInterrupted);
            QVERIFY(window->Command4->isEnabled() && window->Command5->isEnabled());
            QVERIFY(ctx->MSComm1().LinkDtr());
            QVERIFY(ctx->MSComm1().setPortOpen(true).ok());
        }
    }

    // A port that stays open but stops taking bytes, at the header or in the data: the
    // send ends with one message of its own, the window is idle, DTR is given back and
    // nothing more is tried.
    void aLineThatStopsTakingBytesEndsTheSendOnce_data() {
        QTest::addColumn<qint64>("taken");
        QTest::addColumn<QString>("told");
        QTest::newRow("header") << qint64(3) << QStringLiteral("串口写入失败,文件没有发送。");
        const QString cut = QStringLiteral("文件传输被中断(串口写入失败，发送中断)。");
        QTest::newRow("first data") << qint64(12 + 5000) << cut;
        QTest::newRow("later data") << qint64(12 + 30000) << cut;
    }
    void aLineThatStopsTakingBytesEndsTheSendOnce() {
        QFETCH(qint64, taken);
        QFETCH(QString, told);
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok());
        choose(makeFile(QStringLiteral("a.bin"), pattern(100000)));
        line->limitWrites(taken);
        window->Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->busy(), 5000);
        QTest::qWait(100);
        QCOMPARE(messages(), QStringList{told});
        QCOMPARE(line->written().size(), taken);
        QCOMPARE(window->Label1->text(), kInterrupted);
        QVERIFY(window->Command4->isEnabled() && window->Command5->isEnabled());
        QVERIFY(ctx->MSComm1().LinkDtr());
    }
};

T83_TEST_MAIN(TestFileTr)
#include "test_filetr.moc"
