#include "app/appcontext.h"

#include "app/aboutwindow.h"
#include "app/father.h"
#include "config/debugwindow.h"
#include "config/gatewindow.h"
#include "config/modulewindow.h"
#include "config/promptwindow.h"
#include "link/commcontrol.h"
#include "link/qserialbackend.h"
#include "link/showdata.h"
#include "serial/comwindow.h"
#include "tools/commandwindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

namespace {
// A working window is created and loaded on first use, and again after it was closed.
template <typename Window> Window* loadOnce(AppContext& ctx, QPointer<Window>& slot) {
    if (!slot) {
        slot = new Window(ctx);
        slot->Form_Load();
    }
    return slot;
}
} // namespace

AppContext::AppContext(UserDialogs& dialogs, Options options)
    : dialogs_(dialogs), options_(std::move(options)), portMap_(store_, options_.portEnumerator) {
    if (!options_.backendFactory)
        options_.backendFactory = &QSerialBackend::create;
}

AppContext::AppContext(UserDialogs& dialogs) : AppContext(dialogs, Options{}) {}

AppContext::~AppContext() {
    closingDown = true;
    delete dialog_.data();
    delete father_.data();
    delete showdata_.data();
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
        auto resolver = [this](int port) { return portMap_.deviceFor(port); };
        showdata_ = new ShowData(*this, resolver, options_.backendFactory);
        connect(&showdata_->MSComm1, &CommControl::portLost, this, &AppContext::reportLostPort,
                Qt::QueuedConnection);
        showdata_->Form_Load();
        if (father_)
            father_->addChildWindow(showdata_)->show();
    }
    return showdata_;
}

CommControl& AppContext::MSComm1() {
    return showdata()->MSComm1;
}

void AppContext::reportLostPort(const QString& description) {
    if (father_)
        father_->setPortPanel(QStringLiteral("打开串口时出错"));
    dialogs_.message(QStringLiteral("串口连接已断开(%1),请检查设备后在\"串口设置\"中重新打开串口。")
                         .arg(description),
                     QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
}

Father* AppContext::father() const {
    return father_.data();
}

PromptWindow* AppContext::dialog() {
    if (!dialog_)
        dialog_ = new PromptWindow(*this, father_);
    return dialog_;
}

PromptWindow* AppContext::dialogIfLoaded() const {
    return dialog_.data();
}

CommandWindow* AppContext::command() {
    return loadOnce(*this, command_);
}

CommandWindow* AppContext::commandIfLoaded() const {
    return command_.data();
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

ModuleWindow* AppContext::module() {
    return loadOnce(*this, module_);
}

ModuleWindow* AppContext::moduleIfLoaded() const {
    return module_.data();
}

GateWindow* AppContext::gate() {
    return loadOnce(*this, gate_);
}

GateWindow* AppContext::gateIfLoaded() const {
    return gate_.data();
}

DebugWindow* AppContext::debugwd() {
    return loadOnce(*this, debugwd_);
}

DebugWindow* AppContext::debugwdIfLoaded() const {
    return debugwd_.data();
}

void AppContext::openOrFront(Child child) {
    const auto run = [this](bool open, auto* loaded, auto make) {
        if (open && loaded)
            bringToFront(loaded);
        else
            showChild(make());
    };
    switch (child) {
    case Child::about:
        run(windowOpen.aboutWindowOpen, aboutIfLoaded(), [this] { return about(); });
        break;
    case Child::com:
        run(windowOpen.comWindowOpen, comIfLoaded(), [this] { return com(); });
        break;
    case Child::command:
        run(windowOpen.commandWindowOpen, commandIfLoaded(), [this] { return command(); });
        break;
    case Child::debugwd:
        run(windowOpen.debugWindowOpen, debugwdIfLoaded(), [this] { return debugwd(); });
        break;
    case Child::gate:
        run(windowOpen.portWindowOpen, gateIfLoaded(), [this] { return gate(); });
        break;
    case Child::module:
        run(windowOpen.moduleWindowOpen, moduleIfLoaded(), [this] { return module(); });
        break;
    }
}

ComWindow* AppContext::com() {
    return loadOnce(*this, com_);
}

ComWindow* AppContext::comIfLoaded() const {
    return com_.data();
}

AboutWindow* AppContext::about() {
    return loadOnce(*this, about_);
}

AboutWindow* AppContext::aboutIfLoaded() const {
    return about_.data();
}
