// Splash, About box and login: the splash hands over to the main window after a second;
// the About box opens once and leads to the login, whose password switches every
// command on whatever the module did.
#include "app/aboutwindow.h"
#include "app/father.h"
#include "app/loginwindow.h"
#include "app/splashwindow.h"
#include "config/promptwindow.h"
#include "serial/portopen.h"
#include "tests/support/appfixture.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

class TestPeripherals : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;

    LoginWindow* openLogin() {
        ctx->openOrFront<AboutWindow>();
        ctx->window<AboutWindow>()->picIcon_DblClick();
        auto* login = ctx->father()->findChild<LoginWindow*>();
        return login;
    }
    bool allCommandsOn() {
        Father* f = ctx->father();
        return f->menusetmodule->isEnabled() && f->toolButton(13)->isEnabled() &&
               f->toolButton(9)->isEnabled() && ctx->showdata()->StatusBar1->isEnabled();
    }

  private slots:
    void cleanup() { app.stop(); }

    void splashGivesWayToTheMainWindowAfterASecond() {
        testenv::reset();
        ScriptedDialogs dialogs;
        MemoryLines lines;
        AppContext context(dialogs, lines.options({QStringLiteral("mem:1")}));
        auto* splash = new SplashWindow(context);
        QPointer<SplashWindow> alive(splash);
        splash->show();
        QElapsedTimer clock;
        clock.start();
        splash->Form_Load();
        QVERIFY(!context.father());
        QTRY_VERIFY_WITH_TIMEOUT(context.father() && context.father()->isVisible(), 3000);
        QVERIFY(clock.elapsed() >= 950);
        QTRY_VERIFY(!alive); // unloaded
        QCOMPARE(lines.line(QStringLiteral("mem:1"))->written(), QByteArray::fromHex("D7FE"));
    }

    void aboutOpensOnceWithTitleAndVersion() {
        app.start();
        ctx->father()->menuhelpabout->trigger();
        AboutWindow* about = ctx->loaded<AboutWindow>();
        QVERIFY(about);
        ctx->father()->menuhelpabout->trigger();
        QCOMPARE(ctx->loaded<AboutWindow>(), about);
        int abouts = 0;
        for (auto* sub : ctx->father()->mdiArea()->subWindowList())
            abouts += sub->widget() == about;
        QCOMPARE(abouts, 1);
        QCOMPARE(about->windowTitle(), QStringLiteral("T83系列模块设置和通信软件"));
        QCOMPARE(about->lblTitle->text(), QStringLiteral("T83系列模块设置和通信软件"));
        QCOMPARE(about->lblVersion->text(), QStringLiteral("版本号：RL14V0512"));
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(!ctx->loaded<AboutWindow>());
        QVERIFY(!ctx->windowOpen.aboutWindowOpen);
    }

    void loginAcceptsOnlyTheTwoPasswordsAndSwitchesEverythingOn() {
        app.start(true);
        QTRY_VERIFY(ctx->loaded<PromptWindow>()); // the module never answered
        QVERIFY(!allCommandsOn());
        LoginWindow* login = openLogin();
        QVERIFY(login && login->isVisible() && login->isModal());
        QVERIFY(ctx->loaded<AboutWindow>()); // waits behind the login
        QCOMPARE(login->txtPassword->text(), QStringLiteral("******"));
        for (const QString& wrong : {QStringLiteral("******"), QStringLiteral("Kv37"),
                                     QStringLiteral("kv37 "), QStringLiteral("KV37x")}) {
            login->txtPassword->setText(wrong);
            login->cmdOK_Click();
            QCOMPARE(app.dialogs->messages.last().text, QStringLiteral("无效的密码，请重试!"));
            QCOMPARE(login->txtPassword->selectedText(), wrong); // typing replaces it
        }
        QVERIFY(!allCommandsOn());
        login->txtPassword->setText(QStringLiteral("kv37"));
        QPointer<LoginWindow> alive(login);
        QTest::mouseClick(login->cmdOK, Qt::LeftButton);
        QCOMPARE(app.dialogs->messages.last().text, QStringLiteral("密码正确，登录成功!"));
        QCOMPARE(app.dialogs->messages.last().title, QStringLiteral("登录"));
        QTRY_VERIFY(!alive);
        QVERIFY(allCommandsOn());

        ctx->link().SetModuleCommandsEnabled(false);
        login = openLogin();
        login->txtPassword->setText(QStringLiteral("KV37"));
        login->cmdOK_Click();
        QVERIFY(allCommandsOn());
    }

    void loginMasksWithStarsAndSitsMidScreen() {
        app.start();
        Father* f = ctx->father();
        f->show();
        f->setGeometry(QRect(QPoint(0, 0), f->minimumSizeHint())); // off the screen's centre
        LoginWindow* login = openLogin();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QStyleOptionFrame option;
        option.initFrom(login->txtPassword);
        QCOMPARE(login->txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                        &option, login->txtPassword),
                 int('*'));
        const QPoint screenCentre = f->screen()->availableGeometry().center();
        const QPoint off = login->frameGeometry().center() - screenCentre;
        QVERIFY2(off.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1 px from the centre").arg(off.manhattanLength())));
    }

    void f1InTheLoginOpensHelp() {
        app.start();
        ctx->father()->show();
        const QString chm = QCoreApplication::applicationDirPath() + QStringLiteral("/kaivo.chm");
        QFile::remove(chm);
        ctx->father()->helpPlaces = {chm, {}};
        LoginWindow* login = openLogin();
        QVERIFY(QTest::qWaitForWindowActive(login));
        QTest::keyClick(login->txtPassword, Qt::Key_F1);
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("kaivo.chm")));
        QVERIFY(login->isVisible()); // help comes on top; the login stays
    }

    void escapeLeavesTheLoginWithoutEffect() {
        app.start();
        ctx->link().SetModuleCommandsEnabled(false);
        LoginWindow* login = openLogin();
        QPointer<LoginWindow> alive(login);
        login->txtPassword->setText(QStringLiteral("kv37"));
        QTest::keyClick(login->txtPassword, Qt::Key_Escape);
        QTRY_VERIFY(!alive);
        QVERIFY(!ctx->father()->menusetmodule->isEnabled());
        QVERIFY(app.dialogs->messages.isEmpty());
    }
};

T83_TEST_MAIN(TestPeripherals)
#include "test_peripherals.moc"
