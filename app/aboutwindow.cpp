#include "app/aboutwindow.h"

#include "app/appcontext.h"
#include "app/father.h"
#include "app/loginwindow.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

AboutWindow::AboutWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("关于数传测试"));
    picIcon = new QLabel(this);
    picIcon->setFixedSize(36, 36);
    picIcon->installEventFilter(this);
    lblTitle = new QLabel(QStringLiteral("应用程序标题"), this);
    QFont big = lblTitle->font();
    big.setPointSize(big.pointSize() + 2);
    big.setBold(true);
    lblTitle->setFont(big);
    lblVersion = new QLabel(QStringLiteral("版本"), this);
    // This program's own version (the package's), below the module series' code.
    auto* lblBuild =
        new QLabel(QStringLiteral("t83tool %1").arg(QStringLiteral(T83_VERSION)), this);
    lblBuild->setObjectName(QStringLiteral("lblBuild"));
    auto* line1 = new QFrame(this);
    line1->setFrameShape(QFrame::HLine);
    line1->setStyleSheet(QStringLiteral("color: rgb(128,128,128);"));
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(picIcon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1);
    grid->addWidget(lblVersion, 1, 1);
    grid->addWidget(lblBuild, 2, 1);
    grid->addWidget(line1, 3, 0, 1, 3);
    grid->addWidget(cmdOK, 4, 2);
    grid->setColumnStretch(1, 1);
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);
    // Fixed dialog: its width as designed, tall enough for the fonts in use.
    setFixedSize(twips(5730), std::max(twips(1605), sizeHint().height()));
}

AboutWindow::~AboutWindow() {
    ctx_.windowOpen.aboutWindowOpen = false;
}

void AboutWindow::Form_Load() {
    setWindowTitle(QStringLiteral("T83系列模块设置和通信软件"));
    lblVersion->setText(QStringLiteral("版本号：RL14V0512"));
    lblTitle->setText(windowTitle());
    const QIcon icon(QStringLiteral(":/icons/113.png"));
    picIcon->setPixmap(icon.pixmap(32, 32));
    setWindowIcon(icon);
    ctx_.windowOpen.aboutWindowOpen = true;
}

void AboutWindow::picIcon_DblClick() {
    // Modal, but without a nested event loop: the About box waits behind it.
    auto* login = new LoginWindow(ctx_, ctx_.father());
    login->setWindowModality(Qt::ApplicationModal);
    login->show();
    login->raise();
    login->activateWindow();
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picIcon && event->type() == QEvent::MouseButtonDblClick) {
        picIcon_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    // "确定" is both the default and the cancel button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        cmdOK->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AboutWindow::closeEvent(QCloseEvent* event) {
    ctx_.windowOpen.aboutWindowOpen = false;
    event->accept();
}
