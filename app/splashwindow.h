#pragma once

#include <QTimer>
#include <QWidget>

class AppContext;

// The splash: the maker's picture for one second, then the main window.
class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    explicit SplashWindow(AppContext& ctx);

    void Form_Load();
    void Timer1_Timer();
    QTimer Timer1;

  private:
    AppContext& ctx_;
};
