// The switch-port window: portstate.dat shown row by row (including damaged files), the
// direction switch, the configuration frames of changed ports only, the refresh path and
// the refused close box.
#include "app/appcontext.h"
#include "config/gatewindow.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTemporaryDir>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class TestGateWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    QList<QByteArray>& writes = app.writes;

    static void writePortFile(const QByteArray& bytes) {
        QFile file(QStringLiteral("portstate.dat"));
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    // The user picks an item, as a click in the drop-down list does.
    static void choose(QComboBox* list, const QString& text) {
        const int index = list->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    QStringList row(GateWindow* w, int i) {
        QStringList out{w->Combo1[i]->currentText(), w->Combo5[i]->currentText()};
        if (w->Combo2[i]->isHidden())
            out << w->Combo3[i]->currentText() << w->Combo4[i]->currentText();
        else
            out << w->Combo2[i]->currentText();
        return out;
    }
    QList<QByteArray> portFrames() const {
        QList<QByteArray> out;
        for (const QByteArray& b : writes)
            if (b.startsWith(QByteArray::fromHex("D7D6")))
                out << b;
        return out;
    }

  private slots:
    void init() { app.start(); }
    void cleanup() { app.stop(); }

    void rowsShowTheStoredPorts() {
        writePortFile(QByteArray::fromHex("00F011"
                                          "010F03"
                                          "02FF01"
                                          "030032"
                                          "04AA20"
                                          "050F02"
                                          "065501"
                                          "070000"));
        GateWindow* w = ctx->window<GateWindow>();
        QCOMPARE(w->Label1[7]->text(), QStringLiteral("PB8"));
        const QString out = QStringLiteral("输出"), in = QStringLiteral("输入");
        QCOMPARE(row(w, 0), QStringList({out, QStringLiteral("应答"), QStringLiteral("串口输出"),
                                         QStringLiteral("输出负脉冲")}));
        QCOMPARE(row(w, 1), QStringList({in, QStringLiteral("无此参数"),
                                         QStringLiteral("端口电平变化后发送变化信息")}));
        QCOMPARE(row(w, 2), QStringList({in, QStringLiteral("无此参数"),
                                         QStringLiteral("端口电平由低变高后发送变化信息")}));
        QCOMPARE(row(w, 3), QStringList({out, QStringLiteral("不应答"),
                                         QStringLiteral("串口及对应端口同时输出"),
                                         QStringLiteral("输出发端电平")}));
        // An unknown direction byte keeps the row as it was; the mode follows the
        // direction of the row above.
        QVERIFY(w->Combo1[4]->currentText().isEmpty() && !w->Combo2[4]->isHidden());
        QCOMPARE(w->Combo3[4]->currentText(), QStringLiteral("对应端口输出"));
        QCOMPARE(row(w, 6).mid(2), QStringList({QStringLiteral("端口电平由低变高后发送变化信息")}));
        QVERIFY(!w->Combo1[0]->isEnabled() && !w->Combo2[1]->isEnabled());
    }

    void damagedOrMissingFilesDisplaySafely() {
        // Nibbles beyond every list, and a file that stops after four ports.
        writePortFile(QByteArray::fromHex("000053"
                                          "010F07"
                                          "02F0F2"
                                          "03"));
        GateWindow* w = ctx->window<GateWindow>();
        QCOMPARE(row(w, 0),
                 QStringList({QStringLiteral("输出"), QStringLiteral("不应答"), {}, {}}));
        QCOMPARE(row(w, 1), QStringList({QStringLiteral("输入"), QStringLiteral("无此参数"), {}}));
        QCOMPARE(row(w, 2).at(3), QStringLiteral("输出发端电平"));
        const QStringList zero{QStringLiteral("输出"), QStringLiteral("不应答"),
                               QStringLiteral("无输出"), QStringLiteral("输出正脉冲")};
        QCOMPARE(row(w, 3), zero);
        QCOMPARE(row(w, 7), zero);
        // Applying sends only the ports whose display differs from the file.
        w->Command1_Click();
        w->Command1_Click();
        QCOMPARE(portFrames(), QList<QByteArray>({QByteArray::fromHex("D7D6000000"),
                                                  QByteArray::fromHex("D7D6010F00"),
                                                  QByteArray::fromHex("D7D602F002")}));
        w->Command2_Click();

        // A file that cannot be read at all shows every port as output without answer.
        QFile::remove(QStringLiteral("portstate.dat"));
        QVERIFY(QDir().mkdir(QStringLiteral("portstate.dat")));
        QTRY_VERIFY(!ctx->loaded<GateWindow>());
        w = ctx->window<GateWindow>();
        for (int i = 0; i < 8; ++i)
            QCOMPARE(row(w, i), zero);
        QVERIFY(QDir().rmdir(QStringLiteral("portstate.dat")));
    }

    // A pipe or a link named portstate.dat: the window opens at once (nothing waits for
    // the pipe's other end), shows every port as zero, and leaves the name and what a
    // link leads to as they were (a link's missing target is not created).
    void otherThingsNamedPortStateAreNotOpened_data() {
        QTest::addColumn<QString>("kind");
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << "pipe";
#endif
        QTest::newRow("link to nowhere") << "dangling";
        QTest::newRow("link to a file") << "link";
    }
    void otherThingsNamedPortStateAreNotOpened() {
        QFETCH(QString, kind);
        const QString name = QStringLiteral("portstate.dat");
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        if (kind == QLatin1String("link")) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray::fromHex("000F03").repeated(8));
        }
#ifdef Q_OS_UNIX
        if (kind == QLatin1String("pipe"))
            QVERIFY(::mkfifo(QFile::encodeName(name).constData(), 0644) == 0);
#endif
        if (kind != QLatin1String("pipe"))
            QVERIFY(QFile::link(target, name));
        const bool targetExisted = QFile::exists(target);

        GateWindow* w = ctx->window<GateWindow>();
        const QStringList zero{QStringLiteral("输出"), QStringLiteral("不应答"),
                               QStringLiteral("无输出"), QStringLiteral("输出正脉冲")};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(row(w, i), zero);
        const QFileInfo info(name);
        QCOMPARE(info.isSymLink(), kind != QLatin1String("pipe"));
        QVERIFY(!info.isFile() || info.isSymLink());
        QCOMPARE(QFile::exists(target), targetExisted);
        QFile::remove(name);
    }

    void changedPortsSendTheirFramesInPortOrder() {
        GateWindow* w = ctx->window<GateWindow>(); // no file: all ports output, no answer, 00
        QVERIFY(QFile::exists(QStringLiteral("portstate.dat")));
        w->Command1_Click();
        QCOMPARE(w->Command1->text(), QStringLiteral("设置端口"));
        w->Command1_Click();
        QVERIFY(writes.isEmpty()); // nothing changed, nothing sent

        w->Command1_Click();
        choose(w->Combo1[3], QStringLiteral("输入"));
        QVERIFY(!w->Combo5[3]->isEnabled() && w->Combo3[3]->isHidden() &&
                !w->Combo2[3]->isHidden());
        choose(w->Combo2[3], QStringLiteral("端口电平变化后发送变化信息"));
        choose(w->Combo5[0], QStringLiteral("应答"));
        choose(w->Combo3[0], QStringLiteral("串口输出"));
        choose(w->Combo4[0], QStringLiteral("输出负脉冲"));
        choose(w->Combo5[6], QStringLiteral("应答")); // only the answer changes
        w->Command1_Click();
        QCOMPARE(writes, QList<QByteArray>({QByteArray::fromHex("D7D600F011"),
                                            QByteArray::fromHex("D7D6030F03"),
                                            QByteArray::fromHex("D7D606F000")}));
        QCOMPARE(w->Command1->text(), QStringLiteral("重新设置"));
        QVERIFY(!w->Combo1[3]->isEnabled());

        QCOMPARE(PortItemCode(QStringLiteral("对应端口输出")), quint8(0x20));
        QCOMPARE(PortItemCode(QStringLiteral("端口电平由高变低后发送变化信息")), quint8(0x02));
        QCOMPARE(PortItemCode(QStringLiteral("随便输入的文字")), quint8(0x00));
    }

    void switchingToOutputShowsTheOutputDefaults() {
        writePortFile(QByteArray::fromHex("000F02" + QByteArray(42, '0')));
        GateWindow* w = ctx->window<GateWindow>();
        w->Command1_Click();
        choose(w->Combo1[0], QStringLiteral("输出"));
        QCOMPARE(row(w, 0), QStringList({QStringLiteral("输出"), QStringLiteral("不应答"),
                                         QStringLiteral("串口及对应端口同时输出"),
                                         QStringLiteral("输出发端电平")}));
        QVERIFY(w->Combo5[0]->isEnabled());
        QCOMPARE(w->Combo2[0]->currentText(), QStringLiteral("端口电平变化后不发送变化信息"));
    }

    void closedPortIsReportedOnlyWhenSomethingWouldBeSent() {
        ctx->MSComm1().setPortOpen(false);
        GateWindow* w = ctx->window<GateWindow>();
        w->Command1_Click();
        w->Command1_Click();
        QVERIFY(app.dialogs->messages.isEmpty());
        w->Command1_Click();
        choose(w->Combo5[2], QStringLiteral("应答"));
        w->Command1_Click();
        QCOMPARE(app.dialogs->texts().size(), 1);
        QVERIFY(app.dialogs->texts().first().contains(QStringLiteral("串口未打开")));
        QCOMPARE(w->Command1->text(), QStringLiteral("设置端口")); // the choice stays
        w->Command3_Click();
        QCOMPARE(app.dialogs->texts().size(), 2);
        QVERIFY(w->Command3->isEnabled() && !ctx->link().cycle.portRefreshPending);
    }

    void refreshRedrawsUnlessTheWindowClosed() {
        ctx->openOrFront<GateWindow>();
        QPointer<GateWindow> w = ctx->loaded<GateWindow>();
        w->Command3_Click();
        QVERIFY(!w->Command3->isEnabled() && ctx->link().cycle.portRefreshPending);
        writePortFile(QByteArray::fromHex("000F01" + QByteArray(42, '0')));
        // The close box is refused and the window still takes its refresh.
        QVERIFY(!qobject_cast<QMdiSubWindow*>(w->parentWidget())->close());
        QTRY_VERIFY_WITH_TIMEOUT(w->Command3->isEnabled(), 3000);
        QCOMPARE(row(w, 0).first(), QStringLiteral("输入"));
        QCOMPARE(writes.size(), 8); // D7 D8 0 .. D7 D8 7
        QVERIFY(!ctx->link().cycle.portRefreshPending);

        w->Command3_Click();
        w->Command2_Click();
        QTRY_VERIFY(!w);
        QVERIFY(!ctx->link().cycle.portRefreshPending && !ctx->windowOpen.portWindowOpen);
    }
};

T83_TEST_MAIN(TestGateWindow)
#include "test_gatewindow.moc"
