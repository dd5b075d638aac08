#include "app/appcontext.h"

#include "app/father.h"
#include "config/promptwindow.h"
#include "link/qserialbackend.h"
#include "link/showdata.h"
#include "tools/commandwindow.h"
#include "tools/filereceivewindow.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QSize>
#include <QTimer>
#include <QWidget>

AppContext::AppContext(UserDialogs& dialogs, Options options)
    : dialogs_(dialogs), options_(std::move(options)), portTable_(store_),
      portMap_(portTable_, options_.portEnumerator) {
    if (!options_.backendFactory)
        options_.backendFactory = &QSerialBackend::create;
    auto resolver = [this](int port) { return portMap_.deviceFor(port); };
    link_ = std::make_unique<Link>(resolver, options_.backendFactory);
    wireLink();
    capture_ = std::make_unique<CapturePath>(link_->MSComm1);
    // What followed a rejected header is shown as ordinary received data.
    connect(capture_.get(), &CapturePath::leftover, this,
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
    ReplyParser& parser = link_->parser;
    ReadCycle& cycle = link_->cycle;
    connect(&parser, &ReplyParser::logLine, this, [this](const QString& line) {
        if (CommandWindow* window = loaded<CommandWindow>(); window && window->meshow)
            window->insertReply(line + QStringLiteral("\r\n"));
    });
    connect(&parser, &ReplyParser::parameterReply, this,
            [this](quint8 code, const QByteArray& payload) { params.storeReply(code, payload); });
    connect(&parser, &ReplyParser::statusMessage, this,
            [this](const QString& text, bool information) {
                dialogs_.message(text, QStringLiteral("提示"),
                                 information ? UserDialogs::Icon::Information
                                             : UserDialogs::Icon::Exclamation);
            });
    connect(&parser, &ReplyParser::portStateFileFailed, this, [this](const QString& reason) {
        dialogs_.message(QStringLiteral("无法保存开关量端口状态文件 portstate.dat:%1。\n"
                                        "开关量端口设置窗口将无法显示端口状态。")
                             .arg(reason),
                         QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    });
    connect(&parser, &ReplyParser::moduleAnswered, this, [this] {
        if (link_->CommandBusy)
            return; // the command window's own probe: its answer is only logged
        ShowPrompt(1);
        link_->cycle.startRead();
    });

    connect(&cycle, &ReadCycle::probeTimedOut, this, [this] {
        ShowPrompt(4);
        link_->SetModuleCommandsEnabled(false);
        intset = intfile = intnet = inttool = 1;
    });
    connect(&cycle, &ReadCycle::readProgress, this,
            [this](int value) { window<PromptWindow>()->ProgressBar1->setValue(value); });
    connect(&cycle, &ReadCycle::readFinished, this, [this](bool refresh) {
        params.markMissing();
        if (refresh)
            emit moduleRefreshFinished();
        else
            ShowPrompt(2);
        link_->SetModuleCommandsEnabled(true);
        link_->SetLinkCommandsEnabled(true);
    });
    connect(&cycle, &ReadCycle::promptCloseDue, this, [this] {
        if (PromptWindow* prompt = loaded<PromptWindow>())
            prompt->Command1_Click();
        else
            link_->cycle.startPortPoll(); // the prompt was closed already: the poll follows
    });
    connect(&cycle, &ReadCycle::portPollFinished, this, [this](bool refresh) {
        if (refresh)
            emit portRefreshFinished();
    });
    // A refresh cut off by a lost line or a reopening ends as one that finished: its
    // window takes its button back and shows what it holds.
    connect(&cycle, &ReadCycle::readCutOff, this, [this](bool refresh) {
        if (refresh)
            emit moduleRefreshFinished();
    });
    connect(&cycle, &ReadCycle::portPollCutOff, this, [this](bool refresh) {
        if (refresh)
            emit portRefreshFinished();
    });
    connect(&link_->MSComm1, &CommControl::portLost, this, &AppContext::reportLostPort,
            Qt::QueuedConnection);
}

void AppContext::setCaptureOpen(bool open) {
    captureOpen_ = open;
    capture_->reset();
    link_->parser.setReceiveRoute(open ? capture_.get() : nullptr);
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
        showdata_ = new ShowData(*link_);
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
    link_->SetModuleCommandsEnabled(false);
    link_->SetLinkCommandsEnabled(false);
    if (father_)
        father_->setPortPanel(QStringLiteral("打开串口时出错"));
    dialogs_.message(LostPortMessage(link_->MSComm1.CommPort(),
                                     portMap_.deviceFor(link_->MSComm1.CommPort()), detail),
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
        sub->showNormal();
        activate(sub);
    } else {
        window->raise();
        window->activateWindow();
    }
}
