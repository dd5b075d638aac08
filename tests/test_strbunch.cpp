// The data-string sender: opening it, the single send (progress, DTR, one send at a
// time), the forms of the user's data, and the continuous send with its prompt: one
// count per block, the window kept hidden until "停止", no pile-up on a slow line, and a
// "停止" after which nothing goes out.
#include "app/appcontext.h"
#include "app/father.h"
#include "config/promptwindow.h"
#include "tests/support/appfixture.h"
#include "tests/support/testenv.h"
#include "tools/hexpairs.h"
#include "tools/strbunchwindow.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

class TestStrbunch : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    StrbunchWindow* window = nullptr;
    // DTR changes as (ms on the line's clock, on).
    QList<QPair<qint64, bool>> dtrChanges;

    // Where pacing is not the point, sends take no time.
    void fastLine() { QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("2000000,n,8,1")).ok()); }
    // 1200 bit/s, and a line that drains at that pace like a real port.
    void slowLine() {
        QVERIFY(ctx->MSComm1().setSettings(QStringLiteral("1200,n,8,1")).ok());
        line->setDrainRate(120);
    }
    void chooseCustomHex() {
        QTest::mouseClick(window->Label6, Qt::LeftButton);
        QVERIFY(window->Option4->isChecked());
        QVERIFY(window->HexMode);
    }
    PromptWindow* prompt() const { return ctx->loaded<PromptWindow>(); }
    int promptCount() const { return prompt() ? prompt()->Label3->text().toInt() : -1; }
    bool shown() const { return window->isVisibleTo(ctx->father()); }

  private slots:
    void init() {
        app.start();
        ctx->father()->menudatacode->trigger();
        window = ctx->loaded<StrbunchWindow>();
        QVERIFY(window);
        dtrChanges.clear();
        connect(&ctx->MSComm1(), &CommControl::dtrChanged, ctx.get(), [this](bool on) {
            dtrChanges.append({line->elapsedMs(), on});
        });
        line->clearTimeline();
    }
    void cleanup() { app.stop(); }

    void opensOnceFromMenuToolbarAndCtrlA() {
        QVERIFY(shown());
        QVERIFY(ctx->windowOpen.stringWindowOpen);
        const auto closeWindow = [this] {
            QTest::mouseClick(ctx->loaded<StrbunchWindow>()->Command2, Qt::LeftButton);
            QTRY_VERIFY(!ctx->loaded<StrbunchWindow>());
            QVERIFY(!ctx->windowOpen.stringWindowOpen);
        };
        closeWindow();
        Father* f = ctx->father();
        f->Toolbar1_ButtonClick(4);
        QVERIFY(ctx->loaded<StrbunchWindow>());
        const int windows = f->mdiArea()->subWindowList().size();
        f->menudatacode->trigger();
        QCOMPARE(f->mdiArea()->subWindowList().size(), windows);
        closeWindow();
        f->show();
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTest::keyClick(f, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(ctx->loaded<StrbunchWindow>());
    }

    // 95 bytes at 9600 bit/s on a line with a real port's pace: the progress bar runs
    // to 95 and back to 0, every byte leaves with DTR off, DTR is on again 100 ms after
    // the last; a second send while this one runs is refused.
    void singleSendOfTheDefaultData() {
        line->setDrainRate(960);
        QList<int> progress;
        connect(window->ProgressBar1, &QProgressBar::valueChanged, ctx.get(),
                [&](int value) { progress << value; });
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QVERIFY(!window->Command3->isEnabled());
        QVERIFY(!window->Command1->isEnabled());
        window->Command3_Click();
        window->Command1_Click();
        QVERIFY(shown()); // no continuous send started

        QTRY_VERIFY_WITH_TIMEOUT(window->Command3->isEnabled(), 5000);
        const QByteArray expected = HexTextToBytes(StrbunchWindow::defaultDataText());
        QCOMPARE(expected.size(), 95);
        QCOMPARE(expected.left(7), QByteArray::fromHex("00000000000011"));
        QCOMPARE(expected.right(6), QByteArray::fromHex("EEFFFFFFFFFF"));
        QCOMPARE(line->written(), expected);
        QCOMPARE(window->ProgressBar1->maximum(), 95);
        QVERIFY(progress.contains(95));
        QCOMPARE(progress.last(), 0);
        QVERIFY(std::is_sorted(progress.begin(), progress.end() - 1));

        for (const MemoryLine::Sent& chunk : line->timeline())
            QVERIFY(!chunk.dtr);
        QCOMPARE(dtrChanges.size(), 2);
        QCOMPARE(dtrChanges[1].second, true);
        const qint64 afterLast = dtrChanges[1].first - line->timeline().last().ms;
        QVERIFY2(afterLast >= 100, qPrintable(QString::number(afterLast)));
        QVERIFY(prompt() == nullptr || !prompt()->isVisible());
    }

    void userDataAsHexPairsOrCharacters() {
        fastLine();
        chooseCustomHex();
        QVERIFY(window->Text1->toPlainText().isEmpty());
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QCOMPARE(app.dialogs->texts().value(0), QStringLiteral("请输入数据！"));
        QTest::keyClicks(window->Text1, QStringLiteral("1"));
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QCOMPARE(app.dialogs->messages.size(), 2); // no complete group: nothing to send
        QVERIFY(line->written().isEmpty());
        QVERIFY(dtrChanges.isEmpty());

        // Typed pairs get their colons; other keys and double-byte characters do not land.
        QTest::keyClicks(window->Text1, QStringLiteral("2g"));
        QKeyEvent wide(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("中"));
        QCoreApplication::sendEvent(window->Text1, &wide);
        QTest::keyClicks(window->Text1, QStringLiteral("34-5"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("12:34:5"));
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("12:34:"));
        QTRY_VERIFY(window->Command3->isEnabled());
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("1234"));

        // Pasted text keeps what the key filter would have let through.
        window->Text1->clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("ab 中c\nd"));
        window->Text1->paste();
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("AB:CD:"));

        // Characters go out as their GBK bytes with nothing appended.
        QTest::mouseClick(window->Label2, Qt::LeftButton);
        QVERIFY(window->CharMode);
        window->Text1->setPlainText(QStringLiteral("中A"));
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        QTRY_VERIFY(window->Command3->isEnabled());
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D6D041"));
        QCOMPARE(app.dialogs->messages.size(), 2);
    }

    // At 200 ms one block goes out per tick, with DTR off throughout, and the prompt
    // counts the blocks; "停止" ends it, turns DTR on and shows the window again; the
    // next run counts from 0. "取消" during a run ends it and closes the prompt.
    void continuousSendCountsBlocksUntilStop() {
        fastLine();
        chooseCustomHex();
        QTest::keyClicks(window->Text1, QStringLiteral("12345"));
        window->Combo1->setCurrentIndex(0);
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QVERIFY(!shown());
        QVERIFY(ctx->windowOpen.stringWindowOpen);
        QVERIFY(prompt() && prompt()->isVisible());
        QCOMPARE(prompt()->mode(), 3);
        QCOMPARE(prompt()->Label3->text(), QStringLiteral("0"));
        QCOMPARE(prompt()->Label5->text(), QStringLiteral("200"));
        QVERIFY(!ctx->MSComm1().LinkDtr());

        QTRY_VERIFY_WITH_TIMEOUT(promptCount() >= 3, 5000);
        const int count = promptCount();
        const QByteArray block = QByteArray::fromHex("1234");
        const qsizetype blocks = line->written().size() / block.size();
        QVERIFY2(blocks == count || blocks == count + 1, qPrintable(QString::number(blocks)));
        QCOMPARE(line->written(), block.repeated(blocks));
        const QList<MemoryLine::Sent>& timeline = line->timeline();
        for (qsizetype i = 0; i < timeline.size(); ++i) {
            QVERIFY(!timeline[i].dtr);
            if (i > 0)
                QVERIFY2(timeline[i].ms - timeline[i - 1].ms >= 180,
                         qPrintable(QString::number(timeline[i].ms - timeline[i - 1].ms)));
        }
        QCOMPARE(dtrChanges.size(), 1); // off once, for the whole run
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("12:34:5"));

        QTest::mouseClick(prompt()->Command2, Qt::LeftButton);
        QVERIFY(shown());
        QCOMPARE(window->txtime, 0);
        QVERIFY(!window->Timer1.isActive());
        QTRY_VERIFY(ctx->MSComm1().LinkDtr());
        QCOMPARE(ctx->showdata()->panel(1)->text(), QStringLiteral("逻辑0"));
        QTRY_VERIFY(!prompt());
        QVERIFY(window->Command1->isEnabled());

        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QCOMPARE(prompt()->Label3->text(), QStringLiteral("0"));
        QTRY_VERIFY(promptCount() >= 1);
        QTest::mouseClick(window->Command2, Qt::LeftButton);
        QTRY_VERIFY(!ctx->loaded<StrbunchWindow>());
        QTRY_VERIFY(!prompt());
        QTRY_VERIFY(ctx->MSComm1().LinkDtr());
    }

    // While a continuous send runs its window is hidden: the menu, button 4 and Ctrl+A
    // leave it so, and the run goes on. "停止" brings it back, and then they bring it to
    // the front as usual.
    void theCommandsLeaveARunningWindowHiddenUntilStop() {
        fastLine();
        window->Combo1->setCurrentIndex(0);
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QVERIFY(!shown());
        Father* f = ctx->father();
        const int windows = f->mdiArea()->subWindowList().size();
        f->show();
        const auto ctrlA = [f] {
            f->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f));
            QTest::keyClick(f, Qt::Key_A, Qt::ControlModifier);
        };
        QVERIFY(f->toolButton(4)->isEnabled());
        f->toolButton(4)->click();
        f->menudatacode->trigger();
        ctrlA();
        QTest::qWait(50); // what the commands may have left for the event loop
        QVERIFY(!shown());
        QCOMPARE(f->mdiArea()->subWindowList().size(), windows);
        const int count = promptCount();
        QTRY_VERIFY(promptCount() > count);
        QVERIFY(prompt()->isVisible());

        QTest::mouseClick(prompt()->Command2, Qt::LeftButton);
        QVERIFY(shown());
        f->mdiArea()->setActiveSubWindow(
            qobject_cast<QMdiSubWindow*>(ctx->showdata()->parentWidget()));
        ctrlA();
        QTRY_VERIFY(f->mdiArea()->activeSubWindow() &&
                    f->mdiArea()->activeSubWindow()->widget() == window);
        QVERIFY(shown());
    }

    // 95 bytes take 792 ms at 1200 bit/s: with 200 ms ticks the output never holds more
    // than one block and the count follows the blocks that went out. "停止" mid-block
    // drops what waits: a marker written after it is the next thing on the line.
    void slowLineNeverPilesUpAndStopLetsNothingMoreOut() {
        slowLine();
        window->Combo1->setCurrentIndex(0);
        qsizetype mostWaiting = 0;
        connect(line, &MemoryLine::bytesWritten, ctx.get(), [&] {
            mostWaiting = std::max<qsizetype>(mostWaiting, ctx->MSComm1().OutBufferCount());
        });
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(promptCount() >= 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(line->written().size() >= 2 * 95 + 10, 5000);
        QCOMPARE(promptCount(), 2);
        QVERIFY2(mostWaiting <= 95, qPrintable(QString::number(mostWaiting)));

        QTest::mouseClick(prompt()->Command2, Qt::LeftButton);
        const QByteArray atStop = line->written();
        QVERIFY(atStop.size() < 3 * 95);
        const QByteArray marker = QByteArray::fromHex("5AA5");
        QVERIFY(ctx->MSComm1().Output(marker));
        QTRY_VERIFY(line->written().endsWith(marker));
        QCOMPARE(line->written(), atStop + marker);
        QVERIFY(!window->Timer1.isActive());
    }

    // The port lost mid-run: the run ends, the window comes back, DTR is on again in the
    // program's flag, and the only message is the one about the lost port.
    void lostPortEndsTheRun() {
        slowLine();
        window->Combo1->setCurrentIndex(0);
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QTRY_VERIFY(line->written().size() >= 5);
        line->unplug();
        QTRY_VERIFY(app.dialogs->texts().join(QString()).contains(QStringLiteral("的连接已断开")));
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(shown());
        QTRY_VERIFY(!prompt());
        QVERIFY(window->Command1->isEnabled());
        QVERIFY(ctx->MSComm1().LinkDtr());
    }

    // A port that stays open but stops taking bytes (a wedged driver) mid-run: told
    // once, the run ends, the window is back and DTR is given back; nothing retries.
    void aLineThatStopsTakingBytesEndsTheRunOnce() {
        fastLine();
        chooseCustomHex();
        QTest::keyClicks(window->Text1, QStringLiteral("1234"));
        window->Combo1->setCurrentIndex(0);
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        QTRY_VERIFY(promptCount() >= 1);
        line->limitWrites(1); // the next block goes out half
        QTRY_COMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("写入失败")));
        const QByteArray written = line->written();
        QTest::qWait(450); // two more ticks would have come
        QCOMPARE(app.dialogs->messages.size(), 1);
        QCOMPARE(line->written(), written);
        QVERIFY(shown());
        QTRY_VERIFY(!prompt());
        QVERIFY(window->Command1->isEnabled());
        QVERIFY(ctx->MSComm1().LinkDtr());
    }
};

T83_TEST_MAIN(TestStrbunch)
#include "test_strbunch.moc"
