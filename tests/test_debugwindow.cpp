// The debug window: the test and channel frames, the channel texts kept in the settings
// store, the frequency editor behind the channel buttons' pop-up menu, and a closed port.
#include "app/appcontext.h"
#include "config/debugwindow.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QMenu>
#include <QPushButton>

class TestDebugWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    QList<QByteArray>& writes = app.writes;

    QString stored(int channel) {
        return ctx->store().GetRegString(RegKeys::Frequency, QStringLiteral("信道%1").arg(channel));
    }

  private slots:
    void init() {
        app.start(); // first run: every channel holds 229100229100
    }
    void cleanup() { app.stop(); }

    void buttonsSendTheirFrames() {
        ctx->openOrFront<DebugWindow>();
        DebugWindow* w = ctx->loaded<DebugWindow>();
        QVERIFY(ctx->windowOpen.debugWindowOpen);
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(w->Command1[i], Qt::LeftButton);
        QCOMPARE(writes,
                 QList<QByteArray>({QByteArray::fromHex("D7F9"), QByteArray::fromHex("D7F8"),
                                    QByteArray::fromHex("D7E4"), QByteArray::fromHex("D7E5"),
                                    QByteArray::fromHex("D7FF229100229100")}));
        QCOMPARE(w->Command1[9]->toolTip(),
                 QStringLiteral("当前频率为229100229100,右键菜单可以更改频率"));
    }

    void editedChannelIsStoredAndUsedAtOnce() {
        DebugWindow* w = ctx->window<DebugWindow>();
        QTest::mouseClick(w->Command1[9], Qt::RightButton);
        QVERIFY(w->editfreq->isVisible());
        w->editfreq->close();

        app.dialogs->inputs.enqueue(QStringLiteral("235125224050"));
        w->freq1[6]->trigger();
        QCOMPARE(app.dialogs->prompts.size(), 1);
        QVERIFY(app.dialogs->prompts.first().startsWith(QStringLiteral("请输入信道6的频率！")));
        QCOMPARE(stored(6), QStringLiteral("235125224050"));
        QCOMPARE(stored(5), QStringLiteral("229100229100"));
        QVERIFY(w->Command1[9]->toolTip().contains(QStringLiteral("235125224050")));
        w->Command1_Click(9);
        w->Command1_Click(8);
        QCOMPARE(writes, QList<QByteArray>({QByteArray::fromHex("D7FF235125224050"),
                                            QByteArray::fromHex("D7FF229100229100")}));

        // A fresh window reads the stored text back.
        w->close();
        QTRY_VERIFY(!ctx->loaded<DebugWindow>());
        QCOMPARE(ctx->window<DebugWindow>()->channelText[5], QStringLiteral("235125224050"));
    }

    void invalidAnswersChangeNothing() {
        DebugWindow* w = ctx->window<DebugWindow>();
        app.dialogs->inputs.enqueue(std::nullopt);                      // cancelled
        app.dialogs->inputs.enqueue(QStringLiteral("22910022910"));     // 11 characters
        app.dialogs->inputs.enqueue(QStringLiteral("   2291002291  ")); // 10 inside the spaces
        for (int i = 0; i < 3; ++i)
            w->freq1_Click(2);
        QCOMPARE(app.dialogs->texts(), QStringList(3, QStringLiteral("输入无效，请重新输入!")));
        QCOMPARE(app.dialogs->messages.first().title, QStringLiteral("提示"));
        QCOMPARE(stored(2), QStringLiteral("229100229100"));
        QCOMPARE(w->channelText[1], QStringLiteral("229100229100"));
    }

    void spacesAroundTwelveCharactersAreKeptAndPacked() {
        DebugWindow* w = ctx->window<DebugWindow>();
        app.dialogs->inputs.enqueue(QStringLiteral(" 229100229100 "));
        w->freq1_Click(1);
        QVERIFY(app.dialogs->messages.isEmpty());
        QCOMPARE(stored(1), QStringLiteral(" 229100229100 "));
        w->Command1_Click(4);
        // Pairs " 2", "29", "10", "02", "29", "10": a space counts as 0.
        QCOMPARE(writes, QList<QByteArray>({QByteArray::fromHex("D7FF022910022910")}));
    }

    void missingOrShortTextsPackWithoutFaults() {
        ctx->store().SetRegString(RegKeys::Frequency, QStringLiteral("信道3"), QString());
        ctx->store().SetRegString(RegKeys::Frequency, QStringLiteral("信道4"),
                                  QStringLiteral("2291"));
        DebugWindow* w = ctx->window<DebugWindow>();
        w->Command1_Click(6);
        w->Command1_Click(7);
        QCOMPARE(writes, QList<QByteArray>({QByteArray::fromHex("D7FF000000000000"),
                                            QByteArray::fromHex("D7FF229100000000")}));
    }

    void closedPortIsReportedOncePerClick() {
        ctx->MSComm1().setPortOpen(false);
        DebugWindow* w = ctx->window<DebugWindow>();
        w->Command1_Click(0);
        w->Command1_Click(4);
        QCOMPARE(app.dialogs->texts().size(), 2);
        QVERIFY(app.dialogs->texts().first().contains(QStringLiteral("串口未打开")));
        QVERIFY(writes.isEmpty());
    }
};

T83_TEST_MAIN(TestDebugWindow)
#include "test_debugwindow.moc"
