#include "app/father.h"

#include "app/appcontext.h"
#include "app/portcommands.h"
#include "link/commcontrol.h"
#include "link/replydisplay.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QSize>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace {
const QString kTitle = QStringLiteral("RL14V0512 T83系列模块设置和通信软件");

// The icon with a grey, lightened form for its disabled state. What a style makes of a
// disabled icon varies, and some leave it in full colour, so a disabled button would
// look like one that works; the toolbar's icons therefore carry their own.
QIcon withGreyDisabledForm(const QIcon& icon, const QSize& extent) {
    QIcon result;
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap normal = icon.pixmap(extent, ratio);
        if (normal.isNull())
            continue;
        QImage grey = normal.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < grey.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(grey.scanLine(y));
            for (int x = 0; x < grey.width(); ++x) {
                const int level = (qGray(row[x]) + 255) / 2;
                row[x] = qRgba(level, level, level, qAlpha(row[x]));
            }
        }
        result.addPixmap(normal, QIcon::Normal);
        result.addPixmap(QPixmap::fromImage(grey), QIcon::Disabled);
    }
    return result.isNull() ? icon : result;
}
} // namespace

Father::Father(AppContext& ctx) : ctx_(ctx) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    buildMenus();
    buildToolbar();
    buildStatusBar();
    connectCommands();
    Timer1.setInterval(350);
    connect(&Timer1, &QTimer::timeout, this, &Father::Timer1_Timer);
    Timer1.start();
    connect(&ctx_.link(), &Link::moduleCommandsEnabled, this, &Father::SetModuleCommandsEnabled);
    connect(&ctx_.link(), &Link::linkCommandsEnabled, this, &Father::SetLinkCommandsEnabled);
}

Father::~Father() = default;

void Father::buildMenus() {
    QMenuBar* bar = menuBar();
    const auto item = [](QMenu* menu, const QString& caption, const QKeySequence& key = {}) {
        QAction* a = menu->addAction(caption);
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };

    menuset = bar->addMenu(QStringLiteral("设置(&S)"));
    menusetport = item(menuset, QStringLiteral("串口(&C)"), QKeySequence(Qt::CTRL | Qt::Key_C));
    menuset->addSeparator(); // aa
    menusetmodule = item(menuset, QStringLiteral("模块(&M)"));
    menuset->addSeparator(); // bb
    menusetgate = item(menuset, QStringLiteral("开关量端口(&P)"), QKeySequence(Qt::Key_F2));

    menudata = bar->addMenu(QStringLiteral("数据传输(&D)"));
    menudatafile = menudata->addMenu(QStringLiteral("文件传输(&F)"));
    filetx = item(menudatafile, QStringLiteral("发送文件(&T)"), QKeySequence(Qt::Key_F3));
    filerx = item(menudatafile, QStringLiteral("捕捉文件(&R)"), QKeySequence(Qt::Key_F4));
    menudata->addSeparator(); // cc
    menudatacode =
        item(menudata, QStringLiteral("数据串传输(&A)"), QKeySequence(Qt::CTRL | Qt::Key_A));
    menudatalinktest = item(menudata, QStringLiteral("链路测试(&L)"));

    menunet = bar->addMenu(QStringLiteral("组网通讯(&N)"));
    menunetcycle = item(menunet, QStringLiteral("轮循(&C)"), QKeySequence(Qt::Key_F5));
    menunet->addSeparator(); // ff
    menunetinvite = item(menunet, QStringLiteral("邀请(&I)"), QKeySequence(Qt::Key_F6));
    menunet->menuAction()->setVisible(false);
    // A hidden heading hides its items; their shortcuts must not fire either.
    menunetcycle->setVisible(false);
    menunetinvite->setVisible(false);

    menutool = bar->addMenu(QStringLiteral("工具(&T)"));
    menutoolcommand = item(menutool, QStringLiteral("命令窗口(&C)"));
    menutooldebug = item(menutool, QStringLiteral("调试窗口(&D)"));
    menutoolproduction = item(menutool, QStringLiteral("生产测试(&P)"));
    menutoolrecords = item(menutool, QStringLiteral("生产记录(&R)"));
    jiao = menutool->addMenu(QStringLiteral("校验选择"));
    n8 = item(jiao, QStringLiteral("N,8,1"));
    e81 = item(jiao, QStringLiteral("E,8,1"));
    o81 = item(jiao, QStringLiteral("O,8,1"));
    s81 = item(jiao, QStringLiteral("S,8,1"));
    m81 = item(jiao, QStringLiteral("M,8,1"));

    menuwindow = bar->addMenu(QStringLiteral("窗口(&W)"));
    menuwindowsh = item(menuwindow, QStringLiteral("水平平铺(&H)"));
    menuwindowsv = item(menuwindow, QStringLiteral("垂直平铺(&V)"));
    menuwindowsc = item(menuwindow, QStringLiteral("层叠(&C)"));
    menuwindowsa = item(menuwindow, QStringLiteral("排列图标(&A)"));
    menuwindowsh->setVisible(false);
    menuwindowsv->setVisible(false);
    menuwindowsc->setVisible(false);
    menuwindow->addSeparator(); // gg
    connect(menuwindow, &QMenu::aboutToShow, this, &Father::fillWindowList);

    menuhelp = bar->addMenu(QStringLiteral("帮助(&H)"));
    menuhelpcontent = item(menuhelp, QStringLiteral("内容(&C)"));
    menuhelpindex = item(menuhelp, QStringLiteral("索引(&I)"));
    menuhelpsearch = item(menuhelp, QStringLiteral("搜索(&S)"));
    QAction* dd = menuhelp->addSeparator();
    menuhelpsupport = item(menuhelp, QStringLiteral("网络支持 www.norvik-radio.example (&W)"));
    QAction* ee = menuhelp->addSeparator();
    menuhelpabout = item(menuhelp, QStringLiteral("关于本软件(&A)"));
    for (QAction* hidden : {menuhelpindex, menuhelpsearch, dd, menuhelpsupport, ee})
        hidden->setVisible(false);
}

