#include "config/promptwindow.h"

#include "app/appcontext.h"
#include "link/modulesession.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

PromptWindow::PromptWindow(AppContext& ctx)
    : QWidget(ctx.mainWidget(), Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                                    Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("dialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("提示"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    Image1 = new QLabel(this);
    Image1->setFixedSize(32, 32);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 110);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Command1 = new QPushButton(QStringLiteral("确定"), this);

    Frame1 = new QGroupBox(this);
    auto* grid = new QGridLayout(Frame1);
    grid->addWidget(new QLabel(QStringLiteral("发送次数"), Frame1), 0, 0);
    Label3 = new QLabel(Frame1);
    grid->addWidget(Label3, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("时间间隔"), Frame1), 1, 0);
    Label5 = new QLabel(Frame1);
    grid->addWidget(Label5, 1, 1);
    auto* label6 = new QLabel(QStringLiteral("按停止按钮将停止发送数           据"), Frame1);
    label6->setWordWrap(true);
    grid->addWidget(label6, 2, 0, 1, 2);
    Command2 = new QPushButton(QStringLiteral("停止"), Frame1);
    grid->addWidget(Command2, 3, 0, 1, 2);

    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addWidget(Label1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(ProgressBar1, 1);
    bottom->addStretch();
    bottom->addWidget(Command1);
    bottom->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
    layout->addWidget(Frame1);

    connect(Command1, &QPushButton::clicked, this, &PromptWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &PromptWindow::Command2_Click);
}

void PromptWindow::prepare(qint16 mode) {
    mode_ = mode;
    struct Look {
        const char16_t* text;
        int picture;
    };
    if (mode == 1 || mode == 2 || mode == 4) {
        const Look look = mode == 1 ? Look{u"模块已经开始工作,正在读取模块的参数设置!", 108}
                          : mode == 2 ? Look{u"模块参数读出操作已经完成!", 106}
                                      : Look{u"模块未工作,读取参数设置失败!", 107};
        Label1->setText(QString::fromUtf16(look.text));
        Image1->setPixmap(QPixmap(QStringLiteral(":/icons/%1.png").arg(look.picture)));
        Command1->setVisible(mode != 1);
        ProgressBar1->setVisible(mode == 1);
        Frame1->hide();
        setFixedSize(twips(3480), twips(2310));
    } else if (mode == 3) {
        Label1->hide();
        Image1->hide();
        Command1->hide();
        ProgressBar1->hide();
        Frame1->show();
        Frame1->move(twips(23), 0);
        setFixedSize(twips(2835), twips(3000));
        Label3->setText(QString::number(txtime));
        Label5->setText(timerinterval);
    }
    if (!isVisible() && parentWidget()) // centred over the main window
        move(parentWidget()->geometry().center() - rect().center());
    show();
    raise();
}

void PromptWindow::closeFromButton() {
    closing_ = true;
    close();
}

void PromptWindow::Command1_Click() {
    closeFromButton();
    ctx_.session().promptDone();
}

void PromptWindow::Command2_Click() {
    // Stops a repeated data-string send: the sender stops and gives DTR back.
    emit stopRequested();
    ctx_.MSComm1().releaseDtr(CommControl::DtrUser::DataString);
    closeFromButton();
}

void PromptWindow::closeEvent(QCloseEvent* event) {
    if (closing_ || ctx_.closingDown)
        event->accept();
    else
        event->ignore();
}
