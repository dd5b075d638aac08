#include "app/splashwindow.h"

#include "app/appcontext.h"
#include "app/father.h"
#include "ui/statuspanel.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

SplashWindow::SplashWindow(AppContext& ctx)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint), ctx_(ctx) {
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(7320), twips(4860));
    auto* image1 = new QLabel(this);
    image1->setPixmap(QPixmap(QStringLiteral(":/icons/splash.png")));
    image1->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(image1);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Timer1.setInterval(1000);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &SplashWindow::Timer1_Timer);
}

void SplashWindow::Form_Load() {
    Timer1.start();
}

void SplashWindow::Timer1_Timer() {
    Timer1.stop();
    close();
    ctx_.startup()->show();
}
