#include "app/appcontext.h"

#include "app/father.h"
#include "config/promptwindow.h"
#include "link/qserialbackend.h"
#include "tools/commandwindow.h"
#include "tools/filereceivewindow.h"
#include "ui/showdata.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QSize>
#include <QTimer>
#include <QWidget>

namespace {
SerialBackendFactory orRealPorts(SerialBackendFactory factory) {
    return factory ? std::move(factory) : SerialBackendFactory(&QSerialBackend::create);
}
} // namespace

AppContext::AppContext(UserDialogs& dialogs, Options options)
    : dialogs_(dialogs), options_(std::move(options)), portTable_(store_),
      portMap_(portTable_, options_.portEnumerator),
      session_(
          std::make_unique<ModuleSession>([this](int port) { return portMap_.deviceFor(port); },
                                          orRealPorts(options_.backendFactory))),
      params(session_->params) {
    wireLink();
    // What followed a rejected header is shown as ordinary received data.
    connect(&capture(), &CapturePath::leftover, this,
            [this](const QString& text, bool hex) { showdata()->showLeftover(text, hex); });
}

AppContext::AppContext(UserDialogs& dialogs) : AppContext(dialogs, Options{}) {}

AppContext::~AppContext() {
    setClosingDown();
    delete loaded<PromptWindow>();
    delete loaded<FileReceiveWindow>();
    delete father_.data();
    delete showdata_.data();
}

void AppContext::setClosingDown() {
    closingDown = true;
    if (showdata_)
        showdata_->closingDown = true;
}

