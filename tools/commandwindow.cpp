#include "tools/commandwindow.h"

#include "app/appcontext.h"
#include "link/modulesession.h"
#include "tools/hexpairs.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
QFont songti(int points) {
    QFont font(QStringLiteral("SimSun"), points);
    font.setFamilies(
        {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Zen Hei")});
    return font;
}
} // namespace

CommandWindow::CommandWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("command"));
    setWindowTitle(QStringLiteral("命令方式"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    setFont(songti(12));

    Label1 = new QLabel(QStringLiteral("命令输入区"), this);
    Label1->setStyleSheet(QStringLiteral("color: rgb(128,0,0);"));
    Text1 = new QPlainTextEdit(this);
    Text1->setFont(songti(15));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Command1 = new QPushButton(QStringLiteral("清除"), this);
    Command2 = new QPushButton(QStringLiteral("发送"), this);
    Label2 = new QLabel(QStringLiteral("命令接收区"), this);
    Label2->setStyleSheet(QStringLiteral("color: rgb(0,128,0);"));
    Text2 = new QPlainTextEdit(this);
    Text2->setFont(songti(15));
    Text2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setReadOnly(true); // only the reply log and the clear actions change it
    Command3 = new QPushButton(QStringLiteral("清除"), this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 1, 0, 2, 1);
    grid->addWidget(Command1, 1, 1, Qt::AlignTop);
    grid->addWidget(Command2, 2, 1, Qt::AlignTop);
    grid->addWidget(Label2, 3, 0);
    grid->addWidget(Text2, 4, 0);
    grid->addWidget(Command3, 4, 1, Qt::AlignTop);
    // The input holds a frame or two; the log gets the rest of the window.
    grid->setRowStretch(1, 0);
    grid->setRowStretch(4, 1);
    Text1->setFixedHeight(QFontMetrics(Text1->font()).lineSpacing() * 3 + 12);

    // Every key typed into any control reaches the window's own handler first.
    for (QWidget* w : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text2),
                       static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2),
                       static_cast<QWidget*>(Command3)})
        w->installEventFilter(this);
    Label1->installEventFilter(this);
    Label2->installEventFilter(this);

    Timer1.setInterval(50);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        Timer1.stop();
        ctx_.link().CommandBusy = false;
    });
    connect(Command1, &QPushButton::clicked, Text1, &QPlainTextEdit::clear);
    connect(Command2, &QPushButton::clicked, this, &CommandWindow::Send);
    connect(Command3, &QPushButton::clicked, Text2, &QPlainTextEdit::clear);
    connect(Text1, &QPlainTextEdit::textChanged, this,
            [this] { Command2->setEnabled(!Text1->toPlainText().isEmpty()); });
}

CommandWindow::~CommandWindow() {
    // A window closed within 50 ms of a send takes its timer with it: the busy flag
    // must not outlive it, or no module answer would start a read again.
    if (Timer1.isActive())
        ctx_.link().CommandBusy = false;
    meshow = false;
    ctx_.windowOpen.commandWindowOpen = false;
}

void CommandWindow::Form_Load() {
    resize(twips(4980), twips(4470));
    Text1->clear();
    Text2->clear();
    meshow = true;
    Command2->setEnabled(false);
    ctx_.windowOpen.commandWindowOpen = true;
}

void CommandWindow::Send() {
    const QByteArray frame = HexTextToBytes(Text1->toPlainText());
    if (frame.isEmpty())
        return; // no complete pair: nothing to send
    if (!ctx_.session().PortOpenForUser())
        return;
    ctx_.session().SendFrame(frame);
    Timer1.start();
    ctx_.link().CommandBusy = true;
}

void CommandWindow::Form_KeyPress(int key) {
    if (key == 13)
        Send();
    else
        FilterHexPairKey(key, Text1);
}

void CommandWindow::insertReply(const QString& line) {
    Text2->textCursor().insertText(line);
    Text2->ensureCursorVisible();
}

bool CommandWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == Label1)
            Text1->clear();
        else if (watched == Label2)
            Text2->clear();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (watched == Text2) {
        // The receive area takes no keys; Enter still sends and hex digits still go
        // to the input box. Navigation keys (no text) may move through the log.
        if (!text.isEmpty())
            Form_KeyPress(text.at(0).unicode());
        return !text.isEmpty();
    }
    if (text.isEmpty())
        return false;
    const int code = text.at(0).unicode();
    if (code == 13) {
        Send();
        return true;
    }
    const int passed = FilterHexPairKey(code, Text1);
    if (passed == 0)
        return true;
    // A key the filter lets through (Backspace, wide characters) edits the input box.
    if (watched != Text1) {
        QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text());
        QCoreApplication::sendEvent(Text1, &copy);
        return true;
    }
    return false;
}

void CommandWindow::closeEvent(QCloseEvent* event) {
    meshow = false;
    ctx_.windowOpen.commandWindowOpen = false;
    event->accept();
}