void Father::buildToolbar() {
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar1"));
    bar->setObjectName(QStringLiteral("Toolbar1"));
    bar->setMovable(false);
    QStyle* st = style();
    struct Button {
        int number;
        QStyle::StandardPixmap icon;
        const char16_t* tooltip;
        bool checkable;
        std::initializer_list<std::pair<const char16_t*, const char16_t*>> items;
    };
    const Button buttons[] = {
        {1,
         QStyle::SP_ComputerIcon,
         u"",
         false,
         {{u"串口", u"key11"}, {u"模块", u"key12"}, {u"开关量端口", u"key13"}}},
        {3,
         QStyle::SP_FileIcon,
         u"文件传输",
         false,
         {{u"发送文件", u"key21"}, {u"接收文件", u"key22"}}},
        {4, QStyle::SP_FileDialogDetailedView, u"数据串传输", false, {}},
        {5,
         QStyle::SP_DriveNetIcon,
         u"组网通讯",
         false,
         {{u"轮循", u"key31"}, {u"邀请", u"key32"}}},
        {7,
         QStyle::SP_DesktopIcon,
         u"工具窗口",
         false,
         {{u"命令窗口", u"key14"}, {u"调试窗口", u"key24"}}},
        {9, QStyle::SP_BrowserReload, u"刷新", false, {}},
        {11, QStyle::SP_FileDialogContentsView, u"接收数据格式切换", true, {}},
        {13, QStyle::SP_DialogApplyButton, u"查询CRC校验码", false, {}},
        {15, QStyle::SP_TrashIcon, u"清空接收区数据", false, {}},
        {17, QStyle::SP_MediaVolume, u"回显切换", true, {}},
    };
    int next = 1;
    for (const Button& b : buttons) {
        while (next < b.number) { // spacers 2, 6, 8, 10 ...
            bar->addSeparator();
            ++next;
        }
        auto* button = new QToolButton(bar);
        button->setObjectName(QStringLiteral("key%1").arg(b.number));
        button->setIcon(withGreyDisabledForm(st->standardIcon(b.icon), bar->iconSize()));
        button->setToolTip(QString::fromUtf16(b.tooltip));
        button->setCheckable(b.checkable);
        if (b.items.size() > 0) {
            auto* menu = new QMenu(button);
            for (const auto& [text, key] : b.items) {
                QAction* a = menu->addAction(QString::fromUtf16(text));
                a->setObjectName(QString::fromUtf16(key));
                a->setData(QString::fromUtf16(key));
            }
            button->setMenu(menu);
            button->setPopupMode(QToolButton::MenuButtonPopup);
        }
        bar->addWidget(button);
        buttons_[b.number - 1] = button;
        ++next;
    }
}

