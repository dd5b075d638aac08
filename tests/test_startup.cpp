// Start-up and shutdown of the main window: first-run settings, restored tool choices,
// opening the stored port and probing the module, the failure paths and their gating.
#include "app/appcontext.h"
#include "app/father.h"
#include "app/portcommands.h"
#include "link/commcontrol.h"
#include "tests/support/memorylines.h"
#include "tests/support/pty.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#ifdef Q_OS_UNIX
#include <csignal>
#endif

class TestStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<MemoryLines> lines;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<AppContext> ctx;

    AppContext& newContext(QStringList present = {QStringLiteral("mem:1")}) {
        ctx.reset();
        ctx = std::make_unique<AppContext>(*dialogs, lines->options(present));
        return *ctx;
    }
    static QString reg(AppContext& c, const QString& key, const char16_t* name) {
        return c.store().GetRegString(key, QString::fromUtf16(name));
    }
    bool moduleCommandsOn() {
        Father* f = ctx->father();
        return f->menusetmodule->isEnabled() && f->toolButton(5)->isEnabled() &&
               f->toolButton(13)->isEnabled() && f->menutool->menuAction()->isEnabled() &&
               f->buttonMenuItem(QStringLiteral("key12"))->isEnabled();
    }
    bool linkCommandsOn() {
        Father* f = ctx->father();
        return ctx->showdata()->StatusBar1->isEnabled() && f->toolButton(3)->isEnabled() &&
               f->toolButton(11)->isEnabled() && f->menudata->menuAction()->isEnabled() &&
               f->menudatacode->isEnabled();
    }

  private slots:
    void init() {
        testenv::reset();
        lines = std::make_unique<MemoryLines>();
        dialogs = std::make_unique<ScriptedDialogs>();
    }
    void cleanup() {
        ctx.reset();
        lines.reset();
    }

    void firstRunCreatesDefaultsAndProbesCom1() {
        AppContext& c = newContext();
        c.startup();
        QVERIFY(dialogs->messages.isEmpty());
        QCOMPARE(reg(c, RegKeys::PortSetting, u"串口号"), QStringLiteral("1"));
        QCOMPARE(reg(c, RegKeys::PortSetting, u"波特率"), QStringLiteral("1200"));
        for (int i = 1; i <= 6; ++i)
            QCOMPARE(c.store().GetRegString(RegKeys::Frequency, QStringLiteral("信道%1").arg(i)),
                     QStringLiteral("229100229100"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"工具窗口"), QStringLiteral("1"));
        QCOMPARE(c.intset, qint16(1));

        MemoryLine* line = lines->line(QStringLiteral("mem:1"));
        QCOMPARE(line->written(), QByteArray::fromHex("D7FE")); // the probe, first and alone
        QCOMPARE(line->settings().rate, 1200);
        QVERIFY(line->dtr());
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("COM1,1200,n,8,1"));
        QCOMPARE(c.father()->panel(2)->text(), QStringLiteral("接收格式:HEX数据"));
        QCOMPARE(c.father()->windowTitle(), QStringLiteral("RL14V0512 T83系列模块设置和通信软件"));
        QVERIFY(c.link().cycle.Timer1.isActive());
        QCOMPARE(c.link().cycle.Timer1.interval(), 500);
        QCOMPARE(c.CurrentRate, 1200);
        QCOMPARE(c.MSComm1().InputMode(), int(CommControl::comInputModeBinary)); // hex display
        QVERIFY(moduleCommandsOn());
        QVERIFY(linkCommandsOn());
        QCOMPARE(c.father()->toolButton(1)->toolTip(), QStringLiteral("串口设置"));
    }

    void storedPortAndRateAreUsed() {
        {
            AppContext& c = newContext();
            EnsureSettingsKeys(c.store(), *dialogs);
            c.store().SetRegString(RegKeys::PortSetting, QStringLiteral("串口号"),
                                   QStringLiteral("3"));
            c.store().SetRegString(RegKeys::PortSetting, QStringLiteral("波特率"),
                                   QStringLiteral("9600"));
            c.portMap().map(3, QStringLiteral("mem:3"));
        }
        AppContext& c = newContext({});
        c.startup();
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("COM3,9600,n,8,1"));
        QCOMPARE(lines->line(QStringLiteral("mem:3"))->written(), QByteArray::fromHex("D7FE"));
        QCOMPARE(lines->line(QStringLiteral("mem:3"))->settings().rate, 9600);
    }

    // A first run cut short after PortSetting was made: PortSetting is kept as it is, but
    // the missing Frequency and ToolMenu keys are made with their defaults, so the tool
    // choices read 1, not 0, from now on.
    void existingPortSettingIsKeptAndMissingKeysGetDefaults() {
        {
            AppContext& c = newContext();
            c.store().createKey(RegKeys::PortSetting,
                                {{QStringLiteral("串口号"), QStringLiteral("1")},
                                 {QStringLiteral("波特率"), QStringLiteral("9600")}});
        }
        AppContext& c = newContext();
        c.startup();
        QCOMPARE(reg(c, RegKeys::PortSetting, u"波特率"), QStringLiteral("9600"));
        QCOMPARE(reg(c, RegKeys::Frequency, u"信道6"), QStringLiteral("229100229100"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"工具窗口"), QStringLiteral("1"));
        QCOMPARE(c.intset, qint16(1));
        QCOMPARE(c.inttool, qint16(1));
        QVERIFY(dialogs->messages.isEmpty());
    }

    // A settings file full of garbage: the keys are written all the same, and the
    // error left from reading the garbage is not taken for a failed write.
    void garbageSettingsFileIsNoInitialisationError() {
        const QString path = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Norvik"), QStringLiteral("t83tool"))
                                 .fileName();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[[[\x01\xff=\n=\n[a\n\x00\x00garbage");
        }
        AppContext& c = newContext();
        c.startup();
        QVERIFY2(!dialogs->texts().join(QLatin1Char('|')).contains(QStringLiteral("初始化错误")),
                 qPrintable(dialogs->texts().join(QLatin1Char('|'))));
        QCOMPARE(reg(c, RegKeys::PortSetting, u"波特率"), QStringLiteral("1200"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"属性设置"), QStringLiteral("1"));
    }

    // A settings store that takes no writes (here its folder cannot be made) is told
    // once, naming the file and why, not once per key with nothing to act on.
    void refusedSettingsAreToldOnceWithFileAndReason() {
        const QString path = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Norvik"), QStringLiteral("t83tool"))
                                 .fileName();
        const QString folder = QFileInfo(path).path();
        QVERIFY(QDir(folder).removeRecursively());
        const auto restore = qScopeGuard([&] {
            QFile::remove(folder);
            QDir().mkpath(folder);
        });
        {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        newContext().startup();
        const QStringList told = dialogs->texts().filter(QStringLiteral("初始化错误"));
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(path) && told[0].contains(QStringLiteral("不是文件夹")),
                 qPrintable(told[0]));
        QCOMPARE(dialogs->messages[0].title, QStringLiteral("提示"));
    }

    void restoredChoicesSetTooltipsAndShutdownStoresThem() {
        {
            AppContext& c = newContext();
            EnsureSettingsKeys(c.store(), *dialogs);
            c.store().SetRegString(RegKeys::ToolMenu, QStringLiteral("属性设置"),
                                   QStringLiteral("2.6"));
            c.store().SetRegString(RegKeys::ToolMenu, QStringLiteral("工具窗口"),
                                   QStringLiteral("2abc"));
        }
        AppContext& c = newContext();
        c.startup();
        QCOMPARE(c.intset, qint16(3)); // nearest integer
        QCOMPARE(c.inttool, qint16(2));
        QCOMPARE(c.father()->toolButton(1)->toolTip(), QStringLiteral("开关量端口"));
        QCOMPARE(c.father()->toolButton(7)->toolTip(), QStringLiteral("调试窗口"));
        QCOMPARE(c.father()->toolButton(5)->toolTip(), QStringLiteral("轮循"));

        c.intset = 2;
        c.intfile = 1;
        c.intnet = 1;
        c.inttool = 2;
        QFile cache(QStringLiteral("portstate.dat"));
        QVERIFY(cache.open(QIODevice::WriteOnly));
        cache.write(QByteArray(24, '\0'));
        cache.close();
        cache.setPermissions(QFileDevice::ReadOwner); // protected, as the parser leaves it
        c.father()->close();
        QVERIFY(!QFile::exists(QStringLiteral("portstate.dat")));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"属性设置"), QStringLiteral("2"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"文件传输"), QStringLiteral("1"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"组网通讯"), QStringLiteral("1"));
        QCOMPARE(reg(c, RegKeys::ToolMenu, u"工具窗口"), QStringLiteral("2"));
        QVERIFY(dialogs->messages.isEmpty()); // no cache file is no problem either
    }

    void missingPortFailsWithoutProbe() {
        {
            AppContext& c = newContext();
            EnsureSettingsKeys(c.store(), *dialogs);
            c.store().SetRegString(RegKeys::PortSetting, QStringLiteral("串口号"),
                                   QStringLiteral("5"));
        }
        AppContext& c = newContext();
        c.startup();
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("设置串口无效,确定后请重新设置")});
        QCOMPARE(dialogs->messages[0].title, QStringLiteral("提示"));
        QCOMPARE(dialogs->messages[0].icon, UserDialogs::Icon::Exclamation);
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("打开串口时出错"));
        QVERIFY(!moduleCommandsOn());
        QVERIFY(!linkCommandsOn());
        QVERIFY(!c.link().cycle.Timer1.isActive());
        QVERIFY(lines->line(QStringLiteral("mem:1"))->written().isEmpty());
        QCOMPARE(c.CurrentRate, 0);
        // The port settings stay reachable.
        QVERIFY(c.father()->menusetport->isEnabled());
        QVERIFY(c.father()->buttonMenuItem(QStringLiteral("key11"))->isEnabled());
    }

    // Stored numbers too large for a port number or a rate are invalid, with the
    // message an invalid stored port or rate gets; they never wrap into COM1 or 1200.
    void storedNumbersThatDoNotFitAreInvalid_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("invalidPort");
        QTest::addColumn<QString>("invalidRate");
        QTest::newRow("port") << "65537"
                              << "1200"
                              << "0"
                              << "1200";
        QTest::newRow("rate") << "1"
                              << "4294968496"
                              << "1"
                              << "0";
    }
    void storedNumbersThatDoNotFitAreInvalid() {
        QFETCH(QString, port);
        QFETCH(QString, rate);
        QFETCH(QString, invalidPort);
        QFETCH(QString, invalidRate);
        const auto startWith = [&](const QString& p, const QString& r) {
            {
                AppContext& c = newContext();
                EnsureSettingsKeys(c.store(), *dialogs);
                c.store().SetRegString(RegKeys::PortSetting, QStringLiteral("串口号"), p);
                c.store().SetRegString(RegKeys::PortSetting, QStringLiteral("波特率"), r);
            }
            dialogs->messages.clear();
            newContext().startup();
            return dialogs->texts();
        };
        const QStringList expected = startWith(invalidPort, invalidRate);
        QCOMPARE(expected.size(), 1);
        QCOMPARE(startWith(port, rate), expected);
        QCOMPARE(lines->line(QStringLiteral("mem:1"))->openCount(), 0);
    }

    void portHeldElsewhereKeepsToolChoices() {
        {
            AppContext& c = newContext();
            EnsureSettingsKeys(c.store(), *dialogs);
            c.store().SetRegString(RegKeys::ToolMenu, QStringLiteral("属性设置"),
                                   QStringLiteral("2"));
        }
        lines->line(QStringLiteral("mem:1"))->setBusy(true);
        AppContext& c = newContext();
        c.startup();
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("设置串口已打开,确定后请重新设置")});
        QCOMPARE(c.intset, qint16(2));
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("打开串口时出错"));
    }

    void applyingSettingsReopensStoresAndGates() {
        AppContext& c = newContext({QStringLiteral("mem:1"), QStringLiteral("mem:2")});
        c.startup();
        c.link().SetModuleCommandsEnabled(false);
        QVERIFY(ApplyPortSettings(c, 2, 9600, QStringLiteral("9600,N,8,1")));
        QVERIFY(!lines->line(QStringLiteral("mem:1"))->isOpen());
        QVERIFY(lines->line(QStringLiteral("mem:2"))->isOpen());
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("COM2,9600,N,8,1"));
        QCOMPARE(reg(c, RegKeys::PortSetting, u"串口号"), QStringLiteral("2"));
        QCOMPARE(reg(c, RegKeys::PortSetting, u"波特率"), QStringLiteral("9600"));
        QVERIFY(!moduleCommandsOn()); // left for the module's answer to decide
        QVERIFY(linkCommandsOn());

        // A port in use: message, tool choices back to 1, both groups off, nothing stored.
        c.intset = 3;
        c.inttool = 2;
        lines->line(QStringLiteral("mem:1"))->setBusy(true);
        QVERIFY(!ApplyPortSettings(c, 1, 1200, QStringLiteral("1200,N,8,1")));
        QCOMPARE(dialogs->texts().last(), QStringLiteral("设置串口已打开,确定后请重新设置"));
        QCOMPARE(c.intset, qint16(1));
        QCOMPARE(c.inttool, qint16(1));
        QVERIFY(!linkCommandsOn());
        QCOMPARE(c.father()->panel(1)->text(), QStringLiteral("打开串口时出错"));
        QCOMPARE(reg(c, RegKeys::PortSetting, u"串口号"), QStringLiteral("2"));
    }

    void lostPortIsReportedOnceAndShownInThePanel() {
        AppContext& c = newContext();
        c.startup();
        lines->line(QStringLiteral("mem:1"))->unplug();
        QTRY_COMPARE(c.father()->panel(1)->text(), QStringLiteral("打开串口时出错"));
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages[0].text.contains(QStringLiteral("串口")));
        QVERIFY(!c.MSComm1().PortOpen());
        QVERIFY(!c.MSComm1().Output(QByteArray::fromHex("D7FE")));
        QVERIFY(ApplyPortSettings(c, 1, 1200, QStringLiteral("1200,N,8,1")));
    }

    // The program ended by a signal (`kill`, Ctrl+C, the session's end) closes as by its
    // close box: it exits 0 at once, and leaves neither portstate.dat nor the port's lock
    // file behind (another user would be told the port is in use).
    void signalClosesTheProgramAsItsCloseBox_data() {
        QTest::addColumn<int>("signal");
#ifdef Q_OS_UNIX
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
#endif
    }
    void signalClosesTheProgramAsItsCloseBox() {
#ifdef Q_OS_UNIX
        QFETCH(int, signal);
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/t83tool");
        if (!QFile::exists(program))
            QSKIP("t83tool has not been built next to the tests");
        Pty module;
        QVERIFY(module.ok());
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("config/Norvik")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("work")));
        {
            QFile ini(root.filePath(QStringLiteral("config/Norvik/t83tool.ini")));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[PortMap]\nCOM1=" + QFile::encodeName(module.slavePath()) + "\n");
        }
        const QString cache = root.filePath(QStringLiteral("work/portstate.dat"));
        {
            QFile file(cache);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(24, '\0'));
            file.setPermissions(QFileDevice::ReadOwner); // protected, as the parser leaves it
        }
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(root.filePath(QStringLiteral("work")));
        tool.start(program, {});
        QVERIFY(tool.waitForStarted(5000));
        // The port is open (and locked) once the probe comes.
        QTRY_VERIFY_WITH_TIMEOUT(module.received().contains(QByteArray::fromHex("D7FE")), 15000);
        // QSerialPort's lock: LCK.. and the device's name below /dev, in the first lock
        // folder it may write.
        const QString lockName = QStringLiteral("LCK..") + module.slavePath().mid(5).replace(
                                                               QLatin1Char('/'), QLatin1Char('_'));
        QString lock;
        for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                   "/tmp", "/var/tmp", "/run/lock"}) {
            const QString candidate = QString::fromLatin1(folder) + QLatin1Char('/') + lockName;
            if (lock.isEmpty() && QFile::exists(candidate))
                lock = candidate;
        }
        QVERIFY2(!lock.isEmpty(), qPrintable(lockName));

        QVERIFY(::kill(pid_t(tool.processId()), signal) == 0);
        QVERIFY(tool.waitForFinished(5000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(!QFile::exists(cache));
        QVERIFY2(!QFile::exists(lock), qPrintable(lock));
#endif
    }

    void hiddenItemsNeverShowOrFire() {
        AppContext& c = newContext();
        Father* f = c.startup();
        c.link().SetModuleCommandsEnabled(false);
        c.link().SetModuleCommandsEnabled(true);
        c.link().SetLinkCommandsEnabled(false);
        c.link().SetLinkCommandsEnabled(true);
        for (QAction* a : {f->menunet->menuAction(), f->menunetcycle, f->menunetinvite,
                           f->menuwindowsh, f->menuwindowsv, f->menuwindowsc, f->menuhelpindex,
                           f->menuhelpsearch, f->menuhelpsupport})
            QVERIFY2(!a->isVisible(), qPrintable(a->text()));
        QCOMPARE(f->menusetport->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
        QCOMPARE(f->menusetgate->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(f->filetx->shortcut(), QKeySequence(Qt::Key_F3));
        QCOMPARE(f->menudatacode->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    }
};

T83_TEST_MAIN(TestStartup)
#include "test_startup.moc"
