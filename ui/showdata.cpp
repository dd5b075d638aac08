#include "ui/showdata.h"

#include "link/replydisplay.h"
#include "ui/receivebox.h"
#include "ui/statuspanel.h"
#include "ui/steadyscrollbar.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

ShowData::ShowData(Link& link) : link(link), MSComm1(link.MSComm1) {
    setObjectName(QStringLiteral("showdata"));
    setWindowTitle(QStringLiteral("数据接收显示"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    resize(twips(9255), twips(7410));

    Text1 = new ReceiveBox(this);
    Text1->setAccessibleName(QStringLiteral("接收数据"));
    QFont font(QStringLiteral("SimSun"), 12);
    font.setFamilies(
        {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setStyleStrategy(QFont::PreferNoShaping);
    Text1->setFont(font);
    Text1->setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, Text1));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setMaximumBlockCount(kMaxBlocks);
    Text1->installEventFilter(this);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {1500, 1500, 2200, 2800};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new StatusPanel(twips(widths[i]), StatusBar1);
        StatusBar1->addWidget(panels_[i], i == 3 ? 1 : 0);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Text1, 1);
    layout->addWidget(StatusBar1);

    for (auto [timer, ms] : {std::pair{&Timer3, 60}, std::pair{&Timer7, 200}}) {
        timer->setInterval(ms);
        timer->setSingleShot(true);
    }
    connect(&Timer3, &QTimer::timeout, this, &ShowData::Timer3_Timer);
    connect(&Timer7, &QTimer::timeout, this, &ShowData::Timer7_Timer);
    connect(&MSComm1, &CommControl::OnComm, this, &ShowData::MSComm1_OnComm);
    connect(&MSComm1, &CommControl::dtrChanged, this,
            [this](bool on) { dtrdsr(on, MSComm1.DSRHolding()); });
    frame.setSingleShot(true);
    connect(&frame, &QTimer::timeout, this, &ShowData::flushReceived);
    connect(&link.parser, &ReplyParser::display, this, &ShowData::appendReceived);
    connect(&link.parser, &ReplyParser::versionRead, this, [this](const QString& version) {
        panel(4)->setText(QStringLiteral("软件:") + version);
    });
    connect(&link.parser, &ReplyParser::crcRead, this, [this](quint8 crc, bool toggle) {
        StatusPanel* panel3 = panel(3);
        panel3->setText(QStringLiteral("CRC校验:") + QStringLiteral(" ") + HexByte(crc) +
                        QStringLiteral("H"));
        panel3->setAlignment(toggle ? Qt::AlignLeft : Qt::AlignRight);
        panel3->setPicture(toggle ? 116 : 115);
    });
    connect(&link, &Link::linkCommandsEnabled, StatusBar1, &QStatusBar::setEnabled);
}

ShowData::~ShowData() = default;

void ShowData::Form_Load() {
    // The link has configured its line itself (hex display, DTR on): the panels show it.
    dtrdsr(MSComm1.LinkDtr(), MSComm1.DSRHolding());
    panel(3)->setText(QStringLiteral("CRC校验:") + QStringLiteral("未读"));
    panel(4)->setText(QStringLiteral("软件版本"));
}

void ShowData::dtrdsr(const bool& dtrOn, const bool& dsrOn) {
    panel(1)->setBevel(dtrOn ? StatusPanel::Bevel::Inset : StatusPanel::Bevel::Raised);
    panel(1)->setText(dtrOn ? QStringLiteral("逻辑0") : QStringLiteral("逻辑1"));
    panel(1)->setPicture(dtrOn ? 103 : 104);
    setDsrPanel(dsrOn);
}

void ShowData::setDsrPanel(bool on) {
    panel(2)->setBevel(on ? StatusPanel::Bevel::Inset : StatusPanel::Bevel::Raised);
    panel(2)->setText(on ? QStringLiteral("逻辑0") : QStringLiteral("逻辑1"));
    panel(2)->setPicture(on ? 101 : 102);
}

void ShowData::MSComm1_OnComm() {
    if (MSComm1.CommEvent() == CommControl::comEvDSR) {
        dsr = MSComm1.DSRHolding();
        setDsrPanel(dsr);
    }
}

bool ShowData::Text1_KeyPress(QChar key) {
    if (!MSComm1.PortOpen())
        return true;
    MSComm1.holdDtrOff(CommControl::DtrUser::TypedKeys);
    if (key.unicode() > 0x7F)
        MSComm1.Output(QString(key)); // a double-byte character in the ANSI code page
    else
        MSComm1.Output(QByteArray(1, static_cast<char>(key.unicode())));
    Timer3.start();
    return link.EchoKeys;
}

void ShowData::Timer3_Timer() {
    Timer3.stop();
    MSComm1.releaseDtr(CommControl::DtrUser::TypedKeys);
}

void ShowData::appendReceived(const QString& text, bool hex) {
    if (text.isEmpty())
        return;
    if (!gathered_.isEmpty() && gathered_.last().hex == hex)
        gathered_.last().text += text;
    else
        gathered_.append({text, hex});
    if (hex)
        dropHexBeyondTheBox(gathered_.last().text);
    else
        dropTextBeyondTheBox(gathered_.last().text);
    // Laying out and painting once per arrival is what a stream costs: gather, and put it
    // in once per frame. After a pause it goes in at once, and so does each read of a
    // steady stream, which the line takes once a frame: the frames then keep step with
    // the reads, instead of drawing each read's bytes a part of a frame later.
    if (MSComm1.readsSteadily()) {
        flushReceived();
        return;
    }
    if (frame.isActive())
        return;
    if (!sinceFlush_.isValid() || sinceFlush_.elapsed() >= kFrameMs)
        flushReceived();
    else
        frame.start(kFrameMs - int(sinceFlush_.elapsed()));
}

void ShowData::dropHexBeyondTheBox(QString& hex) {
    // A flood gathers megabytes of hex per frame, of which the box keeps its last lines.
    // Whole lines are dropped from the front, so every later pair stays where it would
    // be on its line; what is left still holds more full lines than the box keeps, so
    // the frame replaces the box with exactly the lines it would have shown.
    constexpr qsizetype keep = qsizetype(kMaxBlocks + 2) * kHexLine;
    if (hex.size() <= 4 * keep)
        return;
    hex.remove(0, (hex.size() - keep) / kHexLine * kHexLine);
}

void ShowData::dropTextBeyondTheBox(QString& text) {
    // The same for text, cut just after a line end: what follows starts its line as it
    // would have. More line ends than the box has lines are kept, so the frame replaces
    // the box with the same lines. A text with few line ends is looked at again only
    // once it has doubled.
    constexpr qsizetype kLook = qsizetype(4) * kMaxBlocks * 64;
    if (text.size() <= std::max(kLook, textLookedAt_))
        return;
    textLookedAt_ = text.size();
    int ends = 0;
    for (qsizetype i = text.size() - 2; i >= 0; --i) {
        const QChar c = text.at(i);
        const bool end = c == QLatin1Char('\n') ||
                         (c == QLatin1Char('\r') && text.at(i + 1) != QLatin1Char('\n'));
        if (end && ++ends > kMaxBlocks + 1) {
            text.remove(0, i + 1);
            textLookedAt_ = 0;
            return;
        }
    }
    textLookedAt_ = 2 * text.size();
}

void ShowData::flushReceived() {
    frame.stop();
    sinceFlush_.start();
    if (gathered_.isEmpty())
        return;
    QTextDocument* doc = Text1->document();
    // Length of the line being filled, then the text with its line breaks, in one insertion.
    int column = doc->lastBlock().length() - 1;
    QString out;
    for (const Gathered& g : std::as_const(gathered_)) {
        const QString& t = g.text;
        if (g.hex) {
            for (qsizetype at = 0; at < t.size();) {
                const int room = (kHexLine - column) / 3 * 3;
                if (room <= 0) {
                    out += QChar::ParagraphSeparator;
                    column = 0;
                    continue;
                }
                const qsizetype take = std::min<qsizetype>(room, t.size() - at);
                out += QStringView(t).mid(at, take);
                at += take;
                column += int(take);
            }
            continue;
        }
        qsizetype from = 0;
        for (qsizetype i = 0; i < t.size(); ++i) {
            const QChar c = t.at(i);
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                column = 0;
            } else if (++column > kTextLine && !c.isLowSurrogate()) {
                out += QStringView(t).mid(from, i - from);
                out += QChar::ParagraphSeparator;
                from = i;
                column = 1;
            }
        }
        out += QStringView(t).mid(from);
    }
    gathered_.clear();
    textLookedAt_ = 0;
    // A frame that alone holds more lines than the box keeps replaces the box with its
    // own last lines, so a flood never lays out lines that would be dropped at once.
    int breaks = 0;
    for (qsizetype i = out.size() - 1; i >= 0; --i) {
        const QChar c = out.at(i);
        const bool lineEnd =
            c == QChar::ParagraphSeparator || c == QLatin1Char('\n') ||
            (c == QLatin1Char('\r') && (i + 1 == out.size() || out.at(i + 1) != QLatin1Char('\n')));
        if (lineEnd && ++breaks >= kMaxBlocks) {
            out.remove(0, i + 1);
            Text1->clear();
            break;
        }
    }
    // The oldest lines are cut before the text goes in, in one piece, so the box stays at
    // its limit without the document's own trimming, which lays out each line it passes.
    // The caret follows the end, unless the user holds a selection (to copy it).
    const int over = doc->blockCount() + breaks - kMaxBlocks;
    Text1->appendFrame(over, out, !Text1->textCursor().hasSelection());
}