void Father::buildStatusBar() {
    const int widths[] = {2540, 3246, 3775, 2540};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new StatusPanel(twips(widths[i]), this);
        statusBar()->addWidget(panels_[i], i == 2 ? 1 : 0);
    }
}

QToolButton* Father::toolButton(int number) const {
    if (number < 1 || number > 17)
        return nullptr;
    return buttons_[number - 1];
}

QAction* Father::buttonMenuItem(const QString& key) const {
    for (QToolButton* b : buttons_) {
        if (b && b->menu()) {
            for (QAction* a : b->menu()->actions())
                if (a->data().toString() == key)
                    return a;
        }
    }
    return nullptr;
}

void Father::setMenuEnabled(QMenu* menu, bool on) {
    menu->menuAction()->setEnabled(on);
    for (QAction* a : menu->actions()) {
        if (a->menu())
            setMenuEnabled(a->menu(), on);
        else if (a->isVisible()) // hidden items stay out of reach, shortcuts included
            a->setEnabled(on);
    }
}

void Father::setStartupTooltips() {
    toolButton(1)->setToolTip(ctx_.intset == 2   ? QStringLiteral("模块设置")
                              : ctx_.intset == 3 ? QStringLiteral("开关量端口")
                                                 : QStringLiteral("串口设置"));
    toolButton(3)->setToolTip(ctx_.intfile == 2 ? QStringLiteral("接收文件")
                                                : QStringLiteral("发送文件"));
    toolButton(5)->setToolTip(QStringLiteral("轮循"));
    if (ctx_.inttool == 1)
        toolButton(7)->setToolTip(QStringLiteral("命令窗口"));
    else if (ctx_.inttool == 2)
        toolButton(7)->setToolTip(QStringLiteral("调试窗口"));
}

void Father::setPortPanel(const QString& text) {
    panel(1)->setText(text);
}

QString ShortDateText(const QDate& date) {
#ifdef Q_OS_WIN
    return QLocale::system().toString(date, QLocale::ShortFormat);
#else
    // Other platforms' short dates vary from locale to locale (and some put the day
    // first); year-month-day with a four-digit year reads the same everywhere.
    return date.toString(QStringLiteral("yyyy-MM-dd"));
#endif
}

QString DatePanelText(const QString& shortDate, const QDate& date) {
    const QString text = shortDate.size() < 10 ? QStringLiteral("20") + shortDate : shortDate;
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    return text + QStringLiteral("  ") + chinese.dayName(date.dayOfWeek(), QLocale::LongFormat);
}

QString TimePanelText(const QTime& time) {
    // Formatted by hand: the clock asks three times a second, and the locale's formatter
    // costs more than the rest of the tick.
    return QString::asprintf("%02d:%02d:%02d", time.hour(), time.minute(), time.second());
}

void Father::Timer1_Timer() {
    const QDateTime now = QDateTime::currentDateTime();
    // The tick comes about three times a second; the date's text changes once a day.
    if (now.date() != shownDate_) {
        shownDate_ = now.date();
        panel(3)->setText(DatePanelText(ShortDateText(shownDate_), shownDate_));
    }
    panel(4)->setText(TimePanelText(now.time()));
}

QMdiSubWindow* Father::addChildWindow(QWidget* window) {
    for (QMdiSubWindow* sub : mdi_->subWindowList())
        if (sub->widget() == window)
            return sub;
    const QSize size = window->size();
    // A working window that closes itself (through one of its buttons) is unloaded
    // together with the frame around it.
    window->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    connect(window, &QObject::destroyed, sub, [sub] {
        sub->close();
        sub->deleteLater();
    });
    sub->setWindowIcon(window->windowIcon());
    sub->resize(size);
    if (window->minimumSize() == window->maximumSize()) {
        // A fixed dialog: no minimise or maximise, its whole client area inside the frame.
        sub->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        sub->adjustSize();
    }
    return sub;
}

