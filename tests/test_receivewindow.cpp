// The receive window: typed keys go out (ASCII one byte, Chinese two GBK bytes) with a
// 60 ms DTR pulse, echo can be switched off, DSR changes reach panel 2, received bytes
// are shown (the last bytes of a flood, a split Chinese character once, a reply in a
// stream parsed and not shown) in a bounded box, and the window refuses its close box.
#include "app/appcontext.h"
#include "app/comwindow.h"
#include "link/replydisplay.h"
#include "protocol/frames.h"
#include "tests/support/appfixture.h"
#include "tests/support/memorylines.h"
#include "tests/support/onscreen.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/commandwindow.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QClipboard>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextBlock>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class TestReceiveWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    ShowData* window = nullptr;

  private slots:
    void init() {
        app.start();
        window = ctx->showdata();
    }
    void cleanup() { app.stop(); }

    void typedKeysAreSentAndPulseDtr() {
        QTest::keyClicks(window->Text1, QStringLiteral("a"));
        QCOMPARE(line->takeWritten(), QByteArray("a"));
        QVERIFY(!line->dtr());
        QCOMPARE(window->panel(1)->text(), QStringLiteral("逻辑1"));
        QCOMPARE(window->panel(1)->picture(), 104);
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("a"));

        // A burst keeps DTR off until 60 ms after its last key.
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(40);
        QTest::keyClicks(window->Text1, QStringLiteral("b"));
        QTRY_VERIFY_WITH_TIMEOUT(line->dtr(), 1000);
        QVERIFY(clock.elapsed() >= 95);
        QCOMPARE(window->panel(1)->text(), QStringLiteral("逻辑0"));
        QCOMPARE(window->panel(1)->picture(), 103);
        QCOMPARE(line->takeWritten(), QByteArray("b"));
    }

    void chineseCharacterIsTwoGbkBytesInOneWrite() {
        QList<QByteArray> writes;
        connect(line, &MemoryLine::bytesWritten, this, [&](const QByteArray& b) { writes << b; });
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("中"));
        QCoreApplication::sendEvent(window->Text1, &key);
        QCOMPARE(writes, QList<QByteArray>{QByteArray::fromHex("D6D0")});
    }

    void echoOffSendsButLeavesTheTextAlone() {
        window->Text1->setPlainText(QStringLiteral("x"));
        ctx->link().EchoKeys = false;
        QTest::keyClicks(window->Text1, QStringLiteral("hi"));
        QCOMPARE(line->takeWritten(), QByteArray("hi"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("x"));
    }

    void typingWithThePortClosedSendsNothing() {
        ctx->MSComm1().setPortOpen(false);
        QTest::keyClicks(window->Text1, QStringLiteral("q"));
        QVERIFY(line->written().isEmpty());
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("q"));
        QVERIFY(app.dialogs->messages.isEmpty());
    }

    void dsrChangesShowInPanelTwo() {
        QCOMPARE(window->panel(2)->text(), QStringLiteral("逻辑1"));
        line->setDsr(true);
        QTRY_COMPARE(window->panel(2)->text(), QStringLiteral("逻辑0"));
        QCOMPARE(window->panel(2)->picture(), 101);
        QCOMPARE(window->panel(2)->bevel(), StatusPanel::Bevel::Inset);
        line->setDsr(false);
        QTRY_COMPARE(window->panel(2)->picture(), 102);
    }

    void receivedBytesReachTheWindowAndItsPanelsStartRight() {
        QCOMPARE(window->panel(3)->text(), QStringLiteral("CRC校验:未读"));
        QCOMPARE(window->panel(4)->text(), QStringLiteral("软件版本"));
        line->feed(QByteArray("AB"));
        QTRY_COMPARE(window->Text1->toPlainText(), QStringLiteral("41:42:"));
    }

    // Everything shown, line breaks aside.
    QString shownRun() const {
        QString all = window->Text1->toPlainText();
        return all.remove(QLatin1Char('\n'));
    }

    void longTrafficKeepsTheBoxBoundedAndItsTailWhole() {
        const QString chunk(1000, QLatin1Char('x'));
        for (int i = 0; i < 400; ++i)
            window->appendReceived(chunk + QStringLiteral("\r\n"));
        window->flushReceived();
        QVERIFY(window->Text1->document()->blockCount() <= ShowData::kMaxBlocks);
        QVERIFY(window->Text1->toPlainText().endsWith(chunk + QLatin1Char('\n')));
        for (int i = 0; i < 400; ++i)
            window->appendReceived(chunk, true);
        window->flushReceived();
        QVERIFY(window->Text1->document()->blockCount() <= ShowData::kMaxBlocks);
        QVERIFY(window->Text1->document()->characterCount() <=
                ShowData::kMaxBlocks * (ShowData::kHexLine + 1));
    }

    void theScrollBarOnScreenFollowsTheBox() {
        // The bar skips repaints that would not change it: what is on screen must still
        // be what it draws now, while the box fills, once it is full, and when scrolled.
        QWidget* top = window->Text1->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        QScrollBar* bar = window->Text1->verticalScrollBar();
        const auto onScreen = [&] { return shownOnScreen(bar); };
        const auto drawn = [&] { return drawnAfresh(bar); };
        for (int lines : {40, 300, 2 * ShowData::kMaxBlocks, 30}) {
            for (int i = 0; i < lines; ++i)
                window->appendReceived(QStringLiteral("line %1\r\n").arg(i));
            window->flushReceived();
            QTRY_VERIFY(onScreen() == drawn());
        }
        bar->setValue(bar->maximum() / 2);
        QTRY_VERIFY(onScreen() == drawn());
        bar->setValue(bar->maximum());
        QTRY_VERIFY(onScreen() == drawn());

        // Lines that wrap: each frame still ends at the very bottom of the box.
        for (int frame = 0; frame < 20; ++frame) {
            for (int i = 0; i < 7; ++i)
                window->appendReceived(QString(30 + 37 * ((frame + i) % 5), QLatin1Char('w')) +
                                       QStringLiteral("\r\n"));
            window->flushReceived();
            QCOMPARE(bar->value(), bar->maximum());
            QVERIFY(bar->maximum() > 0);
            // The last row, where the caret is, is whole on screen.
            const QRect caret = window->Text1->caretRectFor(window->Text1->textCursor().position());
            QVERIFY(window->Text1->viewport()->rect().contains(caret));
        }
    }

    void theBoxDrawsWhatAFreshBoxWithTheSameTextDraws() {
        // The box keeps each line's rows as the text changes (frames at its end, the cut
        // of its oldest lines, typing, deleting and line breaks in the middle) instead of
        // wrapping everything again: it must draw what a box given the whole text draws.
        QWidget* top = window->Text1->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        ReceiveBox* box = window->Text1;
        for (int frame = 0; frame < 40; ++frame) {
            for (int i = 0; i < 40; ++i)
                window->appendReceived(
                    QString(3 + (frame * 31 + i * 17) % 150, QChar(u'a' + i % 26)) +
                        (i % 3 ? QStringLiteral(" \r\n") : QStringLiteral(" ")),
                    frame % 4 == 3);
            window->flushReceived();
        }
        box->setFocus();
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(30, 40));
        QTest::keyClicks(box, QStringLiteral("typed in the middle"));
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Return);
        window->appendReceived(QStringLiteral("end\r\n").repeated(30));
        window->flushReceived();
        box->clearFocus(); // no caret in either picture

        ReceiveBox fresh(nullptr);
        fresh.setFont(box->font());
        fresh.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        fresh.resize(box->size());
        fresh.setPlainText(box->toPlainText());
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        QCOMPARE(fresh.verticalScrollBar()->maximum(), box->verticalScrollBar()->maximum());
        fresh.verticalScrollBar()->setValue(box->verticalScrollBar()->value());
        QVERIFY(drawnAfresh(fresh.viewport()) == drawnAfresh(box->viewport()));
    }

    void typingAtTheEndOfAFullBoxStaysInView() {
        // Lines typed into a full box (Enter, Tab as a character) move the end down: the
        // scroll range follows at once, not at the next frame, and the caret stays on screen.
        QWidget* top = window->Text1->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        ReceiveBox* box = window->Text1;
        window->appendReceived(QStringLiteral("line\r\n").repeated(ShowData::kMaxBlocks));
        window->flushReceived();
        box->setFocus();
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClick(box, Qt::Key_Tab);
        }
        QVERIFY(box->toPlainText().endsWith(QStringLiteral("\n\t")));
        QScrollBar* bar = box->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(box->viewport()->rect().contains(box->caretRectFor(box->textCursor().position())));
    }

    void selectingAndCopyingBelongToTheBox() {
        window->appendReceived(QStringLiteral("alpha beta gamma\r\n"));
        window->flushReceived();
        ReceiveBox* box = window->Text1;
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, {},
                           box->caretRectFor(7).center()); // inside "beta"
        QCOMPARE(box->textCursor().selectedText(), QStringLiteral("beta"));
        line->takeWritten();
        // Ctrl+C copies (the main window's Ctrl+C opens the port settings elsewhere).
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("beta"));
        QVERIFY(!ctx->loaded<ComWindow>());
        // A selection is held while frames come, and Shift+arrows extend it.
        window->appendReceived(QStringLiteral("more\r\n"));
        window->flushReceived();
        QCOMPARE(box->textCursor().selectedText(), QStringLiteral("beta"));
        QTest::keyClick(box, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(box->textCursor().selectedText(), QStringLiteral("beta "));
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("alpha beta gamma\nmore\n"));
    }

    void theBoxOnScreenIsWhatItDraws() {
        // A frame repaints only the rows that changed and moves the others up: what is
        // on screen must be what the box draws afresh, while it fills, once full, with
        // lines begun in one frame and ended in another, wrapped lines, hex, and a caret
        // the user placed above the end.
        QWidget* top = window->Text1->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        // The caret is drawn, without blinking, so that it is on screen when a frame comes.
        QStyleHints* hints = QGuiApplication::styleHints();
        const int flashTime = hints->cursorFlashTime();
        hints->setCursorFlashTime(0);
        const auto restore = qScopeGuard([&] { hints->setCursorFlashTime(flashTime); });
        top->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(top));
        window->Text1->setFocus();
        QWidget* viewport = window->Text1->viewport();
        const auto onScreen = [&] { return shownOnScreen(viewport); };
        const auto drawn = [&] { return drawnAfresh(viewport); };
        const auto frames = [&](int count, int lines, bool hex) {
            for (int frame = 0; frame < count; ++frame) {
                for (int i = 0; i < lines; ++i) {
                    const int n = (frame * 7 + i * 13) % 90;
                    window->appendReceived(hex ? QStringLiteral("4A ").repeated(n / 4 + 1)
                                               : QString(n, QChar(u'a' + (frame + i) % 26)) +
                                                     (n % 4 ? QStringLiteral("\r\n") : QString()),
                                           hex);
                }
                window->flushReceived();
                QTRY_VERIFY(onScreen() == drawn());
            }
        };
        frames(30, 3, false);
        window->appendReceived(QStringLiteral("x\r\n").repeated(ShowData::kMaxBlocks));
        window->flushReceived();
        QTRY_VERIFY(onScreen() == drawn());
        frames(30, 3, false);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() / 2));
        QVERIFY(!window->Text1->textCursor().atEnd());
        QTRY_VERIFY(onScreen() == drawn()); // the caret is on screen where it was placed
        window->appendReceived(QStringLiteral("new 1\r\nnew 2\r\n"));
        window->flushReceived();
        QTRY_VERIFY(onScreen() == drawn());
        frames(20, 2, true);
    }

    void upFromTheEndOfAStreamGoesStraightUp() {
        // The caret carried to the end by frames goes up from where it is now, not from
        // the column where it was last placed.
        QWidget* top = window->Text1->window();
        top->show(); // the box's own width, so that neither line wraps
        QVERIFY(QTest::qWaitForWindowExposed(top));
        window->appendReceived(QStringLiteral("abcdefghijklmnop\r\nab"));
        window->flushReceived();
        window->appendReceived(QStringLiteral("cdefgh"));
        window->flushReceived();
        QCOMPARE(window->Text1->textCursor().positionInBlock(), 8);
        QTest::keyClick(window->Text1, Qt::Key_Up);
        QCOMPARE(window->Text1->textCursor().blockNumber(), 0);
        QCOMPARE(window->Text1->textCursor().positionInBlock(), 8);
    }

    // One frame that gathers far more than the box keeps shows what frame after frame
    // of the same stream shows, from a line already begun.
    void aHugeFrameShowsWhatSmallFramesShow_data() {
        QTest::addColumn<bool>("hex");
        QTest::newRow("hex") << true;
        QTest::newRow("text") << false;
    }
    void aHugeFrameShowsWhatSmallFramesShow() {
        QFETCH(bool, hex);
        QString stream;
        for (int i = 0; stream.size() < 40 * ShowData::kMaxBlocks * ShowData::kHexLine; ++i) {
            if (hex)
                stream += HexPairs(QByteArray(1, char(i * 7 + i / 251)));
            else if (i % 997 == 0)
                stream += QString(1500, QLatin1Char('L')) + QLatin1Char('\r'); // split, lone CR
            else
                stream += QStringLiteral("line %1\r\n").arg(i);
        }
        stream += hex ? QStringLiteral("01:02:03:04:05:06:07:") : QStringLiteral("end\r");
        QString shown[2];
        for (const bool oneFrame : {false, true}) {
            window->Text1->clear();
            window->appendReceived(hex ? QStringLiteral("D7:FD:01:") : QStringLiteral("ab"), hex);
            window->flushReceived();
            if (oneFrame) {
                window->appendReceived(stream.left(stream.size() / 2), hex);
                window->appendReceived(stream.mid(stream.size() / 2), hex);
            } else {
                for (qsizetype at = 0; at < stream.size(); at += 3 * 1000) {
                    window->appendReceived(stream.mid(at, 3 * 1000), hex);
                    window->flushReceived();
                }
            }
            window->flushReceived();
            shown[oneFrame] = window->Text1->toPlainText();
        }
        QCOMPARE(shown[1].size(), shown[0].size());
        QVERIFY(shown[1] == shown[0]);
        const QString tail = hex ? stream.right(300) : QStringLiteral("line");
        QVERIFY(QString(shown[0]).remove(QLatin1Char('\n')).contains(tail));
    }

    void floodShowsTheLastBytesSentInHexAndText() {
        QByteArray data;
        for (int i = 0; data.size() < 300000; ++i)
            data += "line " + QByteArray::number(i) + " of a flood\r\n";
        for (qsizetype at = 0; at < data.size(); at += 4096)
            line->feed(data.mid(at, 4096));
        const QString lastHex = HexPairs(data.right(500));
        QTRY_VERIFY(shownRun().endsWith(lastHex));
        QCOMPARE(ctx->MSComm1().InBufferCount(), 0);
        // Hex lines are whole pairs.
        QCOMPARE(window->Text1->document()->lastBlock().previous().text().size(),
                 ShowData::kHexLine);

        window->Text1->clear();
        ctx->link().setDisplayFormat(Link::DisplayFormat::Text);
        for (qsizetype at = 0; at < data.size(); at += 4096)
            line->feed(data.mid(at, 4096));
        const QString lastText = QString::fromLatin1(data.right(500)).remove(QLatin1Char('\r'));
        QTRY_VERIFY(shownRun().endsWith(QString(lastText).remove(QLatin1Char('\n'))));
        QVERIFY(window->Text1->toPlainText().endsWith(lastText));
    }

    void gbkCharacterSplitAcrossArrivalsShowsOnce() {
        ctx->link().setDisplayFormat(Link::DisplayFormat::Text);
        line->feed(QByteArray::fromHex("41D6"));
        QTRY_COMPARE(window->Text1->toPlainText(), QStringLiteral("A"));
        line->feed(QByteArray::fromHex("D042"));
        QTRY_COMPARE(window->Text1->toPlainText(), QStringLiteral("A中B"));
    }

    void replyInsideAStreamIsParsedNotShown() {
        ctx->window<CommandWindow>(); // logging on
        const QByteArray before(3000, 'a'), after(3000, 'b');
        line->feed(before + QByteArray::fromHex("D7E803") + after);
        QTRY_VERIFY(shownRun().endsWith(HexPairs(after)));
        QCOMPARE(shownRun(), HexPairs(before) + HexPairs(after));
        QVERIFY(ctx->params.m_repeatb);
        QCOMPARE(ctx->params.m_repeat, QStringLiteral("03"));
        QCOMPARE(ctx->window<CommandWindow>()->Text2->toPlainText(), QStringLiteral("D7:E8:03:\n"));
    }

    void closeBoxIsRefused() {
        QVERIFY(!window->close());
        QVERIFY(ctx->MSComm1().PortOpen());
    }

    void aMessageFromTheLineHoldsUpNeitherReadingNorMemory() {
        // The program's own dialogs: a box that ran an event loop inside the receive
        // handler would leave every later byte waiting, unread and unshown.
        QtUserDialogs real;
        MemoryLines lines;
        AppContext own(real, lines.options({QStringLiteral("mem:1")}));
        own.startup();
        MemoryLine* ownLine = lines.line(QStringLiteral("mem:1"));
        own.link().cycle.Timer1.stop();
        ShowData* shown = own.showdata();
        own.session().SendFrame(
            t83::FrequencyWriteFrame(QStringLiteral("229100"), QStringLiteral("229100")));
        ownLine->feed(QByteArray::fromHex("D7FA"));
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        const auto rss = [] {
            QFile statm(QStringLiteral("/proc/self/statm"));
            statm.open(QIODevice::ReadOnly);
            return statm.readAll().split(' ').value(1).toLongLong() * 4096;
        };
        const qint64 before = rss();
        const QByteArray text =
            QByteArray("0123456789 abcdefghijklmnopqrstuvwxyz\r\n").repeated(256);
        qint64 sent = 0;
        while (sent < 10'000'000) {
            ownLine->feed(text);
            sent += text.size();
            if (sent % (text.size() * 64) == 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(own.MSComm1().InBufferCount(), 0, 20000);
        QVERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); // still up
        // (AddressSanitizer keeps freed memory in quarantine: there the figure says nothing.)
        if (!kSanitized)
            QVERIFY2(rss() - before < 24 * 1024 * 1024, qPrintable(QString::number(rss() - before)));
        shown->flushReceived();
        // Hex rows as usual: the last full line is one row of 16 pairs.
        const QStringList rows = shown->Text1->toPlainText().split(QLatin1Char('\n'));
        QVERIFY(rows.size() > 100);
        QCOMPARE(rows.at(rows.size() - 2).size(), ShowData::kHexLine);
        QApplication::activeModalWidget()->close();
    }
};

T83_TEST_MAIN(TestReceiveWindow)
#include "test_receivewindow.moc"
