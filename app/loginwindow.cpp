#include "app/loginwindow.h"

#include "app/appcontext.h"
#include "app/father.h"
#include "ui/statuspanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QShowEvent>

namespace {
// The password shows a "*" for every character, whatever the platform's own mask is.
class StarMaskStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
} // namespace

LoginWindow::LoginWindow(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), ctx_(ctx) {
    setObjectName(QStringLiteral("frmLogin"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("登录"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    setFixedSize(twips(3750) + 40, twips(1545) + 40);

    auto* userLabel = new QLabel(QStringLiteral("用户名称(&U):"), this);
    txtUserName = new QLineEdit(QStringLiteral("凯沃用户"), this);
    auto* passwordLabel = new QLabel(QStringLiteral("密码(&P):"), this);
    txtPassword = new QLineEdit(QStringLiteral("******"), this);
    auto* mask = new StarMaskStyle;
    mask->setParent(txtPassword);
    txtPassword->setStyle(mask);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    userLabel->setBuddy(txtUserName);
    passwordLabel->setBuddy(txtPassword);
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(txtUserName, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(txtPassword, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);

    connect(cmdOK, &QPushButton::clicked, this, &LoginWindow::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &LoginWindow::cmdCancel_Click);
}

void LoginWindow::cmdOK_Click() {
    const QString password = txtPassword->text();
    if (password == QLatin1String("KV37") || password == QLatin1String("kv37")) {
        ctx_.dialogs().message(QStringLiteral("密码正确，登录成功!"), QStringLiteral("登录"),
                               UserDialogs::Icon::Information);
        ctx_.link().SetModuleCommandsEnabled(true);
        ctx_.link().SetLinkCommandsEnabled(true);
        close();
        return;
    }
    ctx_.dialogs().message(QStringLiteral("无效的密码，请重试!"), QStringLiteral("登录"),
                           UserDialogs::Icon::Exclamation);
    txtPassword->setFocus();
    txtPassword->selectAll(); // the next typing replaces it
}

void LoginWindow::cmdCancel_Click() {
    close();
}

void LoginWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // In the middle of the screen the main window is on, not over the main window.
    const QScreen* on = parentWidget() ? parentWidget()->screen() : screen();
    QRect frame = frameGeometry();
    frame.moveCenter(on->availableGeometry().center());
    move(frame.topLeft());
}

void LoginWindow::keyPressEvent(QKeyEvent* event) {
    // While the login is up the main window takes no keys, so F1 is answered here.
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        if (Father* father = ctx_.father())
            father->showHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}
