#include "link/readcycle.h"

#include "link/commcontrol.h"
#include "link/replyparser.h"
#include "protocol/frames.h"

#include <utility>

ReadCycle::ReadCycle(CommControl& comm, ReplyParser& parser, QObject* parent)
    : QObject(parent), comm_(comm), parser_(parser) {
    const std::pair<QTimer*, int> timers[] = {
        {&Timer1, 500}, {&Timer2, 100}, {&Timer4, 1000}, {&Timer5, 100}};
    for (auto [timer, ms] : timers) {
        timer->setInterval(ms);
        timer->setSingleShot(true);
    }
    connect(&Timer1, &QTimer::timeout, this, &ReadCycle::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &ReadCycle::Timer2_Timer);
    connect(&Timer4, &QTimer::timeout, this, &ReadCycle::Timer4_Timer);
    connect(&Timer5, &QTimer::timeout, this, &ReadCycle::Timer5_Timer);
    connect(&parser_, &ReplyParser::parameterReply, this,
            [this](quint8 code, const QByteArray&) { onParameterReply(code); });
    connect(&parser_, &ReplyParser::portStateStored, this, &ReadCycle::onPortStateStored);
}

// The reply to the request under way is in: its step ends now instead of at its tick.
// The next tick still comes from the event loop, never from inside the parser.
void ReadCycle::onParameterReply(quint8 code) {
    if (replyDriven_ && Timer2.isActive() && code == t83::ReadRequestCode(readstep))
        Timer2.start(0);
}

void ReadCycle::onPortStateStored(int port) {
    if (replyDriven_ && Timer5.isActive() && PortQueryIndex > 0 && port == PortQueryIndex - 1)
        Timer5.start(0);
}

void ReadCycle::startRefreshRead() {
    moduleRefreshPending = true;
    Timer2.start(firstStepMs());
}

void ReadCycle::startRefreshPoll() {
    portRefreshPending = true;
    Timer5.start(firstStepMs());
}

void ReadCycle::stop() {
    const bool reading = Timer2.isActive();
    const bool polling = Timer5.isActive();
    const bool readRefresh = moduleRefreshPending;
    const bool pollRefresh = portRefreshPending;
    for (QTimer* timer : {&Timer1, &Timer2, &Timer4, &Timer5})
        timer->stop();
    readstep = 0;
    PortQueryIndex = 0;
    moduleRefreshPending = false;
    portRefreshPending = false;
    if (reading)
        emit readCutOff(readRefresh);
    if (polling)
        emit portPollCutOff(pollRefresh);
}

void ReadCycle::SendReadRequest(const qint16& step) {
    if (comm_.PortOpen())
        comm_.Output(t83::ReadRequestFrame(step));
    awaitReply();
    Timer2.start(stepMs());
}

void ReadCycle::SendGateQuery() {
    if (comm_.PortOpen())
        comm_.Output(t83::PortQueryFrame(PortQueryIndex));
    awaitReply();
    Timer5.start(stepMs());
}

// A reply is what the next request waits for: the line reads it the moment it comes
// instead of resting between small reads (the parser ends that once the reply is in).
void ReadCycle::awaitReply() {
    if (replyDriven_ && comm_.PortOpen())
        comm_.setPromptReads(true);
}

void ReadCycle::Timer1_Timer() {
    Timer1.stop();
    if (!parser_.ModuleAnswered)
        emit probeTimedOut();
}

void ReadCycle::Timer2_Timer() {
    Timer2.stop();
    if (!moduleRefreshPending)
        emit readProgress(readstep * 10);
    ++readstep;
    if (readstep < 12) {
        SendReadRequest(readstep);
        return;
    }
    readstep = 0;
    const bool refresh = moduleRefreshPending;
    if (refresh)
        moduleRefreshPending = false;
    else
        Timer4.start();
    emit readFinished(refresh);
}

void ReadCycle::Timer4_Timer() {
    Timer4.stop();
    emit promptCloseDue();
}

void ReadCycle::Timer5_Timer() {
    Timer5.stop();
    if (PortQueryIndex < 8) {
        SendGateQuery();
        ++PortQueryIndex;
        return;
    }
    PortQueryIndex = 0;
    const bool refresh = std::exchange(portRefreshPending, false);
    emit portPollFinished(refresh);
}
