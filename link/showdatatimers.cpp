// The receive window's timed requests: every timer is a one-shot whose handler stops
// it first; whoever wants the next tick starts it again.
#include "app/appcontext.h"
#include "config/moduleparameters.h"
#include "config/promptwindow.h"
#include "link/replydisplay.h"
#include "link/showdata.h"
#include "serial/portopen.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>

namespace {
// Read request of each step of the read cycle.
QByteArray readRequest(qint16 step) {
    static const QByteArray frames[] = {
        QByteArray::fromHex("D7EF"),   QByteArray::fromHex("D7F4"),   QByteArray::fromHex("D7E3"),
        QByteArray::fromHex("D7E8"),   QByteArray::fromHex("D7A2"),   QByteArray::fromHex("D7EC"),
        QByteArray::fromHex("D7D2"),   QByteArray::fromHex("D7D5"),   QByteArray::fromHex("D7B7"),
        QByteArray::fromHex("D7ABAA"), QByteArray::fromHex("D7A8AA"),
    };
    return step >= 1 && step <= 11 ? frames[step - 1] : QByteArray();
}
} // namespace

void ShowData::SendReadRequest(const qint16& step) {
    // Frames sent by timers while the port is closed are dropped quietly.
    SendFrame(ctx_, readRequest(step));
    Timer2.start();
}

void ShowData::SendGateQuery() {
    QByteArray frame = QByteArray::fromHex("D7D8");
    frame.append(static_cast<char>(ctx_.PortQueryIndex));
    SendFrame(ctx_, frame);
    Timer5.start();
}

void ShowData::Timer1_Timer() {
    Timer1.stop();
    if (ctx_.ModuleAnswered)
        return;
    ShowPrompt(ctx_, 4);
    SetModuleCommandsEnabled(ctx_, false);
    ctx_.intset = ctx_.intfile = ctx_.intnet = ctx_.inttool = 1;
}

void ShowData::Timer2_Timer() {
    Timer2.stop();
    if (!ctx_.moduleRefreshPending)
        ctx_.dialog()->ProgressBar1->setValue(readstep * 10);
    ++readstep;
    if (readstep < 12) {
        SendReadRequest(readstep);
        return;
    }
    readstep = 0;
    ctx_.params.markMissing();
    if (!ctx_.moduleRefreshPending) {
        ShowPrompt(ctx_, 2);
        Timer4.start();
    } else {
        ctx_.moduleRefreshPending = false;
        emit ctx_.moduleRefreshFinished();
    }
    SetModuleCommandsEnabled(ctx_, true);
    SetLinkCommandsEnabled(ctx_, true);
}

void ShowData::Timer4_Timer() {
    Timer4.stop();
    if (PromptWindow* prompt = ctx_.dialogIfLoaded()) {
        prompt->Command1_Click();
    } else {
        Timer5.start(); // the prompt was closed already: the port poll still follows
    }
}

void ShowData::Timer5_Timer() {
    Timer5.stop();
    if (ctx_.PortQueryIndex < 8) {
        SendGateQuery();
        ++ctx_.PortQueryIndex;
        return;
    }
    ctx_.PortQueryIndex = 0;
    if (ctx_.portRefreshPending)
        emit ctx_.portRefreshFinished();
}

void ShowData::Timer6_Timer() {
    Timer6.stop();
    // Whatever followed the unlisted code is logged; with nothing there, the prefix
    // alone is logged. Either way the parser is idle again, so the link never stays
    // without receive events.
    MSComm1.setInputLen(0);
    LogReplyBytes(ctx_, MSComm1.InputBytes());
}

void ShowData::Timer7_Timer() {
    Timer7.stop();
    MSComm1.setInputLen(1);
    QString text = Text1->toPlainText();
    if (text.size() >= 2400)
        Text1->setPlainText(text.right(text.size() % 72 + 2100));
    QTextCursor cursor(Text1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("\r\n"));
    Text1->moveCursor(QTextCursor::End);
}
