// The module settings window: the write frames and their order, the changed-flag logic,
// the key filters, incomplete texts that must not reach the module, the refresh path
// and the refused close box.
#include "app/appcontext.h"
#include "config/modulewindow.h"
#include "tests/support/appfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>

class TestModuleWindow : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    QList<QByteArray>& writes = app.writes; // one entry per write to the line

    // The record as a module with every setting answered leaves it.
    void moduleHasAnswered() {
        ModuleParameters& m = ctx->params;
        m.m_txfreque = m.m_rxfreque = QStringLiteral("229100");
        m.m_meaddress = QStringLiteral("0001");
        m.m_headdress = QStringLiteral("00AB");
        m.m_repeat = QStringLiteral("03");
        m.m_invite = QStringLiteral("0000");
        m.m_version = QStringLiteral("T83 V1.0");
        m.m_typepower = m.m_typeheat = QStringLiteral("普通");
        m.m_typeaudio = QStringLiteral("非申请");
        m.m_sqr = QStringLiteral("模拟");
        m.m_datbit = QStringLiteral("八位");
        m.m_txfrequeb = m.m_rxfrequeb = m.m_meaddressb = m.m_headdressb = m.m_repeatb =
            m.m_inviteb = m.m_versionb = m.m_typepowerb = m.m_typeheatb = m.m_typeaudiob =
                m.m_sqrb = m.m_datbitb = true;
    }
    ModuleWindow* editing() {
        ModuleWindow* w = ctx->window<ModuleWindow>();
        w->Command1_Click();
        return w;
    }
    static QList<QByteArray> hex(std::initializer_list<const char*> frames) {
        QList<QByteArray> out;
        for (const char* f : frames)
            out << QByteArray::fromHex(f);
        return out;
    }

  private slots:
    void init() {
        app.start();
        moduleHasAnswered();
    }
    void cleanup() { app.stop(); }

    void opensInViewingAndEditingEnablesEverything() {
        ModuleWindow* w = ctx->window<ModuleWindow>();
        QCOMPARE(w->Command1->text(), QStringLiteral("重新设置"));
        QCOMPARE(w->Text1[2]->text(), QStringLiteral("0001"));
        QCOMPARE(w->Combo3->currentText(), QStringLiteral("八位"));
        QVERIFY(!w->Text1[0]->isEnabled() && !w->Combo1[0]->isEnabled() && !w->Combo2->isEnabled());
        w->Command1_Click();
        QCOMPARE(w->Command1->text(), QStringLiteral("设  置"));
        QVERIFY(w->Text1[6]->isEnabled() && w->Combo1[2]->isEnabled() && w->Combo3->isEnabled());
        QVERIFY(writes.isEmpty());
    }

    void framesGoOutInTableOrderOnlyForChangedSettings() {
        ctx->params.m_txfreque = QStringLiteral("220000");
        ModuleWindow* w = editing();
        w->Text1[0]->setText(QStringLiteral("229100"));
        w->Command1_Click();
        // Squelch and data bits go out on every write, changed or not.
        QCOMPARE(writes, hex({"D7FF229100229100", "D7A800", "D7AB00"}));
        QCOMPARE(w->Command1->text(), QStringLiteral("重新设置"));
        QVERIFY(!w->Text1[0]->isEnabled() && !w->Combo3->isEnabled());

        // The record is unchanged by a write, so the same write goes out again.
        writes.clear();
        w->Command1_Click();
        w->Command1_Click();
        QCOMPARE(writes, hex({"D7FF229100229100", "D7A800", "D7AB00"}));

        writes.clear();
        ctx->params.m_txfreque = QStringLiteral("229100");
        w->Command1_Click();
        w->Text1[1]->setText(QStringLiteral("231250")); // the transmit one rides along
        w->Text1[3]->setText(QStringLiteral("FFFE"));
        w->Text1[4]->setText(QStringLiteral("0A"));
        w->Text1[5]->setText(QStringLiteral("1234"));
        w->Combo1[0]->setEditText(QStringLiteral("省电"));
        w->Combo1[1]->setEditText(QStringLiteral("温补"));
        w->Combo1[2]->setEditText(QStringLiteral("申请"));
        w->Combo2->setEditText(QStringLiteral("数字"));
        w->Combo3->setEditText(QStringLiteral("九位"));
        w->Command1_Click();
        QCOMPARE(writes, hex({"D7FF229100231250", "D7E1FFFE", "D7E70A", "D7A11234", "D7D1FF",
                              "D7D4FF", "D7B6FF", "D7A8FF", "D7AB01"}));
    }

    void caseOnlyChangesAndUnknownListTextsAreNotSettings() {
        ModuleWindow* w = editing();
        w->Text1[3]->setText(QStringLiteral("00ab"));
        w->Combo2->setEditText(QString()); // neither item: no squelch frame
        w->Combo3->setEditText(QStringLiteral("无此参数"));
        w->Combo1[0]->setEditText(QStringLiteral("无此参数")); // changed, an unknown text is 00
        w->Command1_Click();
        QCOMPARE(writes, hex({"D7D100"}));
    }

    void typedKeysAreFiltered() {
        ModuleWindow* w = editing();
        w->Text1[2]->clear();
        QTest::keyClicks(w->Text1[2], QStringLiteral("1g2-ab"));
        QCOMPARE(w->Text1[2]->text(), QStringLiteral("12AB"));
        w->Text1[0]->clear();
        QTest::keyClicks(w->Text1[0], QStringLiteral("2A3x0000999"));
        QCOMPARE(w->Text1[0]->text(), QStringLiteral("230000")); // letters never, six at most
        w->Command1_Click();
        QCOMPARE(writes.first(), QByteArray::fromHex("D7FF230000229100"));
        QCOMPARE(writes.at(1), QByteArray::fromHex("D7F512AB"));
    }

    void incompleteTextsAreRefusedAndNothingIsSent() {
        ModuleWindow* w = editing();
        w->Text1[2]->setText(QStringLiteral("12A"));
        w->Text1[1]->setText(QStringLiteral("2291"));
        w->Command1_Click();
        QVERIFY(writes.isEmpty());
        QCOMPARE(app.dialogs->messages.size(), 1);
        QCOMPARE(app.dialogs->messages.first().title, QStringLiteral("提示"));
        QVERIFY(app.dialogs->messages.first().text.contains(QStringLiteral("身份地址")));
        QVERIFY(app.dialogs->messages.first().text.contains(QStringLiteral("接收频率")));
        QCOMPARE(w->Command1->text(), QStringLiteral("设  置")); // still editing
        QVERIFY(w->Text1[2]->isEnabled());

        w->Text1[2]->setText(QStringLiteral("12AB"));
        w->Text1[1]->setText(QStringLiteral("229100"));
        w->Text1[4]->setText(QStringLiteral("7"));
        w->Command1_Click();
        QVERIFY(writes.isEmpty());
        QVERIFY(app.dialogs->messages.last().text.contains(QStringLiteral("重发次数")));
        w->Text1[4]->setText(QStringLiteral("07"));
        w->Command1_Click();
        QCOMPARE(writes, hex({"D7F512AB", "D7E707", "D7A800", "D7AB00"}));
    }

    void closedPortIsReportedOncePerWrite() {
        ctx->MSComm1().setPortOpen(false);
        ModuleWindow* w = editing();
        w->Text1[2]->setText(QStringLiteral("4321"));
        w->Command1_Click();
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages.first().text.contains(QStringLiteral("串口未打开")));
        QCOMPARE(w->Command1->text(), QStringLiteral("设  置"));
        w->Command3_Click(); // a refresh is refused the same way
        QCOMPARE(app.dialogs->messages.size(), 2);
        QVERIFY(w->Command3->isEnabled() && !ctx->link().cycle.moduleRefreshPending);
        QVERIFY(!ctx->link().cycle.Timer2.isActive());
    }

    void refreshRedrawsFromTheRecordAndShowsMissingSettingsWhole() {
        ctx->params = ModuleParameters{}; // this module never answered
        ModuleWindow* w = ctx->window<ModuleWindow>();
        w->Command3_Click();
        QVERIFY(!w->Command3->isEnabled() && ctx->link().cycle.moduleRefreshPending);
        ctx->params.m_meaddress = QStringLiteral("0042"); // the only answer
        ctx->params.m_meaddressb = true;
        QSignalSpy finished(ctx.get(), &AppContext::moduleRefreshFinished);
        QVERIFY(finished.wait(3000));
        QVERIFY(w->Command3->isEnabled());
        QCOMPARE(w->Text1[2]->text(), QStringLiteral("0042"));
        QVERIFY(w->Text1[2]->isEnabled()); // present settings become enabled while viewing
        QCOMPARE(w->Text1[4]->text(), QStringLiteral("无此参数"));
        QVERIFY(!w->Text1[4]->isEnabled());

        // A missing setting that the user leaves alone is never sent.
        w->Command1_Click();
        w->Command1_Click();
        QCOMPARE(writes.size(), 11); // the read requests only
        QVERIFY(app.dialogs->messages.isEmpty());
    }

    void closeBoxIsRefusedAndCancelCloses() {
        ctx->openOrFront<ModuleWindow>();
        ctx->openOrFront<ModuleWindow>();
        QPointer<ModuleWindow> w = ctx->loaded<ModuleWindow>();
        QVERIFY(ctx->windowOpen.moduleWindowOpen);
        auto* frame = qobject_cast<QMdiSubWindow*>(w->parentWidget());
        QVERIFY(frame);
        QVERIFY(!frame->close());
        QVERIFY(w && !frame->isHidden() && ctx->windowOpen.moduleWindowOpen);
        w->Command2_Click();
        QTRY_VERIFY(!w);
        QVERIFY(!ctx->windowOpen.moduleWindowOpen);
        QVERIFY(ctx->window<ModuleWindow>() != nullptr); // the next opening makes a fresh window
    }
};

T83_TEST_MAIN(TestModuleWindow)
#include "test_modulewindow.moc"
