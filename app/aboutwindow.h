#pragma once

#include "app/windowflags.h"

#include <QWidget>

class AppContext;
class QLabel;
class QPushButton;

// The About box: the program's title and version. Double-clicking its icon opens the
// login window.
class AboutWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr bool WindowOpenFlags::*openFlag = &WindowOpenFlags::aboutWindowOpen;
    explicit AboutWindow(AppContext& ctx);
    ~AboutWindow() override;

    void Form_Load();
    void picIcon_DblClick();

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QPushButton* cmdOK;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    AppContext& ctx_;
};