void Father::fillWindowList() {
    for (QAction* a : windowListActions_) {
        menuwindow->removeAction(a);
        a->deleteLater();
    }
    windowListActions_.clear();
    int n = 1;
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (sub->isHidden())
            continue;
        QAction* a =
            menuwindow->addAction(QStringLiteral("&%1 %2").arg(n++).arg(sub->windowTitle()));
        a->setCheckable(true);
        a->setChecked(sub == mdi_->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, sub] { mdi_->setActiveSubWindow(sub); });
        windowListActions_ << a;
    }
}

void Father::SetModuleCommandsEnabled(bool on) {
    menusetmodule->setEnabled(on);
    menusetgate->setEnabled(on);
    setMenuEnabled(menunet, on);
    setMenuEnabled(menutool, on);
    buttonMenuItem(QStringLiteral("key12"))->setEnabled(on);
    buttonMenuItem(QStringLiteral("key13"))->setEnabled(on);
    for (int n : {5, 7, 13})
        toolButton(n)->setEnabled(on);
}

void Father::SetLinkCommandsEnabled(bool on) {
    for (int n : {3, 4, 9, 11})
        toolButton(n)->setEnabled(on);
    setMenuEnabled(menudata, on);
    setMenuEnabled(menuwindow, on);
}

void Father::MDIForm_Initialize() {
    ctx_.intset = ctx_.intfile = ctx_.intnet = ctx_.inttool = 1;
    ListSerialPorts(ctx_.portMap(), ctx_.SerialPortNames);
    setWindowTitle(kTitle);
    EnsureSettingsKeys(ctx_.store(), ctx_.dialogs());
    const auto choice = [this](const char16_t* name) {
        return static_cast<qint16>(
            LeadingNumber(ctx_.store().GetRegString(RegKeys::ToolMenu, QString::fromUtf16(name))));
    };
    ctx_.intset = choice(u"属性设置");
    ctx_.intfile = choice(u"文件传输");
    ctx_.intnet = choice(u"组网通讯");
    ctx_.inttool = choice(u"工具窗口");

    ctx_.link().parser.ShowAsText = false;
    ctx_.link().EchoKeys = true;
    ctx_.link().cycle.moduleRefreshPending = false;
    ctx_.windowOpen = WindowOpenFlags{};

    resize(twips(11900), twips(8900));
    setStartupTooltips();

    panel(2)->setText(QStringLiteral("接收格式:HEX数据"));
    panel(3)->setPicture(104);
    panel(4)->setPicture(114);
    Timer1_Timer();

    const auto port = StoredNumber<qint16>(
        LeadingNumber(ctx_.store().GetRegString(RegKeys::PortSetting, QStringLiteral("串口号"))));
    const auto rate = StoredNumber<qint32>(
        LeadingNumber(ctx_.store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率"))));
    if (OpenStartupPort(ctx_, port, rate))
        ctx_.session().probe();
}

void Father::MDIForm_QueryUnload() {
    auto& store = ctx_.store();
    store.SetRegString(RegKeys::ToolMenu, QStringLiteral("属性设置"), QString::number(ctx_.intset));
    store.SetRegString(RegKeys::ToolMenu, QStringLiteral("文件传输"),
                       QString::number(ctx_.intfile));
    store.SetRegString(RegKeys::ToolMenu, QStringLiteral("组网通讯"), QString::number(ctx_.intnet));
    store.SetRegString(RegKeys::ToolMenu, QStringLiteral("工具窗口"),
                       QString::number(ctx_.inttool));
    // The port-state file may be protected; make it a plain file first so the delete
    // works, and ignore every failure.
    // Only a plain file of that name is removed: a folder or a link keeps its rights.
    const QString cache = QStringLiteral("portstate.dat");
    if (IsPlainFile(cache)) {
        SetStoredFileAttributes(cache, false);
        QFile::remove(cache);
    }
}

void Father::MDIForm_Unload() {
    ctx_.setClosingDown();
    // Close the working windows, the most recently opened first.
    QList<QMdiSubWindow*> windows = mdi_->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        (*it)->close();
}

void Father::closeEvent(QCloseEvent* event) {
    if (!shutDown_) {
        shutDown_ = true;
        MDIForm_QueryUnload();
        MDIForm_Unload();
    }
    event->accept();
}
