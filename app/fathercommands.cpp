// What the main window's menu items and toolbar buttons do.
#include "app/aboutwindow.h"
#include "app/appcontext.h"
#include "app/comwindow.h"
#include "app/father.h"
#include "app/helpfile.h"
#include "config/debugwindow.h"
#include "config/gatewindow.h"
#include "config/modulewindow.h"
#include "link/modulesession.h"
#include "linktest/linktestwindow.h"
#include "production/productionwindow.h"
#include "production/recordswindow.h"
#include "protocol/frames.h"
#include "tools/commandwindow.h"
#include "tools/filetrwindow.h"
#include "tools/strbunchwindow.h"
#include "ui/receivebox.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QToolButton>
#include <QUrl>

namespace {
// Opens a working window or brings it to the front.
using Opener = void (AppContext::*)();
// The file windows are always shown modal, whatever their state.
template <typename Window> void showModal(AppContext& ctx) {
    ctx.window<Window>()->showModal();
}
} // namespace

void Father::connectCommands() {
    const auto open = [this](QAction* action, Opener opener) {
        connect(action, &QAction::triggered, this, [this, opener] { (ctx_.*opener)(); });
    };
    open(menusetport, &AppContext::openOrFront<ComWindow>);
    open(menusetmodule, &AppContext::openOrFront<ModuleWindow>);
    open(menusetgate, &AppContext::openOrFront<GateWindow>);
    open(menutoolcommand, &AppContext::openOrFront<CommandWindow>);
    open(menutooldebug, &AppContext::openOrFront<DebugWindow>);
    open(menutoolproduction, &AppContext::openOrFront<ProductionWindow>);
    open(menutoolrecords, &AppContext::openOrFront<RecordsWindow>);
    open(menudatacode, &AppContext::openOrFront<StrbunchWindow>);
    open(menudatalinktest, &AppContext::openOrFront<LinkTestWindow>);
    open(menuhelpabout, &AppContext::openOrFront<AboutWindow>);
    connect(filetx, &QAction::triggered, this, [this] { showModal<FileTrWindow>(ctx_); });
    open(filerx, &AppContext::showFileCapture);
    const std::pair<QAction*, const char*> parity[] = {
        {n8, ",N,8,1"}, {e81, ",E,8,1"}, {o81, ",O,8,1"}, {s81, ",S,8,1"}, {m81, ",M,8,1"}};
    for (const auto& [action, suffix] : parity)
        connect(action, &QAction::triggered, this,
                [this, s = QString::fromLatin1(suffix)] { setbaud(s); });
    connect(menuwindowsh, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    connect(menuwindowsv, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    connect(menuwindowsc, &QAction::triggered, mdi_, &QMdiArea::cascadeSubWindows);
    connect(menuwindowsa, &QAction::triggered, this, &Father::menuwindowsa_Click);
    connect(menuhelpcontent, &QAction::triggered, this, &Father::showHelp);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::ApplicationShortcut); // F1 in any window of the program
    connect(f1, &QShortcut::activated, this, &Father::showHelp);

    for (int n = 1; n <= 17; ++n) {
        QToolButton* button = toolButton(n);
        if (!button)
            continue;
        connect(button, &QToolButton::clicked, this, [this, n] { Toolbar1_ButtonClick(n); });
        if (QMenu* menu = button->menu())
            connect(menu, &QMenu::triggered, this,
                    [this](QAction* item) { Toolbar1_ButtonMenuClick(item->data().toString()); });
    }
    // Menu shortcuts win over the text boxes' own use of the same keys (Ctrl+C, Ctrl+A).
    qApp->installEventFilter(this);
    openDocument = [](const QString& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
}

bool Father::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && isActiveWindow()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (QAction* action : {menusetport, menudatacode}) {
            if (action->isEnabled() && action->isVisible() && action->shortcut() == pressed)
                return true; // not offered to the widget: the menu's shortcut fires
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Father::Toolbar1_ButtonClick(int number) {
    switch (number) {
    case 1:
        if (ctx_.intset == 1)
            ctx_.openOrFront<ComWindow>();
        else if (ctx_.intset == 2)
            ctx_.openOrFront<ModuleWindow>();
        else if (ctx_.intset == 3)
            ctx_.openOrFront<GateWindow>();
        break;
    case 3:
        if (ctx_.intfile == 1)
            showModal<FileTrWindow>(ctx_);
        else if (ctx_.intfile == 2)
            ctx_.showFileCapture();
        break;
    case 4:
        ctx_.openOrFront<StrbunchWindow>();
        break;
    case 7:
        if (ctx_.inttool == 1)
            ctx_.openOrFront<CommandWindow>();
        else if (ctx_.inttool == 2)
            ctx_.openOrFront<DebugWindow>();
        break;
    case 9: // probe the module again
        if (!ctx_.session().PortOpenForUser())
            break;
        ctx_.session().probe();
        break;
    case 11: {
        const bool text = toolButton(11)->isChecked();
        panel(2)->setText(text ? QStringLiteral("接收格式:ASCII字符")
                               : QStringLiteral("接收格式:HEX数据"));
        ctx_.link().setDisplayFormat(text ? Link::DisplayFormat::Text : Link::DisplayFormat::Hex);
        break;
    }
    case 13: // ask for the module's CRC
        if (ctx_.session().PortOpenForUser())
            ctx_.session().SendFrame(t83::CrcQueryFrame());
        break;
    case 15:
        // What arrived before the click is gathered for the next frame: put it in first, so
        // the clear takes it too.
        ctx_.showdata()->flushReceived();
        ctx_.showdata()->Text1->clear();
        break;
    case 17:
        ctx_.link().EchoKeys = !toolButton(17)->isChecked();
        break;
    default:
        break;
    }
}

void Father::Toolbar1_ButtonMenuClick(const QString& key) {
    struct Choice {
        const char* key;
        qint16 AppContext::*member;
        qint16 value;
        int button;
        const char16_t* tooltip;
        Opener opens = nullptr;
        void (*opensModal)(AppContext&) = nullptr;
    };
    static const Choice choices[] = {
        {"key11", &AppContext::intset, 1, 1, u"串口设置", &AppContext::openOrFront<ComWindow>},
        {"key12", &AppContext::intset, 2, 1, u"模块设置", &AppContext::openOrFront<ModuleWindow>},
        {"key13", &AppContext::intset, 3, 1, u"开关量端口", &AppContext::openOrFront<GateWindow>},
        {"key21", &AppContext::intfile, 1, 3, u"发送文件", nullptr, &showModal<FileTrWindow>},
        {"key22", &AppContext::intfile, 2, 3, u"接收文件", &AppContext::showFileCapture},
        {"key31", &AppContext::intnet, 1, 5, u"轮循", nullptr},
        {"key32", &AppContext::intnet, 2, 5, u"邀请", nullptr},
        {"key14", &AppContext::inttool, 1, 7, u"命令窗口", &AppContext::openOrFront<CommandWindow>},
        {"key24", &AppContext::inttool, 2, 7, u"调试窗口", &AppContext::openOrFront<DebugWindow>},
    };
    for (const Choice& c : choices) {
        if (key != QLatin1String(c.key))
            continue;
        ctx_.*(c.member) = c.value;
        toolButton(c.button)->setToolTip(QString::fromUtf16(c.tooltip));
        if (c.opens)
            (ctx_.*c.opens)();
        if (c.opensModal)
            c.opensModal(ctx_);
        return;
    }
}

void Father::setbaud(const QString& suffix) {
    CommControl& comm = ctx_.MSComm1();
    if (ctx_.CurrentRate == 0 || !comm.PortOpen()) {
        // No port has opened in this run (no rate to go with the parity), or the port
        // was lost or failed to open: the panel must keep saying so.
        ctx_.dialogs().message(QStringLiteral("串口未打开,请先在\"串口设置\"中打开串口。"),
                               QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    const auto result = comm.setSettings(QString::number(ctx_.CurrentRate) + suffix);
    if (!result.ok()) {
        ctx_.dialogs().message(result.description, QCoreApplication::applicationName(),
                               UserDialogs::Icon::None);
        return;
    }
    setPortPanel(QStringLiteral("COM%1,%2").arg(comm.CommPort()).arg(comm.Settings()));
}

void Father::menuwindowsa_Click() {
    // Lines up the minimised working windows along the bottom of the area.
    int x = 0;
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (!sub->isMinimized())
            continue;
        sub->move(x, mdi_->viewport()->height() - sub->height());
        x += sub->width();
    }
}

void Father::showHelp() {
    if (helpPlaces.chm.isEmpty() && helpPlaces.guides.isEmpty())
        helpPlaces = DefaultHelpPlaces(QCoreApplication::applicationDirPath());
    const QString path = ChooseHelp(helpPlaces);
    const QString chm = QDir::toNativeSeparators(helpPlaces.chm);
    if (path.isEmpty()) {
        ctx_.dialogs().message(QStringLiteral("找不到帮助文件 %1。").arg(chm),
                               QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    if (!openDocument(path))
        ctx_.dialogs().message(
            path == helpPlaces.chm
                ? QStringLiteral("无法打开帮助文件 %1:系统中没有能打开 .chm 文件的程序。").arg(chm)
                : QStringLiteral("无法打开帮助文件 %1:系统中没有能打开网页的程序。")
                      .arg(QDir::toNativeSeparators(path)),
            QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
}
