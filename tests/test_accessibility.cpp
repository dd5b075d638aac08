// What a screen reader or a UI automation tool reads: the receive box's text as received,
// its caret and a selection the user made, and the status panels' texts as they change.
// The notices of change are not counted here: Qt passes them on only while a platform's
// accessibility bridge is active, and the offscreen platform has none.
#include "app/appcontext.h"
#include "app/father.h"
#include "tests/support/appfixture.h"
#include "tests/support/testenv.h"
#include "ui/receivebox.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QAccessible>
#include <QStatusBar>

class TestAccessibility : public QObject {
    Q_OBJECT

    AppFixture app;

  private slots:
    void init() { app.start(); }
    void cleanup() { app.stop(); }

    void receiveBoxReadsAsItsTextCaretAndSelection() {
        ShowData* window = app.ctx->showdata();
        ReceiveBox* box = window->Text1;
        QWidget* top = box->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::EditableText);
        QAccessibleTextInterface* text = iface->textInterface();
        QVERIFY(text);

        // A stream longer than the box keeps: what is read is the box's text now, its
        // oldest lines cut, line breaks as in the box's plain text, the caret at the end.
        for (int i = 0; i < ShowData::kMaxBlocks + 300; ++i)
            window->appendReceived(QStringLiteral("line %1\r\n").arg(i));
        window->appendReceived(QStringLiteral("alpha beta gamma"));
        window->flushReceived();
        const QString shown = box->toPlainText();
        QVERIFY(!shown.startsWith(QStringLiteral("line 0\n")));
        QCOMPARE(iface->text(QAccessible::Value), shown);
        QCOMPARE(text->characterCount(), shown.size());
        QCOMPARE(text->text(0, 20), shown.left(20)); // across a line break
        QCOMPARE(text->cursorPosition(), int(shown.size()));
        QCOMPARE(text->selectionCount(), 0);
        int start = -1;
        int end = -1;
        QCOMPARE(
            text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end),
            QStringLiteral("alpha beta gamma"));
        QCOMPARE(
            text->textBeforeOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end),
            QStringLiteral("line %1\n").arg(ShowData::kMaxBlocks + 299));

        // The user selects a word with the mouse: its offsets are the selection read, and
        // the caret is at its end.
        const int beta = int(shown.lastIndexOf(QStringLiteral("beta")));
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, {},
                           box->caretRectFor(beta + 1).center());
        QCOMPARE(box->textCursor().selectedText(), QStringLiteral("beta"));
        QCOMPARE(text->selectionCount(), 1);
        text->selection(0, &start, &end);
        QCOMPARE(start, beta);
        QCOMPARE(end, beta + 4);
        QCOMPARE(text->text(start, end), QStringLiteral("beta"));
        QCOMPARE(text->cursorPosition(), beta + 4);
        // Where the word is on screen is where a magnifier or a tool clicking it goes.
        const QRect b = text->characterRect(beta);
        QVERIFY(b.width() > 1);
        QCOMPARE(text->offsetAtPoint(b.center()), beta);
    }

    void statusPanelsAreNamedByTheirText() {
        // The main window's status bar reads as its panels' texts, and a panel's name
        // follows its text.
        Father* father = app.ctx->father();
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(father->statusBar());
        QVERIFY(bar);
        const auto names = [&] {
            QStringList all;
            for (int i = 0; i < bar->childCount(); ++i)
                all << bar->child(i)->text(QAccessible::Name);
            return all;
        };
        QVERIFY(names().contains(father->panel(2)->text()));
        QVERIFY(!father->panel(2)->text().isEmpty());
        father->setPortPanel(QStringLiteral("串口:COM7"));
        QVERIFY(names().contains(QStringLiteral("串口:COM7")));

        StatusPanel* crc = app.ctx->showdata()->panel(3);
        QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(crc);
        QVERIFY(panel);
        QCOMPARE(panel->role(), QAccessible::StaticText);
        QCOMPARE(panel->text(QAccessible::Name), QStringLiteral("CRC校验:未读"));
        QCOMPARE(panel->childCount(), 0);
        crc->setText(QStringLiteral("CRC校验: 5AH"));
        QCOMPARE(panel->text(QAccessible::Name), QStringLiteral("CRC校验: 5AH"));
    }
};

T83_TEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
