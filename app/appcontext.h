#pragma once

#include "app/settingsstore.h"
#include "app/userdialogs.h"
#include "app/windowflags.h"
#include "link/modulesession.h"
#include "protocol/moduleparameters.h"
#include "serial/portmap.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class Father;
class ShowData;
class QMdiSubWindow;

// The application context: the link, the settings store, the state the windows share and
// the windows themselves, each created on first use. It wires the link's signals to the
// windows that show them. A test builds a fresh context; nothing here is global.
class AppContext : public QObject {
    Q_OBJECT
  public:
    struct Options {
        // Makes the line behind a device path; defaults to real serial ports.
        SerialBackendFactory backendFactory;
        // Lists the devices present; defaults to the system's serial ports.
        PortMap::Enumerator portEnumerator;
    };

    AppContext(UserDialogs& dialogs, Options options);
    explicit AppContext(UserDialogs& dialogs);
    ~AppContext() override;

    SettingsStore& store() { return store_; }
    UserDialogs& dialogs() { return dialogs_; }
    PortMap& portMap() { return portMap_; }
    // The module on the serial link: the link, its sequences and the send service.
    ModuleSession& session() { return *session_; }
    Link& link() { return session_->link(); }
    CommControl& MSComm1() { return session_->comm(); }
    // The file-capture receive path over MSComm1.
    CapturePath& capture() { return session_->capture(); }

    // Creates the main window and runs its start-up.
    Father* startup();
    Father* father() const;
    // The main window as a plain widget, for windows that only need a parent.
    QWidget* mainWidget() const;
    // The receive window; created on first use, lives until the program ends.
    ShowData* showdata();

    // Every other window, created (and loaded) on first use and again after it closed.
    template <typename Window> Window* window();
    // The window when it exists, else nullptr.
    template <typename Window> Window* loaded() const;
    // Brings the window to the front when its open flag is set; otherwise shows it
    // inside the main window, creating it when needed.
    template <typename Window> void openOrFront();

    // Shows a working window inside the main window and makes it the active one.
    void showChild(QWidget* window);
    // A window hidden by its own doing is left hidden.
    void bringToFront(QWidget* window);
    // Prepares the prompt window for one of its uses and shows it (not modal):
    // 1 read running, 2 read finished, 3 repeat-send progress, 4 module not working.
    void ShowPrompt(qint16 mode);
    // The repeat-send prompt (mode 3) showing the blocks sent and the interval; its
    // "停止" raises repeatSendStopRequested().
    void ShowRepeatPrompt(int count, const QString& interval);
    // Closes the repeat-send prompt as its "停止" does; nothing when it is not shown.
    void CloseRepeatPrompt();
    // True while the program closes its windows at the end of the run.
    bool closingDown = false;
    void setClosingDown();

    // True while the file-capture window captures: the parser then hands every receive
    // pass to capture() instead of reading replies.
    bool CaptureOpen() const { return session_->captureOpen(); }
    // Opening starts from the header (state 0); closing gives the passes back.
    void setCaptureOpen(bool open);
    // Shows the file-capture window, modal and on top (a new one once it has closed).
    void showFileCapture();

    // Tool choices under the toolbar's drop-down buttons.
    qint16 intset = 1;
    qint16 intfile = 1;
    qint16 intnet = 1;
    qint16 inttool = 1;
    WindowOpenFlags windowOpen;
    qint32 CurrentRate = 0;
    QStringList SerialPortNames;

  signals:
    // A read cycle started from the module window's refresh has ended.
    void moduleRefreshFinished();
    // A switch-port poll started from the switch-port window's refresh has ended.
    void portRefreshFinished();
    // "停止" was pressed on the repeat-send prompt.
    void repeatSendStopRequested();

  private:
    void wireLink();
    void reportLostPort(const QString& detail);
    void activate(QMdiSubWindow* sub);
    void open(bool isOpen, QWidget* existing, QWidget* (*make)(AppContext&));

    UserDialogs& dialogs_;
    Options options_;
    SettingsStore store_;
    StoredPortTable portTable_;
    PortMap portMap_;
    std::unique_ptr<ModuleSession> session_;
    QPointer<Father> father_;
    QPointer<ShowData> showdata_;
    QHash<const QMetaObject*, QPointer<QWidget>> windows_;

  public:
    // The module's settings as last read (the session's record).
    ModuleParameters& params;
};

// What the user is told when the open port goes away: the port (and its device, where
// that is not the port's own name) and what happened; `detail` is the system's
// explanation of a read or write failure, empty when the device simply went away.
QString LostPortMessage(int port, const QString& device, const QString& detail);

template <typename Window> Window* AppContext::window() {
    QPointer<QWidget>& slot = windows_[&Window::staticMetaObject];
    if (!slot) {
        auto* created = new Window(*this);
        slot = created;
        if constexpr (requires { created->Form_Load(); })
            created->Form_Load();
    }
    return static_cast<Window*>(slot.data());
}

template <typename Window> Window* AppContext::loaded() const {
    return static_cast<Window*>(windows_.value(&Window::staticMetaObject).data());
}

template <typename Window> void AppContext::openOrFront() {
    open(windowOpen.*(Window::openFlag), loaded<Window>(),
         [](AppContext& ctx) -> QWidget* { return ctx.window<Window>(); });
}
