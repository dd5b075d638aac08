#pragma once

#include <QWidget>

class AppContext;

class GateWindow : public QWidget {
    Q_OBJECT
  public:
    explicit GateWindow(AppContext& ctx);
    ~GateWindow() override;

    void Form_Load();

  private:
    AppContext& ctx_;
};
