#include "link/productionrun.h"

#include "link/modulesession.h"

namespace {
// What a switch port holds before the poll has heard it: no direction the module
// reports, so a port that does not answer can never pass for configured.
constexpr char kUnheardPort = char(0xEE);
} // namespace

ProductionRun::ProductionRun(ModuleSession& session, QObject* parent)
    : QObject(parent), session_(session) {
    watchdog_.setSingleShot(true);
    watchdog_.setInterval(kStepTimeoutMs);
    connect(&watchdog_, &QTimer::timeout, this,
            [this] { finish(false, QStringLiteral("模块无应答")); });
    connect(&session_, &ModuleSession::answered, this, &ProductionRun::onAnswered);
    connect(&session_, &ModuleSession::noAnswer, this, &ProductionRun::onNoAnswer);
    connect(&session_, &ModuleSession::readFinished, this,
            [this](bool refresh) { onReadFinished(refresh); });
    connect(&session_, &ModuleSession::pollFinished, this, &ProductionRun::onPollFinished);
    connect(&session_, &ModuleSession::writeFinished, this, &ProductionRun::onWriteFinished);
    connect(&session_, &ModuleSession::lineLost, this, [this] {
        if (running())
            finish(false, QStringLiteral("串口断开"));
    });
}

bool ProductionRun::start(const ModuleProfile& profile, bool readOnly) {
    if (running() || !session_.comm().PortOpen() || session_.sequenceRunning() ||
        (!readOnly && profile.isEmpty()))
        return false;
    readOnly_ = readOnly;
    session_.setStationRunning(true);
    profile_ = readOnly ? ModuleProfile{} : profile;
    result_ = {};
    result_.startedAt = QDateTime::currentDateTimeUtc();
    clock_.start();
    enter(Step::Probe, QStringLiteral("检测模块"));
    session_.probe(false);
    return true;
}

void ProductionRun::abort(const QString& reason) {
    if (running())
        finish(false, reason);
}

void ProductionRun::enter(Step step, const QString& what) {
    step_ = step;
    watchdog_.start();
    emit stepChanged(what);
}

void ProductionRun::onAnswered() {
    if (step_ != Step::Probe)
        return;
    // A fresh record: nothing of an earlier module may pass for this one's.
    session_.params = ModuleParameters{};
    enter(Step::ReadBefore, QStringLiteral("读取参数"));
    session_.startRefreshRead();
}

void ProductionRun::onNoAnswer() {
    if (step_ == Step::Probe)
        finish(false, QStringLiteral("模块无应答"));
}

void ProductionRun::startPoll() {
    session_.link().parser.PortStateTable = QByteArray(24, kUnheardPort);
    for (int k = 0; k < 8; ++k)
        session_.link().parser.PortStateTable[3 * k] = char(k);
    session_.startRefreshPoll();
}

void ProductionRun::onReadFinished(bool refresh) {
    if (!refresh)
        return;
    if (step_ == Step::ReadBefore) {
        before_ = session_.params;
        enter(Step::PollBefore, QStringLiteral("读取端口"));
        startPoll();
    } else if (step_ == Step::ReadAfter) {
        enter(Step::PollAfter, QStringLiteral("校验端口"));
        startPoll();
    }
}

void ProductionRun::onPollFinished(bool refresh) {
    if (!refresh)
        return;
    if (step_ == Step::PollBefore) {
        portsBefore_ = session_.link().parser.PortStateTable;
        const QList<QByteArray> frames = profile_.writeFrames(before_, portsBefore_);
        if (!frames.isEmpty()) {
            enter(Step::Write, QStringLiteral("写入设置"));
            if (!session_.writeSettings(frames, true))
                finish(false, QStringLiteral("串口写入失败")); // once: finish() ends it
            return;
        }
        if (readOnly_) {
            finish(true, {});
            return;
        }
        onWriteFinished(true, {});
        return;
    }
    if (step_ != Step::PollAfter)
        return;
    const QList<FieldCheck> before = CheckAgainstProfile(profile_, before_, portsBefore_);
    const QList<FieldCheck> after =
        CheckAgainstProfile(profile_, session_.params, session_.link().parser.PortStateTable);
    QStringList wrong;
    for (qsizetype i = 0; i < after.size(); ++i) {
        const FieldCheck& a = after.at(i);
        result_.fields.append({a.field, a.expected, before.value(i).actual, a.actual, a.ok});
        if (!a.ok)
            wrong << a.field;
    }
    if (after.isEmpty()) // nothing was checked: never a pass
        finish(false, QStringLiteral("配置中没有要检查的项目"));
    else
        finish(wrong.isEmpty(),
               wrong.isEmpty() ? QString()
                               : QStringLiteral("参数不符: ") + wrong.join(QStringLiteral(", ")));
}

void ProductionRun::onWriteFinished(bool ok, const QString& reason) {
    if (step_ != Step::Write && !(ok && step_ == Step::PollBefore))
        return;
    if (!ok) {
        finish(false, reason);
        return;
    }
    session_.params = ModuleParameters{};
    enter(Step::ReadAfter, QStringLiteral("校验参数"));
    session_.startRefreshRead();
}

void ProductionRun::finish(bool pass, const QString& reason) {
    if (step_ == Step::Idle)
        return; // one verdict a module
    watchdog_.stop();
    session_.setStationRunning(false);
    if (!pass)
        session_.link().cycle.stop(); // nothing of this module runs on
    step_ = Step::Idle;
    result_.pass = pass;
    result_.reason = reason;
    result_.finishedAt = QDateTime::currentDateTimeUtc();
    result_.durationMs = clock_.elapsed();
    emit finished(result_);
}
