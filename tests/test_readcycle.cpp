// The timed requests: probe time-out, the eleven-step read cycle with its prompt and
// progress, the "无此参数" fill, the refresh variant, the prompt closing by itself and
// the switch-port poll that follows; and the hex-burst trim.
#include "app/appcontext.h"
#include "app/comwindow.h"
#include "app/father.h"
#include "config/promptwindow.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

class TestReadCycle : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;
    ShowData* window = nullptr;

    void start() {
        app.start(true);
        window = ctx->showdata();
    }

  private slots:
    void cleanup() { app.stop(); }

    void silentModuleTimesOut() {
        start();
        ctx->intset = 3;
        ctx->inttool = 2;
        QTRY_VERIFY(ctx->loaded<PromptWindow>());
        PromptWindow* prompt = ctx->loaded<PromptWindow>();
        QCOMPARE(prompt->mode(), qint16(4));
        QCOMPARE(prompt->Label1->text(), QStringLiteral("模块未工作,读取参数设置失败!"));
        QVERIFY(prompt->Command1->isVisibleTo(prompt));
        QVERIFY(!prompt->ProgressBar1->isVisibleTo(prompt));
        QVERIFY(!ctx->father()->menusetmodule->isEnabled());
        QVERIFY(ctx->father()->toolButton(9)->isEnabled()); // link commands stay on
        QCOMPARE(ctx->intset, qint16(1));
        QCOMPARE(ctx->inttool, qint16(1));
        // "确定" starts the switch-port poll all the same.
        line->takeWritten();
        QTest::mouseClick(prompt->Command1, Qt::LeftButton);
        QTRY_VERIFY(!ctx->loaded<PromptWindow>());
        QTRY_COMPARE(line->written().size(), 24);
        QCOMPARE(line->written().left(6), QByteArray::fromHex("D7D800D7D801"));
    }

    // A line lost in the middle of the automatic read, with a reply cut off half way:
    // the read ends without its success prompt, both command groups go off as after a
    // failed opening, and the only message names the port. Reopened from the port
    // window, the module's D7 FD starts a fresh read.
    void aLostLineEndsTheReadAndNothingSurvivesReopening_data() {
        QTest::addColumn<QByteArray>("cut");
        QTest::newRow("version") << QByteArray::fromHex("D7EC4142");
        QTest::newRow("frequency") << QByteArray::fromHex("D7EF22");
        QTest::newRow("lone D7") << QByteArray::fromHex("D7");
        QTest::newRow("unlisted") << QByteArray::fromHex("D755");
    }
    void aLostLineEndsTheReadAndNothingSurvivesReopening() {
        QFETCH(QByteArray, cut);
        start();
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(line->written().contains(QByteArray::fromHex("D7F4")));
        line->feed(cut);
        QTRY_VERIFY(ctx->link().parser.ReplyState != 0);
        line->unplug();
        QTRY_COMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("COM1(mem:1)")));
        QTest::qWait(1500); // longer than the rest of the read
        QCOMPARE(app.dialogs->messages.size(), 1);
        PromptWindow* prompt = ctx->loaded<PromptWindow>();
        QVERIFY(!prompt || !prompt->isVisible());
        Father* f = ctx->father();
        QVERIFY(!f->menusetmodule->isEnabled());
        QVERIFY(!f->toolButton(9)->isEnabled());
        QVERIFY(!ctx->link().cycle.Timer2.isActive());
        QCOMPARE(ctx->link().cycle.readstep, qint16(0));

        ctx->openOrFront<ComWindow>();
        ComWindow* port = ctx->window<ComWindow>();
        line->takeWritten();
        QTest::mouseClick(port->Command1, Qt::LeftButton);
        QTRY_COMPARE(line->written(), QByteArray::fromHex("D7FE"));
        QVERIFY(f->toolButton(9)->isEnabled());
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->loaded<PromptWindow>() && ctx->loaded<PromptWindow>()->isVisible());
        QCOMPARE(ctx->loaded<PromptWindow>()->mode(), qint16(1));
        QVERIFY(ctx->link().cycle.Timer2.isActive());
    }

    void moduleAnsweringOnlyTheFrequency() {
        start();
        QList<qint64> stamps;
        QElapsedTimer clock;
        clock.start();
        QList<int> progress;
        connect(line, &MemoryLine::bytesWritten, this, [&](const QByteArray& bytes) {
            stamps << clock.elapsed();
            if (bytes == QByteArray::fromHex("D7EF"))
                line->feed(QByteArray::fromHex("D7EF229100229100"));
        });
        line->feed(QByteArray::fromHex("D7FD"));
        QTRY_VERIFY(ctx->loaded<PromptWindow>());
        PromptWindow* prompt = ctx->loaded<PromptWindow>();
        QCOMPARE(prompt->Label1->text(),
                 QStringLiteral("模块已经开始工作,正在读取模块的参数设置!"));
        connect(prompt->ProgressBar1, &QProgressBar::valueChanged, this,
                [&](int v) { progress << v; });
        QTRY_VERIFY_WITH_TIMEOUT(prompt->mode() == 2, 3000);
        QVERIFY(!ctx->link().cycle.Timer1.isActive() || ctx->link().parser.ModuleAnswered);
        QCOMPARE(prompt->Label1->text(), QStringLiteral("模块参数读出操作已经完成!"));
        // The first tick shows 0 (already the bar's value), every later one ten more.
        QCOMPARE(progress, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110}));
        QCOMPARE(prompt->ProgressBar1->maximum(), 110);
        const QByteArray sent = line->written();
        QCOMPARE(sent, QByteArray::fromHex("D7FE"
                                           "D7EF"
                                           "D7F4"
                                           "D7E3"
                                           "D7E8"
                                           "D7A2"
                                           "D7EC"
                                           "D7D2"
                                           "D7D5"
                                           "D7B7"
                                           "D7ABAA"
                                           "D7A8AA"));
        // Requests go out about 100 ms apart.
        for (int i = 2; i < stamps.size(); ++i)
            QVERIFY2(stamps[i] - stamps[i - 1] >= 80,
                     qPrintable(QString::number(stamps[i] - stamps[i - 1])));
        const ModuleParameters& m = ctx->params;
        QCOMPARE(m.m_txfreque, QStringLiteral("229100"));
        QCOMPARE(m.m_rxfreque, QStringLiteral("229100"));
        for (const QString& text :
             {m.m_meaddress, m.m_headdress, m.m_repeat, m.m_invite, m.m_version, m.m_typepower,
              m.m_typeheat, m.m_typeaudio, m.m_datbit, m.m_sqr})
            QCOMPARE(text, QStringLiteral("无此参数"));
        QVERIFY(ctx->father()->menusetmodule->isEnabled());

        // One second later the prompt closes itself and the eight port queries follow.
        line->takeWritten();
        QTRY_VERIFY_WITH_TIMEOUT(!ctx->loaded<PromptWindow>(), 2000);
        QTRY_COMPARE(line->written().size(), 24);
        QCOMPARE(line->written().right(3), QByteArray::fromHex("D7D807"));
        QTRY_COMPARE(ctx->link().cycle.PortQueryIndex, qint16(0));
    }

    void refreshRunsWithoutPromptOrProgress() {
        start();
        ctx->link().cycle.Timer1.stop();
        ctx->params.m_repeatb = true;
        ctx->params.m_repeat = QStringLiteral("05");
        QSignalSpy finished(ctx.get(), &AppContext::moduleRefreshFinished);
        ctx->link().cycle.moduleRefreshPending = true;
        ctx->link().cycle.Timer2.start();
        QVERIFY(finished.wait(3000));
        QVERIFY(!ctx->link().cycle.moduleRefreshPending);
        QVERIFY(!ctx->loaded<PromptWindow>());
        QCOMPARE(ctx->params.m_repeat, QStringLiteral("05")); // answered once, keeps its value
        QCOMPARE(ctx->params.m_sqr, QStringLiteral("无此参数"));
        QCOMPARE(ctx->link().cycle.readstep, qint16(0));
        // No prompt close and so no port poll after a refresh: the close timer would be
        // running by now.
        QVERIFY(!ctx->link().cycle.Timer4.isActive());
        QVERIFY(!ctx->link().cycle.Timer5.isActive());
    }

    void portRefreshSignalsTheEndOfThePoll() {
        start();
        ctx->link().cycle.Timer1.stop();
        QSignalSpy finished(ctx.get(), &AppContext::portRefreshFinished);
        ctx->link().cycle.portRefreshPending = true;
        ctx->link().cycle.Timer5.start();
        QVERIFY(finished.wait(2000));
        QCOMPARE(ctx->link().cycle.PortQueryIndex, qint16(0));
    }

    void burstEndTrimsTheText() {
        start();
        ctx->link().cycle.Timer1.stop();
        window->Text1->setPlainText(QString(2500, QLatin1Char('x')));
        window->Timer7_Timer();
        QCOMPARE(window->Text1->toPlainText().size(),
                 2500 % 72 + 2100 + 1); // CR LF is one line break
        QCOMPARE(ctx->MSComm1().InputLen(), 1);
    }
};

T83_TEST_MAIN(TestReadCycle)
#include "test_readcycle.moc"
