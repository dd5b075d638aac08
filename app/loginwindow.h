#pragma once

#include <QDialog>

class AppContext;
class QLineEdit;
class QPushButton;

// "登录": the service password that switches on every command, whatever the state of the
// module and the port.
class LoginWindow : public QDialog {
    Q_OBJECT
  public:
    LoginWindow(AppContext& ctx, QWidget* parent);

    void cmdOK_Click();
    void cmdCancel_Click();

    QLineEdit* txtUserName;
    QLineEdit* txtPassword;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    AppContext& ctx_;
};
