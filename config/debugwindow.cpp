#include "config/debugwindow.h"

#include "app/appcontext.h"
#include "link/modulesession.h"
#include "protocol/frames.h"
#include "protocol/hex.h"
#include "ui/statuspanel.h"

#include <QAction>
#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

namespace {

constexpr int kChannels = 6;
constexpr int kFirstChannelButton = 4;

// Frames of the four test buttons, in button order.
QByteArray testFrame(int button) {
    switch (button) {
    case 0:
        return t83::TestCodeFrame(true); // start the 1010 test code
    case 1:
        return t83::TestCodeFrame(false); // stop it
    case 2:
        return t83::AmplifierFrame(true);
    default:
        return t83::AmplifierFrame(false);
    }
}

QString channelValueName(int channel) {
    return QStringLiteral("信道%1").arg(channel);
}

QString channelToolTip(const QString& text) {
    return QStringLiteral("当前频率为") + text + QStringLiteral(",右键菜单可以更改频率");
}

// The input box's check drops surrounding spaces only, as the text is kept as entered.
QString withoutSurroundingSpaces(const QString& text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text.at(from) == QLatin1Char(' '))
        ++from;
    while (to > from && text.at(to - 1) == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

} // namespace

ChannelBytes PackChannelText(const QString& text) {
    ChannelBytes bytes{};
    for (int b = 0; b < 6; ++b)
        bytes[b] = PackDecimalPair(text.mid(2 * b, 2));
    return bytes;
}

DebugWindow::DebugWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("debugwd"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("调试"));

    static const char16_t* const captions[10] = {
        u"发码(1010)", u"停止发码", u"打开功放", u"关闭功放", u"信道 1",
        u"信道 2",     u"信道 3",   u"信道 4",   u"信道 5",   u"信道 6"};
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 10; ++i) {
        Command1[i] = new QPushButton(QString::fromUtf16(captions[i]), this);
        grid->addWidget(Command1[i], i / 2, i % 2);
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        if (i >= kFirstChannelButton)
            Command1[i]->installEventFilter(this);
    }

    editfreq = new QMenu(QStringLiteral("编辑"), this);
    freq = editfreq->addMenu(QStringLiteral("信道频率设置"));
    for (int n = 1; n <= kChannels; ++n) {
        freq1[n] = freq->addAction(QStringLiteral("信道 %1").arg(n));
        connect(freq1[n], &QAction::triggered, this, [this, n] { freq1_Click(n); });
    }
    freqdisp = editfreq->addAction(QStringLiteral("信道频率显示"));
}

DebugWindow::~DebugWindow() {
    ctx_.windowOpen.debugWindowOpen = false;
}

void DebugWindow::Form_Load() {
    for (QPushButton* button : Command1) {
        QFont font = button->font();
        font.setPointSize(10);
        button->setFont(font);
    }
    resize(twips(2940), twips(3550));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    for (int c = 1; c <= kChannels; ++c)
        setChannel(c, ctx_.store().GetRegString(RegKeys::Frequency, channelValueName(c)));
    ctx_.windowOpen.debugWindowOpen = true;
}

void DebugWindow::setChannel(int channel, const QString& text) {
    channelText[channel - 1] = text;
    Command1[channel + kFirstChannelButton - 1]->setToolTip(channelToolTip(text));
    channelBytes[channel - 1] = PackChannelText(text);
}

void DebugWindow::Command1_Click(int Index) {
    if (Index < 0 || Index >= 10 || !ctx_.session().PortOpenForUser())
        return;
    if (Index < kFirstChannelButton) {
        ctx_.session().SendFrame(testFrame(Index));
        return;
    }
    ctx_.session().SendFrame(t83::ChannelFrame(channelBytes[Index - kFirstChannelButton]));
}

void DebugWindow::freq1_Click(int Index) {
    if (Index < 1 || Index > kChannels)
        return;
    const QString prompt = QStringLiteral("请输入信道") + QString::number(Index) +
                           QStringLiteral("的频率！") + QStringLiteral("发射频率在前,") +
                           QChar(10) + QChar(13) + QStringLiteral("接收频率在后");
    const std::optional<QString> answer = ctx_.dialogs().inputBox(
        prompt, QStringLiteral("信道频率设定"), QStringLiteral("229100229100"));
    if (!answer || answer->isEmpty() || withoutSurroundingSpaces(*answer).size() != 12) {
        ctx_.dialogs().message(QStringLiteral("输入无效，请重新输入!"), QStringLiteral("提示"),
                               UserDialogs::Icon::Information);
        return;
    }
    setChannel(Index, *answer);
    ctx_.store().SetRegString(RegKeys::Frequency, channelValueName(Index), *answer);
}

bool DebugWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            // The channel to edit is chosen in the menu, not taken from the button.
            editfreq->popup(mouse->globalPosition().toPoint());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DebugWindow::closeEvent(QCloseEvent* event) {
    ctx_.windowOpen.debugWindowOpen = false;
    event->accept();
}
