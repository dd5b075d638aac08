#pragma once

#include <QObject>
#include <QTimer>

class CommControl;
class ReplyParser;

// The timed requests: the probe time-out, the parameter read cycle (eleven requests
// 100 ms apart, the end on the twelfth tick), the prompt-close second and the switch-port
// poll (eight queries 100 ms apart). Every timer is a one-shot whose handler stops it
// first; whoever wants the next tick starts it again. Frames sent while the port is
// closed are dropped quietly.
//
// Reply-driven (off unless a caller turns it on): a read or poll sends its next request
// as soon as the reply to the one before is in, each request waiting at most
// kReplyTimeoutMs; the order of requests, the progress values, the missing-parameter
// rule and every signal stay as in the timed read.
class ReadCycle : public QObject {
    Q_OBJECT
  public:
    ReadCycle(CommControl& comm, ReplyParser& parser, QObject* parent = nullptr);

    // The probe D7 FE was sent: the module must answer within 500 ms.
    void startProbeTimeout() { Timer1.start(); }
    // Starts the read cycle (on the module's answer, or a refresh).
    void startRead() { Timer2.start(firstStepMs()); }
    // Starts the switch-port poll.
    void startPortPoll() { Timer5.start(firstStepMs()); }
    // A read started from the module window's refresh: no prompt, no progress.
    void startRefreshRead();
    // A poll started from the switch-port window's refresh.
    void startRefreshPoll();
    // Ends whatever is under way (the line was lost or the port opened afresh): no timer
    // stays armed, the step counters are back at 0, and a read or poll that was cut off
    // says so.
    void stop();

    void setReplyDriven(bool on) { replyDriven_ = on; }
    bool replyDriven() const { return replyDriven_; }
    static constexpr int kStepMs = 100;
    static constexpr int kReplyTimeoutMs = 250;

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer4_Timer();
    void Timer5_Timer();
    void SendReadRequest(const qint16& step);
    void SendGateQuery();

    QTimer Timer1; // module-probe time-out
    QTimer Timer2; // parameter read cycle
    QTimer Timer4; // closes the finished-read prompt
    QTimer Timer5; // switch-port poll
    qint16 readstep = 0;
    qint16 PortQueryIndex = 0;
    bool moduleRefreshPending = false;
    bool portRefreshPending = false;

  signals:
    // No answer to the probe within its time.
    void probeTimedOut();
    // The prompt's progress value at a tick of a read that is not a refresh.
    void readProgress(int value);
    // The read ended (twelfth tick); `refresh` for a read the module window started.
    // Handlers mark missing parameters and report; Timer4 is already running when
    // `refresh` is false.
    void readFinished(bool refresh);
    // One second after a finished read: the prompt's OK, which starts the poll.
    void promptCloseDue();
    // The switch-port poll ended; `refresh` for a poll the switch-port window started.
    void portPollFinished(bool refresh);
    // stop() cut off a read or a poll before its end.
    void readCutOff(bool refresh);
    void portPollCutOff(bool refresh);

  private:
    int stepMs() const { return replyDriven_ ? kReplyTimeoutMs : kStepMs; }
    int firstStepMs() const { return replyDriven_ ? 0 : kStepMs; }
    void awaitReply();
    void onParameterReply(quint8 code);
    void onPortStateStored(int port);

    CommControl& comm_;
    ReplyParser& parser_;
    bool replyDriven_ = false;
};
