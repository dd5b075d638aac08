// The command window: hex-pair entry, conversion, sending (Enter from anywhere in the
// window), the busy flag, the read-only receive area and the window's lifetime.
#include "app/appcontext.h"
#include "app/father.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/commandwindow.h"
#include "tools/hexpairs.h"
#include "ui/showdata.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>

class TestCommandWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    CommandWindow* window = nullptr;

  private slots:
    void init() {
        app.start();
        ctx->openOrFront<CommandWindow>();
        window = ctx->window<CommandWindow>();
    }
    void cleanup() { app.stop(); }

    void hexTextConvertsOneBytePerThreeCharacters() {
        QCOMPARE(HexTextToBytes(QStringLiteral("D7:FF:")), QByteArray::fromHex("D7FF"));
        QCOMPARE(HexTextToBytes(QStringLiteral("D7:FF")), QByteArray::fromHex("D7"));
        QCOMPARE(HexTextToBytes(QStringLiteral("d7:ZZ:")), QByteArray::fromHex("0700"));
        QCOMPARE(HexTextToBytes(QStringLiteral("D7")), QByteArray());
        // Counted untrimmed, read trimmed.
        QCOMPARE(HexTextToBytes(QStringLiteral(" 12:34:")), QByteArray::fromHex("1234"));
    }

    void typedPairsGetColonsAndSendAsTyped() {
        QTest::keyClicks(window->Text1, QStringLiteral("d7ff"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7:FF:"));
        QVERIFY(window->Command2->isEnabled());
        QTest::mouseClick(window->Command2, Qt::LeftButton);
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D7FF"));
        QVERIFY(ctx->link().CommandBusy);
        QTRY_VERIFY(!ctx->link().CommandBusy);
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7:FF:")); // kept for resending
    }

    void otherKeysAreDiscardedAndBackspaceRestoresTheColon() {
        QTest::keyClicks(window->Text1, QStringLiteral(":G \t-zd7"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7:"));
        QTest::keyClick(window->Text1, Qt::Key_Backspace);
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7"));
        QTest::keyClick(window->Text1, Qt::Key_Return);
        QVERIFY(line->written().isEmpty()); // no complete pair: nothing goes out
        QTest::keyClicks(window->Text1, QStringLiteral("f"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7:F"));
        QTest::keyClicks(window->Text1, QStringLiteral("f"));
        QTest::keyClick(window->Text1, Qt::Key_Backspace);
        QTest::keyClick(window->Text1, Qt::Key_Return);
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D7"));
    }

    void enterFromTheReceiveAreaSendsAndKeysNeverChangeIt() {
        QTest::keyClicks(window->Text1, QStringLiteral("d7fe"));
        window->insertReply(QStringLiteral("D7:FD:\r\n"));
        const QString log = window->Text2->toPlainText();
        QTest::keyClicks(window->Text2, QStringLiteral("xy"));
        QCOMPARE(window->Text2->toPlainText(), log);
        QTest::keyClicks(window->Text2, QStringLiteral("0"));
        QCOMPARE(window->Text1->toPlainText(), QStringLiteral("D7:FE:0")); // digits land in Text1
        QTest::keyClick(window->Text2, Qt::Key_Return);
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D7FE"));
        QCOMPARE(window->Text2->toPlainText(), log);
    }

    void probeAnswerSoonAfterASendStartsNoRead() {
        QTest::keyClicks(window->Text1, QStringLiteral("d7fe"));
        QTest::keyClick(window->Text1, Qt::Key_Return);
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->link().parser.ModuleAnswered);
        QVERIFY(!ctx->link().cycle.Timer2.isActive());
        QTRY_VERIFY(!ctx->link().CommandBusy);
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->link().cycle.Timer2.isActive());
        QTRY_VERIFY(window->Text2->toPlainText().count(QStringLiteral("D7:FD:")) == 2);
    }

    void closingRightAfterASendDoesNotLeaveTheLinkBusy() {
        QTest::keyClicks(window->Text1, QStringLiteral("d7fe"));
        QTest::keyClick(window->Text1, Qt::Key_Return);
        QVERIFY(ctx->link().CommandBusy);
        window->close();
        QTRY_VERIFY(!ctx->loaded<CommandWindow>());
        QVERIFY(!ctx->link().CommandBusy);
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->link().cycle.Timer2.isActive()); // the read starts as usual
    }

    void sendingWithThePortClosedTellsTheUser() {
        QTest::keyClicks(window->Text1, QStringLiteral("d7fe"));
        ctx->MSComm1().setPortOpen(false);
        QTest::mouseClick(window->Command2, Qt::LeftButton);
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(!ctx->link().CommandBusy);

        // Open, but the line takes no bytes: not a silent success either.
        QVERIFY(ctx->MSComm1().setPortOpen(true).ok());
        line->limitWrites(0);
        QTest::mouseClick(window->Command2, Qt::LeftButton);
        QCOMPARE(app.dialogs->messages.size(), 2);
        QCOMPARE(app.dialogs->messages[1].text, QStringLiteral("串口写入失败,命令没有发送。"));
    }

    void opensOnceAndUnloadsWhenClosed() {
        ctx->openOrFront<CommandWindow>();
        QCOMPARE(ctx->father()->mdiArea()->subWindowList().size(), 2); // receive + command
        QVERIFY(ctx->windowOpen.commandWindowOpen);
        window->close();
        QTRY_VERIFY(!ctx->loaded<CommandWindow>());
        QTRY_COMPARE(ctx->father()->mdiArea()->subWindowList().size(), 1);
        QVERIFY(!ctx->windowOpen.commandWindowOpen);
        ctx->openOrFront<CommandWindow>();
        QVERIFY(ctx->loaded<CommandWindow>() && ctx->window<CommandWindow>()->meshow);
        QVERIFY(ctx->window<CommandWindow>()->Text2->toPlainText().isEmpty());
    }
};

T83_TEST_MAIN(TestCommandWindow)
#include "test_commandwindow.moc"
