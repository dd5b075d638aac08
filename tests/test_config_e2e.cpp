// The configuration windows against the simulated module through a real pseudo-terminal:
// a settings write read back by a refresh, a port change read back by a refresh, and
// the module's answer to an out-of-range frequency.
#include "app/appcontext.h"
#include "config/gatewindow.h"
#include "config/modulewindow.h"
#include "sim/station.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

class TestConfigE2E : public QObject {
    Q_OBJECT

    std::unique_ptr<t83sim::Station> station;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<AppContext> ctx;

    // The program started against the module, which has answered the whole read cycle.
    // The port poll that would follow the prompt is left out; the tests refresh instead.
    void startAndReadTheModule() {
        ctx->startup();
        QTRY_VERIFY_WITH_TIMEOUT(ctx->params.m_sqrb && ctx->link().cycle.readstep == 0, 5000);
        ctx->link().cycle.Timer4.stop();
    }
    QList<QByteArray> portWrites() const {
        QList<QByteArray> out;
        for (const t83sim::ReceivedFrame& f : station->protocol().receivedFrames())
            if (f.code == 0xD6)
                out << f.bytes();
        return out;
    }

  private slots:
    void init() {
        testenv::reset();
        station = std::make_unique<t83sim::Station>();
        QVERIFY(station->openPty());
        dialogs = std::make_unique<ScriptedDialogs>();
        ctx = std::make_unique<AppContext>(*dialogs,
                                           AppContext::Options{{}, [] { return QStringList{}; }});
        ctx->portMap().map(1, station->linePath());
    }
    void cleanup() {
        ctx.reset();
        station.reset();
    }

    void writtenSettingsComeBackWithARefresh() {
        startAndReadTheModule();
        ctx->openOrFront<ModuleWindow>();
        ModuleWindow* w = ctx->loaded<ModuleWindow>();
        QCOMPARE(w->Text1[0]->text(), QStringLiteral("229100"));
        QCOMPARE(w->Text1[2]->text(), QStringLiteral("0001"));

        QTest::mouseClick(w->Command1, Qt::LeftButton);
        w->Text1[0]->setText(QStringLiteral("231500"));
        w->Text1[2]->clear();
        QTest::keyClicks(w->Text1[2], QStringLiteral("12ab"));
        w->Combo1[0]->setEditText(QStringLiteral("省电"));
        w->Combo3->setEditText(QStringLiteral("九位"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QTRY_COMPARE(dialogs->texts(), QStringList{QStringLiteral("频率设置完成")});

        QTest::mouseClick(w->Command3, Qt::LeftButton);
        QVERIFY(!w->Command3->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w->Command3->isEnabled(), 5000);
        QCOMPARE(w->Text1[0]->text(), QStringLiteral("231500"));
        QCOMPARE(w->Text1[1]->text(), QStringLiteral("229100"));
        QCOMPARE(w->Text1[2]->text(), QStringLiteral("12AB"));
        QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("省电"));
        QCOMPARE(ctx->params.m_datbit, QStringLiteral("九位"));
    }

    void changedPortsComeBackWithARefresh() {
        startAndReadTheModule();
        ctx->openOrFront<GateWindow>();
        GateWindow* w = ctx->loaded<GateWindow>();
        QTest::mouseClick(w->Command3, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->Command3->isEnabled(), 5000);
        QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("输入"));
        QCOMPARE(w->Combo3[7]->currentText(), QStringLiteral("串口及对应端口同时输出"));

        QTest::mouseClick(w->Command1, Qt::LeftButton);
        w->Combo1[0]->setCurrentIndex(w->Combo1[0]->findText(QStringLiteral("输出")));
        w->Combo1_Click(0);
        w->Combo1[7]->setCurrentIndex(w->Combo1[7]->findText(QStringLiteral("输入")));
        w->Combo1_Click(7);
        w->Combo2[7]->setEditText(QStringLiteral("端口电平由高变低后发送变化信息"));
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QTRY_COMPARE(portWrites(), QList<QByteArray>({QByteArray::fromHex("D7D6000032"),
                                                      QByteArray::fromHex("D7D6070F02")}));

        QTest::mouseClick(w->Command3, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->Command3->isEnabled(), 5000);
        QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("输出"));
        QCOMPARE(w->Combo4[0]->currentText(), QStringLiteral("输出发端电平"));
        QCOMPARE(w->Combo1[7]->currentText(), QStringLiteral("输入"));
        QCOMPARE(w->Combo2[7]->currentText(), QStringLiteral("端口电平由高变低后发送变化信息"));
        QCOMPARE(w->Combo1[1]->currentText(), QStringLiteral("输入")); // untouched
        QCOMPARE(portWrites().size(), 2);
    }

    void outOfRangeFrequencyIsReported() {
        ctx->startup();
        ModuleWindow* w = ctx->window<ModuleWindow>();
        w->Command1_Click();
        w->Text1[0]->setText(QStringLiteral("250000"));
        w->Text1[1]->setText(QStringLiteral("229100"));
        w->Command1_Click();
        QTRY_VERIFY(dialogs->texts().contains(QStringLiteral("设置频率超出范围")));
        QCOMPARE(station->protocol().settings().txFrequency,
                 t83sim::packFrequency(t83sim::kDefaultFrequencyKhz));
    }
};

T83_TEST_MAIN(TestConfigE2E)
#include "test_config_e2e.moc"
