// The main window's commands: drop-down choices that open windows and are remembered
// across restarts, plain clicks, the receive-format and echo buttons, probe and CRC,
// shortcuts, parity items, the clock's date rule and help.
#include "app/appcontext.h"
#include "app/comwindow.h"
#include "app/father.h"
#include "app/helpfile.h"
#include "config/debugwindow.h"
#include "config/gatewindow.h"
#include "config/modulewindow.h"
#include "serial/portopen.h"
#include "tests/support/appfixture.h"
#include "tests/support/onscreen.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tools/commandwindow.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QStyleFactory>
#include <QToolButton>

namespace {
class KeepsIconColours : public QProxyStyle {
  public:
    KeepsIconColours() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    QPixmap generatedIconPixmap(QIcon::Mode, const QPixmap& pixmap,
                                const QStyleOption*) const override {
        return pixmap;
    }
};
} // namespace

class TestMainCommands : public QObject {
    Q_OBJECT

    AppFixture app;
    std::unique_ptr<AppContext>& ctx = app.ctx;
    MemoryLine*& line = app.line;

    // Starts the program, or restarts it over the same settings.
    Father* restart() {
        if (ctx)
            app.restart();
        else
            app.start(true);
        ctx->link().cycle.Timer1.stop();
        line->takeWritten();
        return ctx->father();
    }
    QStringList openTitles() const {
        QStringList titles;
        for (QMdiSubWindow* sub : ctx->father()->mdiArea()->subWindowList())
            titles << sub->widget()->objectName();
        return titles;
    }

  private slots:
    void cleanup() { app.stop(); }

    void dropDownChoiceOpensAndIsRememberedAcrossRestarts() {
        Father* f = restart();
        f->buttonMenuItem(QStringLiteral("key12"))->trigger();
        QVERIFY(ctx->loaded<ModuleWindow>());
        QCOMPARE(f->toolButton(1)->toolTip(), QStringLiteral("模块设置"));
        QCOMPARE(ctx->intset, qint16(2));

        f = restart();
        QCOMPARE(f->toolButton(1)->toolTip(), QStringLiteral("模块设置"));
        QVERIFY(!ctx->loaded<ModuleWindow>());
        f->toolButton(1)->click();
        QVERIFY(ctx->loaded<ModuleWindow>());
    }

    void plainClickTwiceShowsOneWindow() {
        Father* f = restart();
        f->toolButton(1)->click();
        f->toolButton(1)->click();
        QCOMPARE(openTitles(), (QStringList{QStringLiteral("showdata"), QStringLiteral("com")}));
        QCOMPARE(f->mdiArea()->activeSubWindow()->widget()->objectName(), QStringLiteral("com"));
    }

    void toolChoiceLeavesOtherTooltipsAndInvalidChoiceDoesNothing() {
        Father* f = restart();
        f->buttonMenuItem(QStringLiteral("key24"))->trigger();
        QVERIFY(ctx->loaded<DebugWindow>());
        QCOMPARE(f->toolButton(7)->toolTip(), QStringLiteral("调试窗口"));
        QCOMPARE(f->toolButton(5)->toolTip(), QStringLiteral("轮循"));
        f->buttonMenuItem(QStringLiteral("key32"))->trigger();
        QCOMPARE(ctx->intnet, qint16(2));
        QCOMPARE(f->toolButton(5)->toolTip(), QStringLiteral("邀请"));

        ctx->intset = 0;
        const int before = f->mdiArea()->subWindowList().size();
        f->toolButton(1)->click();
        QCOMPARE(f->mdiArea()->subWindowList().size(), before);
        f->buttonMenuItem(QStringLiteral("key11"))->trigger(); // the items still work
        QCOMPARE(ctx->intset, qint16(1));
        QVERIFY(ctx->loaded<ComWindow>());
    }

    void receiveFormatButtonSwitchesDisplayAndInput() {
        Father* f = restart();
        QToolButton* format = f->toolButton(11);
        format->click();
        QCOMPARE(f->panel(2)->text(), QStringLiteral("接收格式:ASCII字符"));
        QVERIFY(ctx->link().parser.ShowAsText);
        QCOMPARE(ctx->MSComm1().InputMode(), int(CommControl::comInputModeText));
        QCOMPARE(ctx->MSComm1().InputLen(), 0);
        line->feed(CommControl::toAnsi(QStringLiteral("中A")));
        QTRY_COMPARE(ctx->showdata()->Text1->toPlainText(), QStringLiteral("中A"));

        format->click();
        QCOMPARE(f->panel(2)->text(), QStringLiteral("接收格式:HEX数据"));
        QVERIFY(!ctx->link().parser.ShowAsText);
        QCOMPARE(ctx->MSComm1().InputMode(), int(CommControl::comInputModeBinary));
        QCOMPARE(ctx->MSComm1().InputLen(), 1);
        line->feed(QByteArray("A"));
        QTRY_COMPARE(ctx->showdata()->Text1->toPlainText(), QStringLiteral("中A41:"));

        f->toolButton(15)->click();
        QVERIFY(ctx->showdata()->Text1->toPlainText().isEmpty());
    }