void AppContext::wireLink() {
    ModuleSession& session = *session_;
    ReplyParser& parser = link().parser;
    connect(&parser, &ReplyParser::logLine, this, [this](const QString& line) {
        if (CommandWindow* window = loaded<CommandWindow>(); window && window->meshow)
            window->insertReply(line + QStringLiteral("\r\n"));
    });
    // What the line brings is told without holding up the line: reading and showing go
    // on while the box is up.
    connect(&session, &ModuleSession::moduleStatus, this,
            [this](quint8, const QString& text, bool accepted) {
                if (session_->quietWrite())
                    return; // the production station shows the outcome itself
                dialogs_.notify(text, QStringLiteral("提示"),
                                accepted ? UserDialogs::Icon::Information
                                         : UserDialogs::Icon::Exclamation);
            });
    connect(&session, &ModuleSession::userMessage, this, [this](const QString& text) {
        dialogs_.notify(text, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    });
    connect(&parser, &ReplyParser::portStateFileFailed, this, [this](const QString& reason) {
        dialogs_.notify(QStringLiteral("无法保存开关量端口状态文件 portstate.dat:%1。\n"
                                       "开关量端口设置窗口将无法显示端口状态。")
                            .arg(reason),
                        QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    });
    connect(&MSComm1(), &CommControl::overrun, this, [this](qint64 dropped) {
        dialogs_.notify(QStringLiteral("接收缓冲区已满,已丢弃收到的 %1 字节数据。\n"
                                       "程序处理不及时或对方发送过快。")
                            .arg(dropped),
                        QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    });
    connect(&session, &ModuleSession::readStarted, this, [this] { ShowPrompt(1); });
    connect(&session, &ModuleSession::noAnswer, this, [this] {
        if (session_->ownProbe())
            return; // the production station's probe: it says itself what it found
        ShowPrompt(4);
        link().SetModuleCommandsEnabled(false);
        intset = intfile = intnet = inttool = 1;
    });
    connect(&session, &ModuleSession::readProgress, this,
            [this](int value) { window<PromptWindow>()->ProgressBar1->setValue(value); });
    connect(&session, &ModuleSession::readFinished, this, [this](bool refresh) {
        if (refresh && !session_->stationRunning())
            emit moduleRefreshFinished();
        else
            ShowPrompt(2);
        link().SetModuleCommandsEnabled(true);
        link().SetLinkCommandsEnabled(true);
    });
    // The prompt's second ran out: the poll has started; the prompt closes.
    connect(&session, &ModuleSession::promptCloseDue, this, [this] {
        if (PromptWindow* prompt = loaded<PromptWindow>())
            prompt->dismiss();
    });
    connect(&session, &ModuleSession::pollFinished, this, [this](bool refresh) {
        if (refresh && !session_->stationRunning())
            emit portRefreshFinished();
    });
    // A refresh cut off by a lost line or a reopening ends as one that finished: its
    // window takes its button back and shows what it holds.
    connect(&session, &ModuleSession::readCutOff, this, [this](bool refresh) {
        if (refresh)
            emit moduleRefreshFinished();
    });
    connect(&session, &ModuleSession::pollCutOff, this, [this](bool refresh) {
        if (refresh)
            emit portRefreshFinished();
    });
    connect(&session, &ModuleSession::lineLost, this, &AppContext::reportLostPort,
            Qt::QueuedConnection);
}

void AppContext::setCaptureOpen(bool open) {
    session_->setCaptureOpen(open);
}

void AppContext::showFileCapture() {
    // A window that has closed waits to be deleted; the user gets a fresh one.
    if (FileReceiveWindow* old = loaded<FileReceiveWindow>(); old && old->isHidden())
        delete old;
    FileReceiveWindow* capture = window<FileReceiveWindow>();
    capture->show();
    capture->raise();
    capture->activateWindow();
}

void AppContext::ShowPrompt(qint16 mode) {
    window<PromptWindow>()->prepare(mode);
}

void AppContext::ShowRepeatPrompt(int count, const QString& interval) {
    PromptWindow* prompt = window<PromptWindow>();
    connect(prompt, &PromptWindow::stopRequested, this, &AppContext::repeatSendStopRequested,
            Qt::UniqueConnection);
    prompt->txtime = count;
    prompt->timerinterval = interval;
    if (prompt->mode() == 3 && prompt->isVisible()) {
        prompt->Label3->setText(QString::number(count));
        prompt->Label5->setText(interval);
    } else {
        // First use, or the prompt served another use meanwhile: the count and its
        // "停止" come back.
        prompt->prepare(3);
    }
}

void AppContext::CloseRepeatPrompt() {
    if (PromptWindow* prompt = loaded<PromptWindow>(); prompt && prompt->mode() == 3)
        prompt->Command2_Click();
}

Father* AppContext::startup() {
    if (!father_) {
        father_ = new Father(*this);
        dialogs_.setParentWidget(father_);
        father_->MDIForm_Initialize();
    }
    return father_;
}

ShowData* AppContext::showdata() {
    if (!showdata_) {
        showdata_ = new ShowData(link());
        showdata_->closingDown = closingDown;
        showdata_->Form_Load();
        if (father_)
            father_->addChildWindow(showdata_)->show();
    }
    return showdata_;
}

void AppContext::reportLostPort(const QString& detail) {
    // The link is idle already (it resets itself on the loss). The prompt of a read
    // that was cut off would wait for ever, or start a poll on the closed port.
    if (PromptWindow* prompt = loaded<PromptWindow>();
        prompt && (prompt->mode() == 1 || prompt->mode() == 2))
        prompt->dismiss();
    link().SetModuleCommandsEnabled(false);
    link().SetLinkCommandsEnabled(false);
    if (father_)
        father_->setPortPanel(QStringLiteral("打开串口时出错"));
    dialogs_.notify(
        LostPortMessage(MSComm1().CommPort(), portMap_.deviceFor(MSComm1().CommPort()), detail),
        QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
}

QString LostPortMessage(int port, const QString& device, const QString& detail) {
    const QString name = QStringLiteral("COM%1").arg(port);
    QString where = name;
    if (!device.isEmpty() && device.compare(name, Qt::CaseInsensitive) != 0)
        where += QStringLiteral("(%1)").arg(device);
    const QString what = detail.isEmpty() ? QStringLiteral("设备已被拔出或关闭")
                                          : QStringLiteral("读写串口时出错:%1").arg(detail);
    return QStringLiteral("串口%1的连接已断开,%2。\n请检查设备,然后在\"串口设置\"中重新打开串口。")
        .arg(where, what);
}

Father* AppContext::father() const {
    return father_.data();
}

QWidget* AppContext::mainWidget() const {
    return father_.data();
}

void AppContext::open(bool isOpen, QWidget* existing, QWidget* (*make)(AppContext&)) {
    if (isOpen && existing)
        bringToFront(existing);
    else
        showChild(make(*this));
}

void AppContext::showChild(QWidget* window) {
    if (father_) {
        QMdiSubWindow* sub = father_->addChildWindow(window);
        sub->show();
        // Keep a new window's top-left part inside the area, so its title bar and
        // buttons are not placed out of reach.
        const QSize area = father_->mdiArea()->viewport()->size();
        sub->move(std::clamp(sub->x(), 0, std::max(0, area.width() - sub->width())),
                  std::clamp(sub->y(), 0, std::max(0, area.height() - sub->height())));
        activate(sub);
    } else {
        window->show();
    }
}

void AppContext::activate(QMdiSubWindow* sub) {
    father_->mdiArea()->setActiveSubWindow(sub);
    sub->raise();
    // A menu that closes after its command hands the focus back to the window that
    // had it, which would bring that window back on top: activate again once the
    // menu has gone.
    QTimer::singleShot(0, sub, [this, sub] {
        if (father_) {
            father_->mdiArea()->setActiveSubWindow(sub);
            sub->raise();
        }
    });
}

void AppContext::bringToFront(QWidget* window) {
    if (father_) {
        QMdiSubWindow* sub = father_->addChildWindow(window);
        // A window that has hidden itself while it works (the data-string sender during
        // a continuous send) stays out of sight: it shows itself again when it is done.
        if (sub->isHidden())
            return;
        sub->showNormal();
        activate(sub);
    } else {
        window->raise();
        window->activateWindow();
    }
}
