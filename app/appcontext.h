#pragma once

#include "app/settingsstore.h"
#include "app/userdialogs.h"
#include "config/moduleparameters.h"
#include "link/serialbackend.h"
#include "serial/portmap.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QStringList>

class Father;
class ShowData;
class CommControl;
class PromptWindow;
class CommandWindow;
class ModuleWindow;
class GateWindow;
class DebugWindow;
class ComWindow;
class AboutWindow;
class QMdiSubWindow;

// One flag per window that may be open only once.
struct WindowOpenFlags {
    bool aboutWindowOpen = false;
    bool comWindowOpen = false;
    bool commandWindowOpen = false;
    bool debugWindowOpen = false;
    bool portWindowOpen = false;
    bool moduleWindowOpen = false;
    bool stringWindowOpen = false;
};

// The application context: the state every window shares, the settings store, the
// serial object (through the receive window that owns it) and the windows themselves,
// each created on first use. A test builds a fresh context; nothing here is global.
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

    // Creates the main window and runs its start-up.
    Father* startup();
    Father* father() const;
    // The receive window; created (with the serial object) on first use.
    ShowData* showdata();
    CommControl& MSComm1();
    // The prompt window `dialog`; created on first use, gone once closed.
    PromptWindow* dialog();
    PromptWindow* dialogIfLoaded() const;
    // The command window; created on first use, gone once closed.
    CommandWindow* command();
    CommandWindow* commandIfLoaded() const;

    // The module settings, switch-port and debug windows; created (and loaded) on
    // first use, gone once closed.
    ModuleWindow* module();
    ModuleWindow* moduleIfLoaded() const;
    GateWindow* gate();
    GateWindow* gateIfLoaded() const;
    DebugWindow* debugwd();
    DebugWindow* debugwdIfLoaded() const;
    ComWindow* com();
    ComWindow* comIfLoaded() const;
    AboutWindow* about();
    AboutWindow* aboutIfLoaded() const;

    // The working windows that open inside the main window, at most once each.
    enum class Child { about, com, command, debugwd, gate, module };
    // Brings the window to the front when its open flag is set; otherwise shows it,
    // creating it when needed.
    void openOrFront(Child child);
    // Shows a working window inside the main window and makes it the active one.
    void showChild(QWidget* window);
    void bringToFront(QWidget* window);
    // True while the program closes its windows at the end of the run.
    bool closingDown = false;

    // Tool choices under the toolbar's drop-down buttons.
    qint16 intset = 1;
    qint16 intfile = 1;
    qint16 intnet = 1;
    qint16 inttool = 1;
    WindowOpenFlags windowOpen;
    qint32 CurrentRate = 0;
    QStringList SerialPortNames;

    // Link state.
    bool ModuleAnswered = false;
    bool ShowAsText = false;
    bool EchoKeys = true;
    bool LinkDtr = true;
    bool moduleRefreshPending = false;
    bool portRefreshPending = false;
    bool CaptureOpen = false;
    qint32 CaptureCount = 0;
    qint32 CaptureLength = 0;
    bool CommandBusy = false;

    // Reply parser state.
    qint16 ReplyState = 0;
    QByteArray ReplyBytes;
    QString ReplyPrefix;
    bool CrcToggle = false;
    QByteArray PortStateTable = QByteArray(24, '\0');
    qint16 PortQueryIndex = 0;
    bool portStateWriteReported = false;

    ModuleParameters params;

  signals:
    // A read cycle started from the module window's refresh has ended.
    void moduleRefreshFinished();
    // A switch-port poll started from the switch-port window's refresh has ended.
    void portRefreshFinished();

  private:
    void reportLostPort(const QString& description);
    void activate(QMdiSubWindow* sub);

    UserDialogs& dialogs_;
    Options options_;
    SettingsStore store_;
    PortMap portMap_;
    QPointer<Father> father_;
    QPointer<ShowData> showdata_;
    QPointer<PromptWindow> dialog_;
    QPointer<CommandWindow> command_;
    QPointer<ModuleWindow> module_;
    QPointer<GateWindow> gate_;
    QPointer<DebugWindow> debugwd_;
    QPointer<ComWindow> com_;
    QPointer<AboutWindow> about_;
};
