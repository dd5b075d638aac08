#pragma once

#include "app/helpfile.h"

#include <QDate>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>

class AppContext;
class QMdiArea;
class QMdiSubWindow;
class QToolButton;
class QMenu;
class StatusPanel;

// The main window: menu bar, toolbar, status bar and the area the working windows open in.
class Father : public QMainWindow {
    Q_OBJECT
  public:
    explicit Father(AppContext& ctx);
    ~Father() override;

    // Start-up and shutdown.
    void MDIForm_Initialize();
    void MDIForm_QueryUnload();
    void MDIForm_Unload();

    // Puts a working window into the main window's area (once).
    QMdiSubWindow* addChildWindow(QWidget* window);
    QMdiArea* mdiArea() const { return mdi_; }

    // Toolbar buttons by their number 1..17 (spacers give nullptr).
    QToolButton* toolButton(int number) const;
    // A drop-down item by its key ("key11" ...).
    QAction* buttonMenuItem(const QString& key) const;
    void setStartupTooltips();

    StatusPanel* panel(int number) const { return panels_.at(number - 1); }
    void setPortPanel(const QString& text);

    // Commands of the toolbar and the menus.
    void Toolbar1_ButtonClick(int number);
    void Toolbar1_ButtonMenuClick(const QString& key);
    // Applies a parity suffix (",E,8,1" ...) to the open port without reopening it.
    void setbaud(const QString& suffix);
    void menuwindowsa_Click();
    // Opens the help file "kaivo.chm" beside the program, else the user guide (F1
    // anywhere); says the help file is missing when neither is there.
    void showHelp();
    // Where help is looked for; filled with the program's places at the first F1 when
    // empty. Tests set it.
    HelpPlaces helpPlaces;
    // Opens a document with the platform's handler; tests replace it.
    std::function<bool(const QString& path)> openDocument;
    void Timer1_Timer();
    QTimer Timer1;

    // Menu controls.
    QMenu* menuset = nullptr;
    QAction* menusetport = nullptr;
    QAction* menusetmodule = nullptr;
    QAction* menusetgate = nullptr;
    QMenu* menudata = nullptr;
    QMenu* menudatafile = nullptr;
    QAction* filetx = nullptr;
    QAction* filerx = nullptr;
    QAction* menudatacode = nullptr;
    QAction* menudatalinktest = nullptr;
    QMenu* menunet = nullptr;
    QAction* menunetcycle = nullptr;
    QAction* menunetinvite = nullptr;
    QMenu* menutool = nullptr;
    QAction* menutoolcommand = nullptr;
    QAction* menutooldebug = nullptr;
    QAction* menutoolproduction = nullptr;
    QAction* menutoolrecords = nullptr;
    QMenu* jiao = nullptr;
    QAction* n8 = nullptr;
    QAction* e81 = nullptr;
    QAction* o81 = nullptr;
    QAction* s81 = nullptr;
    QAction* m81 = nullptr;
    QMenu* menuwindow = nullptr;
    QAction* menuwindowsh = nullptr;
    QAction* menuwindowsv = nullptr;
    QAction* menuwindowsc = nullptr;
    QAction* menuwindowsa = nullptr;
    QMenu* menuhelp = nullptr;
    QAction* menuhelpcontent = nullptr;
    QAction* menuhelpindex = nullptr;
    QAction* menuhelpsearch = nullptr;
    QAction* menuhelpsupport = nullptr;
    QAction* menuhelpabout = nullptr;

    // The commands that need a working module, and those that need an open port; run
    // whenever the link says its state changed.
    void SetModuleCommandsEnabled(bool on);
    void SetLinkCommandsEnabled(bool on);

    // Enables or disables a menu heading and everything under it (shortcuts included).
    static void setMenuEnabled(QMenu* menu, bool on);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void connectCommands();
    void fillWindowList();

    AppContext& ctx_;
    QMdiArea* mdi_ = nullptr;
    std::array<QToolButton*, 17> buttons_{};
    std::array<StatusPanel*, 4> panels_{};
    QList<QAction*> windowListActions_;
    bool shutDown_ = false;
    QDate shownDate_; // the date panel 3 shows
};

// Date panel text: the short date (with "20" put in front when shorter than ten
// characters), two spaces and the weekday's Chinese name.
QString DatePanelText(const QString& shortDate, const QDate& date);
// Time panel text: "hh:nn:ss", hours 00 to 23.
QString TimePanelText(const QTime& time);
// The platform's short date text for a date (year-month-day where there is none).
QString ShortDateText(const QDate& date);
