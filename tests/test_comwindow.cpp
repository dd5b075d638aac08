// The port settings window against a pseudo-terminal mapped as COM3: applying port,
// rate and data bits, storing them, probing; the lists, refused keys and close box,
// and what OK does without a usable port.
#include "app/appcontext.h"
#include "app/comwindow.h"
#include "app/father.h"
#include "tests/support/appfixture.h"
#include "tests/support/pty.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestComWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Pty> pty;
    QStringList present;

    QStringList app_messages() const { return dialogs->texts(); }
    ComWindow* openWindow() {
        ctx->openOrFront<ComWindow>();
        return ctx->window<ComWindow>();
    }

  private slots:
    void init() {
        testenv::reset();
        dialogs = std::make_unique<ScriptedDialogs>();
        pty = std::make_unique<Pty>();
        present = {};
        AppContext::Options options;
        options.portEnumerator = [this] { return present; };
        ctx = std::make_unique<AppContext>(*dialogs, options);
        ctx->portMap().map(3, pty->slavePath());
        // The stored COM1 has no device: start-up fails and says so.
        ctx->startup();
        dialogs->messages.clear();
    }
    void cleanup() {
        ctx.reset();
        pty.reset();
    }

    void okAppliesStoresAndProbes() {
        ComWindow* w = openWindow();
        QCOMPARE(w->Combo1->count(), 1); // COM3
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("3"));
        QCOMPARE(w->Combo2->count(), 14);
        QCOMPARE(w->Combo2->itemText(11), QStringLiteral("56000"));
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("1")); // the stored value
        QCOMPARE(w->Combo2->currentIndex(), 3);                  // 1200, selected in the list
        QCOMPARE(w->Combo4->currentText(), QStringLiteral("八位"));
        w->Combo1->setCurrentIndex(0);
        w->Combo2->setCurrentIndex(6); // 9600
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QVERIFY(dialogs->messages.isEmpty());
        QTRY_VERIFY(!ctx->loaded<ComWindow>());
        QCOMPARE(ctx->MSComm1().CommPort(), 3);
        QCOMPARE(ctx->MSComm1().Settings(), QStringLiteral("9600,N,8,1"));
        QCOMPARE(ctx->father()->panel(1)->text(), QStringLiteral("COM3,9600,N,8,1"));
        QCOMPARE(ctx->store().GetRegString(RegKeys::PortSetting, QStringLiteral("串口号")),
                 QStringLiteral("3"));
        QCOMPARE(ctx->store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率")),
                 QStringLiteral("9600"));
        QCOMPARE(ctx->CurrentRate, 9600);
        QTRY_COMPARE(pty->received(), QByteArray::fromHex("D7FE"));
        QVERIFY(ctx->link().cycle.Timer1.isActive());
    }

    void nineBitsUseMarkParityAndOtherRatesAreAccepted() {
        ComWindow* w = openWindow();
        w->Combo1->setCurrentIndex(0);
        w->Combo2->setCurrentIndex(11); // 56000
        w->Combo4->setCurrentIndex(1);  // 九位
        w->Command1_Click();
        QCOMPARE(ctx->MSComm1().Settings(), QStringLiteral("56000,M,8,1"));
        QCOMPARE(ctx->store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率")),
                 QStringLiteral("56000"));
        // The parity item changes the running port without reopening or storing it
        // (the tool menu waits for the module, so call its command directly).
        QVERIFY(!ctx->father()->e81->isEnabled());
        ctx->father()->setbaud(QStringLiteral(",E,8,1"));
        QCOMPARE(ctx->MSComm1().Settings(), QStringLiteral("56000,E,8,1"));
        QCOMPARE(ctx->father()->panel(1)->text(), QStringLiteral("COM3,56000,E,8,1"));
        QVERIFY(ctx->MSComm1().PortOpen());
    }

    void portsBeyondTheListGiveAnEmptyItemThatOkRefuses() {
        SettingsStore& store = ctx->store();
        store.writeValue(RegKeys::PortMap, QStringLiteral("COM45"), pty->slavePath());
        ctx->portMap().map(3, QStringLiteral("/dev/t83-gone"));
        Pty first;
        ctx->portMap().map(1, first.slavePath());
        ListSerialPorts(ctx->portMap(), ctx->SerialPortNames);
        QCOMPARE(ctx->SerialPortNames,
                 (QStringList{QStringLiteral("COM1"), QStringLiteral("COM45")}));
        ComWindow* w = openWindow();
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("1"));
        QCOMPARE(w->Combo1->itemText(1), QString());
        w->Combo1->setCurrentIndex(1);
        w->Command1_Click();
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("设置串口无效,确定后请重新设置")});
        QVERIFY(ctx->loaded<ComWindow>()); // kept open to choose again
        QVERIFY(!ctx->MSComm1().PortOpen());
    }

    void badRateIsRefusedBeforeTheRunningPortIsClosed() {
        ComWindow* w = openWindow();
        w->Combo1->setEditText(QStringLiteral("3"));
        w->Command1_Click(); // COM3 at the stored 1200
        QVERIFY(ctx->MSComm1().PortOpen());
        w = openWindow();
        w->Combo2->setEditText(QStringLiteral("abc"));
        w->Command1_Click();
        QCOMPARE(app_messages(), QStringList{QStringLiteral("设置串口速率无效,确定后请重新设置")});
        QVERIFY(ctx->MSComm1().PortOpen());
        QVERIFY(ctx->loaded<ComWindow>());
        QCOMPARE(w->Combo2->lineEdit()->contextMenuPolicy(), Qt::NoContextMenu);
    }

    void failedApplyIsToldOnceAndClosesTheWindow() {
        ComWindow* w = openWindow();
        ctx->portMap().map(7, QStringLiteral("/dev/t83-gone"));
        w->Combo1->setEditText(QStringLiteral("7"));
        w->Command1_Click();
        QCOMPARE(dialogs->messages.size(), 1); // no second, fallback attempt
        QTRY_VERIFY(!ctx->loaded<ComWindow>());
        QCOMPARE(ctx->father()->panel(1)->text(), QStringLiteral("打开串口时出错"));
    }

    void keysCloseBoxAndEsc() {
        ComWindow* w = openWindow();
        const QString before = w->Combo2->currentText();
        QTest::keyClicks(w->Combo2->lineEdit(), QStringLiteral("99"));
        QTest::keyClick(w->Combo2->lineEdit(), Qt::Key_Backspace);
        QCOMPARE(w->Combo2->currentText(), before);
        QVERIFY(!w->parentWidget()->close()); // the close box
        QVERIFY(ctx->loaded<ComWindow>());
        QTest::keyClick(w->Combo1->lineEdit(), Qt::Key_Escape);
        QTRY_VERIFY(!ctx->loaded<ComWindow>());
        QVERIFY(!ctx->MSComm1().PortOpen());
    }

    void enterPressesTheFocusedButtonAndMeansOkOnAList() {
        ctx.reset(); // here COM1 is an in-memory line that counts its openings
        AppFixture app;
        app.start();
        const auto storedRate = [&] {
            return app.ctx->store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率"));
        };
        const int openings = app.line->openCount();
        app.ctx->openOrFront<ComWindow>();
        ComWindow* w = app.ctx->window<ComWindow>();
        w->Combo2->setCurrentIndex(6); // 9600
        w->Command2->setFocus();
        QTest::keyClick(w->Command2, Qt::Key_Return);
        QCOMPARE(app.line->openCount(), openings);
        QCOMPARE(storedRate(), QStringLiteral("1200"));
        QTRY_VERIFY(!app.ctx->loaded<ComWindow>());

        app.ctx->openOrFront<ComWindow>();
        w = app.ctx->window<ComWindow>();
        w->Combo2->setCurrentIndex(6);
        QTest::keyClick(w->Combo2->lineEdit(), Qt::Key_Return);
        QCOMPARE(app.line->openCount(), openings + 1);
        QCOMPARE(storedRate(), QStringLiteral("9600"));
        QTRY_VERIFY(!app.ctx->loaded<ComWindow>());
    }

    void comconverKnowsComOneToForty() {
        QCOMPARE(ComWindow::comconver(QStringLiteral("COM1")), QStringLiteral("1"));
        QCOMPARE(ComWindow::comconver(QStringLiteral("COM40")), QStringLiteral("40"));
        QCOMPARE(ComWindow::comconver(QStringLiteral("COM41")), QString());
        QCOMPARE(ComWindow::comconver(QStringLiteral("com5")), QString());
        QCOMPARE(ComWindow::comconver(QString()), QString());
    }

    void deviceLineFollowsTheChosenNumber() {
        ctx->portMap().map(5, QStringLiteral("/dev/t83-unplugged"));
        ComWindow* w = openWindow();
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("3")); // the items stay numbers
        w->Combo1->setCurrentIndex(0);
        QVERIFY2(w->deviceLine->toolTip().startsWith(pty->slavePath()),
                 qPrintable(w->deviceLine->toolTip()));
        w->Combo1->setEditText(QStringLiteral("5"));
        QCOMPARE(w->deviceLine->toolTip(), QStringLiteral("/dev/t83-unplugged (未连接)"));
        w->Combo1->setEditText(QStringLiteral("1"));
        QCOMPARE(w->deviceLine->toolTip(), QStringLiteral("(无设备)"));
    }
};

T83_TEST_MAIN(TestComWindow)
#include "test_comwindow.moc"
