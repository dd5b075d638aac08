#include "tools/strbunchwindow.h"

#include "app/appcontext.h"
#include "link/modulesession.h"
#include "tools/hexpairs.h"
#include "link/pacedsender.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <utility>

namespace {
using DtrUser = CommControl::DtrUser;

// The data box: text pasted or dropped into it goes through the window's filter.
class StringBox : public QPlainTextEdit {
  public:
    explicit StringBox(StrbunchWindow* owner) : QPlainTextEdit(owner), owner_(owner) {}

  protected:
    void insertFromMimeData(const QMimeData* source) override {
        if (source->hasText())
            owner_->insertText(source->text());
    }

  private:
    StrbunchWindow* owner_;
};

// An option button shows only its circle; the label beside it is its caption.
QRadioButton* optionButton(const QString& name, QWidget* parent) {
    auto* option = new QRadioButton(parent);
    option->setObjectName(name);
    option->setFixedWidth(twips(255));
    return option;
}

const QString kNoData = QStringLiteral("请输入数据！");
} // namespace

QString StrbunchWindow::defaultDataText() {
    QString text;
    for (int digit = 0; digit < 15; ++digit)
        for (int i = 0; i < 6; ++i)
            text += QStringLiteral("%1%1:").arg(QChar(QLatin1Char("0123456789ABCDE"[digit])));
    for (int i = 0; i < 5; ++i)
        text += QStringLiteral("FF:");
    return text;
}

StrbunchWindow::StrbunchWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("strbunch"));
    setWindowTitle(QStringLiteral("数据发送"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    Text1 = new StringBox(this);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Double-byte characters cannot be typed; an input method would only compose them.
    Text1->setAttribute(Qt::WA_InputMethodEnabled, false);
    Text1->installEventFilter(this);

    Frame1 = new QGroupBox(QStringLiteral("选项"), this);
    Option1 = optionButton(QStringLiteral("Option1"), Frame1);
    Label1 = new QLabel(QStringLiteral("HEX"), Frame1);
    Option2 = optionButton(QStringLiteral("Option2"), Frame1);
    Label2 = new QLabel(QStringLiteral("字符"), Frame1);
    Frame2 = new QGroupBox(QStringLiteral("数据"), this);
    Option3 = optionButton(QStringLiteral("Option3"), Frame2);
    Label5 = new QLabel(QStringLiteral("默认"), Frame2);
    Option4 = optionButton(QStringLiteral("Option4"), Frame2);
    Label6 = new QLabel(QStringLiteral("自定义"), Frame2);
    const auto frameRow = [](QGroupBox* frame, QWidget* a, QWidget* la, QWidget* b, QWidget* lb) {
        auto* row = new QHBoxLayout(frame);
        for (QWidget* w : {a, la, b, lb})
            row->addWidget(w);
        row->addStretch();
    };
    frameRow(Frame2, Option3, Label5, Option4, Label6);
    frameRow(Frame1, Option1, Label1, Option2, Label2);
    for (QLabel* label : {Label1, Label2, Label5, Label6})
        label->installEventFilter(this);

    Label3 = new QLabel(QStringLiteral("发射间隔"), this);
    Combo1 = new QComboBox(this);
    Combo1->addItems({QStringLiteral("200"), QStringLiteral("500"), QStringLiteral("700"),
                      QStringLiteral("1000"), QStringLiteral("1500"), QStringLiteral("2000"),
                      QStringLiteral("2500"), QStringLiteral("3000"), QStringLiteral("4000"),
                      QStringLiteral("15000")});
    Label4 = new QLabel(QStringLiteral("毫秒"), this);
    Command3 = new QPushButton(QStringLiteral("单次发送"), this);
    Command1 = new QPushButton(QStringLiteral("连续发送"), this);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);

    auto* frames = new QHBoxLayout;
    frames->addWidget(Frame2);
    frames->addWidget(Frame1);
    auto* interval = new QHBoxLayout;
    interval->addWidget(Label3);
    interval->addWidget(Combo1, 1);
    interval->addWidget(Label4);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Command3, Command1, Command2})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text1, 1);
    layout->addLayout(frames);
    layout->addLayout(interval);
    layout->addWidget(ProgressBar1);
    layout->addLayout(buttons);

    connect(Option1, &QRadioButton::clicked, this, &StrbunchWindow::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &StrbunchWindow::Option2_Click);
    connect(Option3, &QRadioButton::clicked, this, &StrbunchWindow::Option3_Click);
    connect(Option4, &QRadioButton::clicked, this, &StrbunchWindow::Option4_Click);
    connect(Command1, &QPushButton::clicked, this, &StrbunchWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &StrbunchWindow::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &StrbunchWindow::Command3_Click);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, Command2, &QPushButton::click);

    CommControl& comm = ctx_.MSComm1();
    // Connected before the senders are made, so it is known when their failure comes
    // from a lost port, which the program reports by itself.
    connect(&comm, &CommControl::portLost, this, [this] { portLost_ = true; });
    single_ = new PacedSender(comm, DtrUser::DataString, 100, this);
    block_ = new PacedSender(comm, DtrUser::DataStringBlock, 0, this);
    connect(single_, &PacedSender::progress, this,
            [this](qint64 sent) { ProgressBar1->setValue(static_cast<int>(sent)); });
    connect(single_, &PacedSender::finished, this, [this] {
        ProgressBar1->setValue(0);
        updateButtons();
    });
    connect(single_, &PacedSender::failed, this, &StrbunchWindow::sendFailed);
    connect(block_, &PacedSender::finished, this, [this] {
        if (!continuous_)
            return;
        ++txtime;
        ctx_.ShowRepeatPrompt(txtime, timerinterval);
    });
    connect(block_, &PacedSender::stopped, this, &StrbunchWindow::updateButtons);
    connect(block_, &PacedSender::failed, this, &StrbunchWindow::sendFailed);
    connect(&ctx_, &AppContext::repeatSendStopRequested, this, &StrbunchWindow::stopContinuous);

    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &StrbunchWindow::Timer1_Timer);
}