void ShowData::showLeftover(const QString& text, bool hex) {
    flushReceived();
    if (hex) {
        Timer7.stop();
        Text1->insertPlainText(text);
        Timer7.start();
        return;
    }
    Text1->moveCursor(QTextCursor::End);
    Text1->insertPlainText(text);
    const QString all = Text1->toPlainText();
    if (all.size() >= 2400) {
        Text1->setPlainText(all.right(2100));
        Text1->moveCursor(QTextCursor::End);
    }
}

bool ShowData::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Text1)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod)
        flushReceived(); // an echoed key goes after what was received before it
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.isEmpty())
            return false;
        bool show = true;
        for (QChar c : text)
            show = Text1_KeyPress(c) && show;
        return !show;
    }
    if (event->type() == QEvent::InputMethod) {
        // Characters from an input method (Chinese input) arrive committed, not as keys.
        auto* im = static_cast<QInputMethodEvent*>(event);
        const QString text = im->commitString();
        if (text.isEmpty())
            return false;
        bool show = true;
        for (QChar c : text)
            show = Text1_KeyPress(c) && show;
        if (!show) {
            QInputMethodEvent stripped(im->preeditString(), im->attributes());
            QCoreApplication::sendEvent(Text1, &stripped);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ShowData::closeEvent(QCloseEvent* event) {
    if (closingDown)
        event->accept();
    else
        event->ignore(); // the receive window lives until the program ends
}

void ShowData::Timer7_Timer() {
    Timer7.stop();
    flushReceived();
    QString text = Text1->toPlainText();
    if (text.size() >= 2400)
        Text1->setPlainText(text.right(text.size() % 72 + 2100));
    QTextCursor cursor(Text1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("\r\n"));
    Text1->moveCursor(QTextCursor::End);
}
