#pragma once

#include "protocol/profile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class ModuleSession;

// One profiled field of a tested module: what the profile says, what the module held
// before and after the writes, and whether it agrees afterwards.
struct RunField {
    QString field;
    QString expected;
    QString before;
    QString after;
    bool ok = false;
};

// The outcome of one module at the production station.
struct RunResult {
    bool pass = false;
    QString reason; // empty for a pass: "模块无应答", "串口断开", the module's text, the fields
    QList<RunField> fields;
    QDateTime startedAt;
    QDateTime finishedAt;
    qint64 durationMs = 0;
};

// Configures and verifies one module against a profile: probe; read every parameter and
// port; write only what differs (one frame a setting, one a port); read everything again
// and compare each profiled field. Never a pass unless every profiled field was read
// back and agrees. finished() comes exactly once per start().
class ProductionRun : public QObject {
    Q_OBJECT
  public:
    explicit ProductionRun(ModuleSession& session, QObject* parent = nullptr);

    // False (and nothing happens) while a run or another read is under way, the port is
    // closed, or the profile names nothing to check. `readOnly`: only read the module (for
    // a profile saved from it); nothing is written or checked.
    bool start(const ModuleProfile& profile, bool readOnly = false);
    bool running() const { return step_ != Step::Idle; }
    // Ends a run under way as failed with `reason` (the station stopping).
    void abort(const QString& reason);

    // The probe's answer, each read and the poll have this long before the run fails.
    static constexpr int kStepTimeoutMs = 5000;

  signals:
    // What the run is doing now, for a status line ("读取参数", "写入设置", "校验").
    void stepChanged(const QString& what);
    void finished(const RunResult& result);

  private:
    enum class Step { Idle, Probe, ReadBefore, PollBefore, Write, ReadAfter, PollAfter };
    void enter(Step step, const QString& what);
    void onAnswered();
    void onNoAnswer();
    void onReadFinished(bool refresh);
    void onPollFinished(bool refresh);
    void onWriteFinished(bool ok, const QString& reason);
    void startPoll();
    void finish(bool pass, const QString& reason);

    ModuleSession& session_;
    ModuleProfile profile_;
    Step step_ = Step::Idle;
    ModuleParameters before_;
    QByteArray portsBefore_;
    RunResult result_;
    QElapsedTimer clock_;
    QTimer watchdog_;
    bool readOnly_ = false;
};

Q_DECLARE_METATYPE(RunResult)