StrbunchWindow::~StrbunchWindow() {
    // A window being taken apart hears nothing more from the line: giving DTR back may be
    // what finds the line gone.
    disconnect(&ctx_.MSComm1(), nullptr, this, nullptr);
    for (PacedSender* sender : {single_, block_})
        disconnect(sender, nullptr, this, nullptr);
    delete std::exchange(single_, nullptr);
    delete std::exchange(block_, nullptr);
    ctx_.windowOpen.stringWindowOpen = false;
    if (continuous_)
        ctx_.MSComm1().releaseDtr(DtrUser::DataString);
}

void StrbunchWindow::Form_Load() {
    setFixedSize(twips(4755), twips(4125));
    Option1->setChecked(true);
    Option1_Click();
    Option3->setChecked(true);
    Option3_Click();
    Combo1->setCurrentIndex(4);
    txtime = 0;
    ctx_.windowOpen.stringWindowOpen = true;
}

void StrbunchWindow::Option1_Click() {
    HexMode = true;
    CharMode = false;
}

void StrbunchWindow::Option2_Click() {
    CharMode = true;
    HexMode = false;
}

void StrbunchWindow::Option3_Click() {
    DefaultData = true;
    Frame1->setEnabled(false);
    Text1->setPlainText(defaultDataText());
    // The built-in data is what goes out: the box only shows it.
    Text1->setEnabled(false);
}

void StrbunchWindow::Option4_Click() {
    DefaultData = false;
    Frame1->setEnabled(true);
    Text1->setEnabled(true);
    Text1->clear();
}

bool StrbunchWindow::sending() const {
    return continuous_ || single_->busy() || block_->busy();
}

void StrbunchWindow::updateButtons() {
    Command1->setEnabled(!sending());
    Command3->setEnabled(!sending());
}

