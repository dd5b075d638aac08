#pragma once

#include <QWidget>

class AppContext;

class DebugWindow : public QWidget {
    Q_OBJECT
  public:
    explicit DebugWindow(AppContext& ctx);
    ~DebugWindow() override;

    void Form_Load();

  private:
    AppContext& ctx_;
};