    void probeCrcAndEchoButtons() {
        Father* f = restart();
        ctx->link().parser.ModuleAnswered = true;
        f->toolButton(9)->click();
        QVERIFY(!ctx->link().parser.ModuleAnswered);
        QVERIFY(ctx->link().cycle.Timer1.isActive());
        f->toolButton(13)->click();
        QCOMPARE(line->takeWritten(), QByteArray::fromHex("D7FED7E6"));
        f->toolButton(17)->click();
        QVERIFY(!ctx->link().EchoKeys);
        f->toolButton(17)->click();
        QVERIFY(ctx->link().EchoKeys);

        ctx->MSComm1().setPortOpen(false);
        f->toolButton(13)->click();
        QCOMPARE(app.dialogs->messages.size(), 1); // told once, nothing sent
        QVERIFY(line->written().isEmpty());
    }

    void disabledButtonsShowGreyIcons() {
        // Under a style that leaves disabled icons in full colour, as some do.
        const QString styleName = QApplication::style()->name();
        QApplication::setStyle(new KeepsIconColours);
        QPixmapCache::clear();
        const auto restoreStyle = qScopeGuard([&] { QApplication::setStyle(styleName); });
        Father* f = restart();
        ctx->link().SetLinkCommandsEnabled(false); // as when the port would not open
        ctx->link().SetModuleCommandsEnabled(false);
        QVERIFY(!f->toolButton(4)->isEnabled() && !f->toolButton(11)->isEnabled());
        for (int n = 1; n <= 17; ++n) {
            QToolButton* button = f->toolButton(n);
            if (!button || button->isEnabled())
                continue;
            const QIcon icon = button->icon();
            const QImage normal =
                icon.pixmap(button->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
            const QImage disabled = icon.pixmap(button->iconSize(), QIcon::Disabled)
                                        .toImage()
                                        .convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(disabled != normal, qPrintable(QStringLiteral("button %1").arg(n)));
            int opaque = 0;
            for (int y = 0; y < disabled.height(); ++y)
                for (int x = 0; x < disabled.width(); ++x) {
                    const QColor c = disabled.pixelColor(x, y);
                    if (c.alpha() < 128)
                        continue;
                    ++opaque;
                    QVERIFY2(qAbs(c.red() - c.green()) <= 2 && qAbs(c.green() - c.blue()) <= 2,
                             qPrintable(QStringLiteral("button %1 at %2,%3 is %4")
                                            .arg(n)
                                            .arg(x)
                                            .arg(y)
                                            .arg(c.name())));
                }
            QVERIFY(opaque > 0);
        }
    }

    void shortcutsOpenTheirWindowsAndHiddenOnesDoNothing() {
        Father* f = restart();
        f->show();
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTest::keyClick(f, Qt::Key_F2);
        QVERIFY(ctx->loaded<GateWindow>());
        QTest::keyClick(f, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(ctx->loaded<ComWindow>());
        ctx->window<ComWindow>()->Command2_Click();
        QTRY_VERIFY(!ctx->loaded<ComWindow>());
        // Ctrl+C in a text box still opens the port settings rather than copying.
        ctx->openOrFront<CommandWindow>();
        ctx->window<CommandWindow>()->Text1->setFocus();
        QTest::keyClick(ctx->window<CommandWindow>()->Text1, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(ctx->loaded<ComWindow>());
        const int before = f->mdiArea()->subWindowList().size();
        QTest::keyClick(f, Qt::Key_F5); // hidden "轮循"
        QCOMPARE(f->mdiArea()->subWindowList().size(), before);
    }

    void windowMenuListsOpenWindows() {
        Father* f = restart();
        ctx->openOrFront<CommandWindow>();
        emit f->menuwindow->aboutToShow();
        QStringList texts;
        for (QAction* a : f->menuwindow->actions())
            texts << a->text();
        QVERIFY(texts.join(QLatin1Char('|')).contains(QStringLiteral("命令方式")));
        QVERIFY(texts.join(QLatin1Char('|')).contains(QStringLiteral("数据接收显示")));
    }

    void parityItemsChangeTheOpenPortOnly() {
        Father* f = restart();
        f->e81->trigger();
        QCOMPARE(ctx->MSComm1().Settings(), QStringLiteral("1200,E,8,1"));
        QCOMPARE(f->panel(1)->text(), QStringLiteral("COM1,1200,E,8,1"));
        QCOMPARE(line->openCount(), 1); // not reopened
        QCOMPARE(line->settings().parity, QSerialPort::EvenParity);
        QCOMPARE(ctx->store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率")),
                 QStringLiteral("1200"));

        ctx->CurrentRate = 0; // no port opened in this run
        f->m81->trigger();
        QCOMPARE(app.dialogs->messages.size(), 1);
        QCOMPARE(ctx->MSComm1().Settings(), QStringLiteral("1200,E,8,1"));

        // A lost port keeps its rate but must not be shown as set up again.
        ctx->CurrentRate = 1200;
        line->unplug();
        QTRY_COMPARE(f->panel(1)->text(), QStringLiteral("打开串口时出错"));
        f->o81->trigger();
        QCOMPARE(f->panel(1)->text(), QStringLiteral("打开串口时出错"));
        // The loss is told; the parity items went off with the link commands.
        QCOMPARE(app.dialogs->messages.size(), 2);
        QVERIFY(!f->o81->isEnabled());
    }

    void datePanelRule() {
        const QDate sunday(2026, 12, 6);
        QCOMPARE(DatePanelText(QStringLiteral("26-12-06"), sunday),
                 QStringLiteral("2026-12-06  星期日"));
        QCOMPARE(DatePanelText(QStringLiteral("2026-12-07"), sunday.addDays(1)),
                 QStringLiteral("2026-12-07  星期一"));
        QCOMPARE(ShortDateText(sunday).size() >= 8, true);
        QCOMPARE(TimePanelText(QTime(9, 5, 3)), QStringLiteral("09:05:03"));
        QCOMPARE(TimePanelText(QTime(21, 0, 0)), QStringLiteral("21:00:00"));
        Father* f = restart();
        QCOMPARE(f->Timer1.interval(), 350);
        QVERIFY(f->Timer1.isActive());
        QVERIFY(QTime::fromString(f->panel(4)->text(), QStringLiteral("hh:mm:ss")).isValid());
        QCOMPARE(f->panel(3)->picture(), 104);
        QCOMPARE(f->panel(4)->picture(), 114);
        // What a panel shows on screen follows its text (the clock's panel repaints
        // itself without a new layout of the bar).
        f->Timer1.stop();
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        StatusPanel* clock = f->panel(4);
        const auto area = [&] { return QRect(clock->mapTo(f, QPoint(0, 0)), clock->size()); };
        const auto onScreen = [&] { return shownOnScreen(clock); };
        const auto drawn = [&] {
            return f->grab(area()).toImage().convertToFormat(QImage::Format_RGB32);
        };
        for (const QString& text : {QStringLiteral("11:11:11"), QStringLiteral("22:22:22"),
                                    QStringLiteral("22:22:22 下午 很长的一段文字")}) {
            clock->setText(text);
            QTRY_VERIFY(onScreen() == drawn());
        }
    }

    // F1 opens the help file where one sits beside the program, else the first user
    // guide that exists, else nothing (the caller then says the help file is missing).
    void helpFallsBackFromTheHelpFileToTheGuide() {
        QTemporaryDir dir;
        const QString chm = dir.filePath(QStringLiteral("kaivo.chm"));
        const QString installed = dir.filePath(QStringLiteral("share/guide/index.html"));
        const QString inTree = dir.filePath(QStringLiteral("docs/guide/index.html"));
        const auto touch = [](const QString& path) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        };
        const HelpPlaces places{chm, {installed, inTree}};
        QCOMPARE(ChooseHelp(places), QString());
        touch(inTree);
        QCOMPARE(ChooseHelp(places), inTree);
        touch(installed);
        QCOMPARE(ChooseHelp(places), installed);
        touch(chm);
        QCOMPARE(ChooseHelp(places), chm);
        // The program's own places: the help file beside it, then the installed guide.
        const HelpPlaces own = DefaultHelpPlaces(QStringLiteral("/opt/t83/bin"));
        QCOMPARE(own.chm, QStringLiteral("/opt/t83/bin/kaivo.chm"));
        QCOMPARE(own.guides.value(0),
                 QStringLiteral("/opt/t83/share/doc/t83tool/guide/index.html"));

        Father* f = restart();
        QStringList opened;
        f->openDocument = [&](const QString& path) {
            opened << path;
            return true;
        };
        QFile::remove(chm);
        f->helpPlaces = places;
        f->menuhelpcontent->trigger();
        QCOMPARE(opened, QStringList{installed});
        QVERIFY(app.dialogs->messages.isEmpty());
    }

    void helpOpensTheFileOrSaysItIsMissing() {
        Father* f = restart();
        QStringList opened;
        f->openDocument = [&](const QString& path) {
            opened << path;
            return true;
        };
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/kaivo.chm");
        f->helpPlaces = {path, {}};
        QFile::remove(path);
        f->menuhelpcontent->trigger();
        QCOMPARE(app.dialogs->messages.size(), 1);
        QVERIFY(app.dialogs->messages[0].text.contains(QStringLiteral("kaivo.chm")));
        QVERIFY(opened.isEmpty());
        {
            QFile help(path);
            QVERIFY(help.open(QIODevice::WriteOnly));
        }
        f->menuhelpcontent->trigger();
        QFile::remove(path);
        QCOMPARE(opened, QStringList{path});
        QCOMPARE(app.dialogs->messages.size(), 1);
    }
};

T83_TEST_MAIN(TestMainCommands)
#include "test_maincommands.moc"