QByteArray StrbunchWindow::prepareData(bool rewriteText) {
    QByteArray bytes;
    if (DefaultData) {
        bytes = HexTextToBytes(defaultDataText());
    } else if (HexMode) {
        const QString text = Text1->toPlainText();
        const QString groups = text.left(text.size() / 3 * 3);
        bytes = HexTextToBytes(groups);
        // A single send leaves the box showing exactly the groups that went out.
        if (rewriteText && !bytes.isEmpty() && groups != text)
            Text1->setPlainText(groups);
    } else {
        // The characters as their GBK bytes, lines ending as on the module's side;
        // nothing is appended.
        QString text = Text1->toPlainText();
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        bytes = CommControl::toAnsi(text);
    }
    if (bytes.isEmpty())
        ctx_.dialogs().message(kNoData, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    return bytes;
}

void StrbunchWindow::Command3_Click() {
    if (sending())
        return; // one send at a time; the buttons show it
    if (Text1->toPlainText().isEmpty()) {
        ctx_.dialogs().message(kNoData, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    if (!ctx_.session().PortOpenForUser())
        return;
    const QByteArray bytes = prepareData(true);
    if (bytes.isEmpty())
        return;
    portLost_ = false;
    ProgressBar1->setMaximum(static_cast<int>(bytes.size()));
    ProgressBar1->setValue(0);
    if (!single_->start(bytes)) {
        sendFailed(QStringLiteral("串口写入失败,数据没有发送。"));
        return;
    }
    updateButtons();
}

void StrbunchWindow::Command1_Click() {
    if (sending())
        return;
    if (Text1->toPlainText().isEmpty()) {
        ctx_.dialogs().message(kNoData, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    if (!ctx_.session().PortOpenForUser())
        return;
    DataBytes = prepareData(false);
    if (DataBytes.isEmpty())
        return;
    portLost_ = false;
    // DTR stays off from here to "停止", across every block and the pauses between.
    ctx_.MSComm1().holdDtrOff(DtrUser::DataString);
    timerinterval = Combo1->currentText();
    Timer1.setInterval(timerinterval.toInt());
    Timer1.start();
    continuous_ = true;
    txtime = 0;
    updateButtons();
    // The window stays loaded while the prompt counts; "停止" brings it back.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->hide();
    else
        hide();
    ctx_.ShowRepeatPrompt(txtime, timerinterval);
}

void StrbunchWindow::Timer1_Timer() {
    if (!continuous_) {
        Timer1.stop();
        return;
    }
    // A block still going out (a slow line, a short interval) lets this tick pass:
    // blocks never pile up in the output.
    if (block_->busy())
        return;
    if (!block_->start(DataBytes))
        sendFailed(QStringLiteral("串口写入失败,连续发送已停止。"));
}

void StrbunchWindow::endContinuous() {
    continuous_ = false;
    Timer1.stop();
    block_->stop(); // what still waits in the output is dropped
    txtime = 0;
    ctx_.MSComm1().releaseDtr(DtrUser::DataString);
    updateButtons();
}

void StrbunchWindow::showAgain() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->show();
    else
        show();
    ctx_.bringToFront(this);
}

void StrbunchWindow::stopContinuous() {
    if (!continuous_)
        return;
    endContinuous();
    showAgain();
}

void StrbunchWindow::sendFailed(const QString& reason) {
    if (continuous_) {
        endContinuous();
        ctx_.CloseRepeatPrompt();
        showAgain();
    }
    ProgressBar1->setValue(0);
    updateButtons();
    // A lost port has been reported already; anything else is told here, once.
    if (!portLost_)
        ctx_.dialogs().message(reason, QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    portLost_ = false;
}

void StrbunchWindow::Command2_Click() {
    unloading_ = true;
    close();
}

bool StrbunchWindow::keyPress(int key) {
    if (key < 0 || key > 255)
        return false;
    if (HexMode)
        return FilterHexPairKey(key, Text1) != 0;
    return true;
}

void StrbunchWindow::insertText(const QString& text) {
    if (!HexMode) {
        Text1->insertPlainText(text);
        return;
    }
    for (const QChar c : text) {
        // Control characters in pasted text are no editing keys.
        if (c.unicode() < 32)
            continue;
        if (keyPress(c.unicode()))
            Text1->insertPlainText(QString(c));
    }
}

bool StrbunchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        // A click on an option's caption chooses the option.
        const std::pair<QLabel*, QRadioButton*> captions[] = {
            {Label1, Option1}, {Label2, Option2}, {Label5, Option3}, {Label6, Option4}};
        for (const auto& [label, option] : captions)
            if (watched == label) {
                option->click();
                return true;
            }
        return QWidget::eventFilter(watched, event);
    }
    if (watched != Text1 || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Paste))
        return false; // the pasted text is filtered on its way in
    const QString text = key->text();
    if (text.isEmpty())
        return false; // moving about the box
    return !keyPress(text.at(0).unicode());
}

void StrbunchWindow::closeEvent(QCloseEvent* event) {
    ctx_.windowOpen.stringWindowOpen = false;
    if (!unloading_ && !ctx_.closingDown) {
        event->ignore(); // the close box does nothing; "取消" closes the window
        return;
    }
    if (continuous_) {
        endContinuous();
        if (!ctx_.closingDown)
            ctx_.CloseRepeatPrompt();
    }
    single_->stop(); // what is still waiting to leave does not go out
    event->accept();
}
