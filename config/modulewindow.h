#pragma once

#include <QWidget>

class AppContext;

class ModuleWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ModuleWindow(AppContext& ctx);
    ~ModuleWindow() override;

    void Form_Load();

  private:
    AppContext& ctx_;
};
