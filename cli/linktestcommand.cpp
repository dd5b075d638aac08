#include "cli/linktestcommand.h"

#include "cli/exitcodes.h"
#include "cli/modulecommand.h"
#include "cli/report.h"
#include "cli/text.h"
#include "records/openresults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <algorithm>

namespace {

QJsonValue Optional(const std::optional<double>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonObject LinkTestJson(const LinkTestRecord& r) {
    const LinkTestResult& t = r.result;
    const char* roles[] = {"send", "listen", "echo"};
    return QJsonObject{
        {QStringLiteral("id"), r.id},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("role"), QLatin1String(roles[int(t.role)])},
        {QStringLiteral("echo"), t.echo},
        {QStringLiteral("started_at"), IsoUtc(t.startedAt)},
        {QStringLiteral("finished_at"), IsoUtc(t.finishedAt)},
        {QStringLiteral("count"), t.count},
        {QStringLiteral("size"), t.size},
        {QStringLiteral("interval_ms"), t.intervalMs},
        {QStringLiteral("sent"), t.sent},
        {QStringLiteral("total"), t.total},
        {QStringLiteral("received"), t.received},
        {QStringLiteral("corrupted"), t.corrupted},
        {QStringLiteral("lost"), t.lost},
        {QStringLiteral("duplicated"), t.duplicated},
        {QStringLiteral("out_of_order"), t.outOfOrder},
        {QStringLiteral("stray_bytes"), t.strayBytes},
        {QStringLiteral("per"), t.per},
        {QStringLiteral("rtt_min_ms"), Optional(t.rttMinMs)},
        {QStringLiteral("rtt_mean_ms"), Optional(t.rttMeanMs)},
        {QStringLiteral("rtt_max_ms"), Optional(t.rttMaxMs)},
        {QStringLiteral("max_per_percent"), t.maxPerPercent},
        {QStringLiteral("result"), t.verdictText()},
        {QStringLiteral("cut_short"), t.cutShort},
        {QStringLiteral("cut_reason"), t.cutReason},
        {QStringLiteral("settings"), QJsonDocument::fromJson(r.localSettings.toUtf8()).object()},
    };
}

QString LinkTestTable(const LinkTestResult& t) {
    const auto ms = [](const std::optional<double>& v) {
        return v ? QString::number(*v, 'f', 1) : QStringLiteral("-");
    };
    QString text;
    const auto line = [&text](const QString& zh, const QString& en, const QString& value) {
        text += TableCell(Say(zh, en), 16) + value + QLatin1Char('\n');
    };
    if (t.role != LinkTestRole::Receive)
        line(QStringLiteral("已发送"), QStringLiteral("sent"), QString::number(t.sent));
    if (t.role != LinkTestRole::Send || t.echo) {
        line(QStringLiteral("总包数"), QStringLiteral("total"), QString::number(t.total));
        line(QStringLiteral("正确接收"), QStringLiteral("received"), QString::number(t.received));
        line(QStringLiteral("损坏"), QStringLiteral("corrupted"), QString::number(t.corrupted));
        line(QStringLiteral("丢失"), QStringLiteral("lost"), QString::number(t.lost));
        line(QStringLiteral("重复"), QStringLiteral("duplicated"), QString::number(t.duplicated));
        line(QStringLiteral("乱序"), QStringLiteral("out of order"), QString::number(t.outOfOrder));
        line(QStringLiteral("误包率"), QStringLiteral("PER"),
             QString::number(t.per * 100, 'f', 2) + QLatin1Char('%'));
    }
    if (t.echo) {
        line(QStringLiteral("往返时间(ms)"), QStringLiteral("RTT (ms)"),
             QStringLiteral("%1 / %2 / %3").arg(ms(t.rttMinMs), ms(t.rttMeanMs), ms(t.rttMaxMs)));
        text += Say(QStringLiteral("回环测试: 丢包和损坏是两个方向的合计,无法区分方向\n"),
                    QStringLiteral("echo test: losses of both directions together, not told "
                                   "apart\n"));
    }
    if (t.cutShort)
        text += Say(QStringLiteral("测试中断(%1),结果为中断前的计数\n"),
                    QStringLiteral("cut short (%1): the counts so far\n"))
                    .arg(SayEngine(t.cutReason));
    line(QStringLiteral("结果"), QStringLiteral("result"), t.verdictText());
    return text;
}

} // namespace

LinkTestCommand::LinkTestCommand(const CliOptions& options, QObject* parent)
    : Command(parent), options_(options), port_(store_), read_(port_.session()),
      test_(port_.session()) {
    connect(&read_, &ProductionRun::finished, this, &LinkTestCommand::onRead);
    connect(&test_, &LinkTest::finished, this, &LinkTestCommand::onFinished);
    // The test ends itself on a lost line, cut short, and is recorded; the message says
    // which port.
    connect(&port_, &CliPort::lost, this,
            [](const QString& message) { PrintErr(message + QLatin1Char('\n')); });
    firstPacket_.setSingleShot(true);
    connect(&firstPacket_, &QTimer::timeout, this, [this] {
        if (test_.running() && test_.snapshot().total == 0) {
            heardNothing_ = true;
            test_.stop();
        }
    });
    overall_.setSingleShot(true);
    connect(&overall_, &QTimer::timeout, this, [this] {
        if (test_.running()) {
            timedOut_ = true;
            test_.stop(); // recorded, cut short
        } else
            failWith(exitcode::NoAnswer, Say(QStringLiteral("模块应答超时"),
                                             QStringLiteral("the module's replies timed out")));
    });
}

void LinkTestCommand::failWith(int status, const QString& message) {
    if (finished())
        return;
    if (!message.isEmpty())
        PrintErr(message + QLatin1Char('\n'));
    finish(status);
}

void LinkTestCommand::start() {
    QString error;
    // A result that cannot be stored is worse than no test.
    db_ = OpenResultsDatabase(store_, &error);
    if (!db_) {
        failWith(exitcode::NotRecorded,
                 Say(QStringLiteral("记录数据库不可用,不能测试: %1"),
                     QStringLiteral("the results database is unavailable, no test: %1"))
                     .arg(error));
        return;
    }
    if (const auto status = port_.open(options_.port, options_.rate, &error)) {
        failWith(*status, error);
        return;
    }
    port_.session().setReplyDrivenRead(!options_.timedRead);
    overall_.start(ModuleCommand::kOverallTimeoutMs);
    read_.start(ModuleProfile{}, true); // the module's settings, for the record
}

void LinkTestCommand::onRead(const RunResult& result) {
    if (finished())
        return;
    if (!result.pass) {
        failWith(
            port_.wasLost() ? exitcode::Port : exitcode::NoAnswer,
            Say(QStringLiteral("读取模块失败:%1"), QStringLiteral("reading the module failed: %1"))
                .arg(SayEngine(result.reason)));
        return;
    }
    localSettings_ = ModuleSettingsJson(port_.session().params);
    LinkTest::Config config;
    config.role = options_.linkRole == QLatin1String("send")     ? LinkTestRole::Send
                  : options_.linkRole == QLatin1String("listen") ? LinkTestRole::Receive
                                                                 : LinkTestRole::Echo;
    config.count = options_.count;
    config.size = options_.size;
    config.intervalMs = options_.intervalMs;
    config.maxPerPercent = options_.maxPerPercent;
    config.expectEcho = options_.expectEcho;
    QString error;
    if (!test_.start(config, &error)) {
        failWith(exitcode::Usage, error);
        return;
    }
    // The sender's packets take their time on the line; every other wait has its own
    // time-out in the test. Twice that, and a minute more, ends anything left hanging.
    const double interval = config.intervalMs >= 0
                                ? config.intervalMs
                                : LinkTest::defaultIntervalMs(config.size, port_.comm().Settings());
    overall_.start(int(std::min<double>(2.0 * interval * config.count + 60000, 24 * 3600e3)));
    if (config.role != LinkTestRole::Send) {
        overall_.stop(); // a listener waits for its first packet, then for quiet
        firstPacket_.start(options_.timeoutS * 1000);
        // A script starts the sender once this line is out.
        PrintErr(Say(QStringLiteral("等待对端发送...\n"),
                     QStringLiteral("waiting for the far station's packets...\n")));
    }
}

void LinkTestCommand::onFinished(const LinkTestResult& result) {
    if (finished())
        return;
    overall_.stop();
    firstPacket_.stop();
    LinkTestRecord record;
    record.result = result;
    record.station = QSysInfo::machineHostName();
    record.port = port_.name();
    record.localSettings = localSettings_;
    QString error;
    const std::optional<qint64> id = db_->recordLinkTest(record, &error);
    if (!id) {
        failWith(exitcode::NotRecorded,
                 Say(QStringLiteral("记录失败,本次测试无效: %1"),
                     QStringLiteral("not recorded, the test counts for nothing: %1"))
                     .arg(error));
        return;
    }
    record.id = *id;
    PrintOut(options_.json
                 ? QString::fromUtf8(
                       QJsonDocument(LinkTestJson(record)).toJson(QJsonDocument::Compact)) +
                       QLatin1Char('\n')
                 : LinkTestTable(result));
    if (port_.wasLost())
        finish(exitcode::Port);
    else if (heardNothing_)
        failWith(exitcode::NoAnswer, Say(QStringLiteral("%1 秒内没有收到测试包"),
                                         QStringLiteral("no test packet within %1 s"))
                                         .arg(options_.timeoutS));
    else if (timedOut_)
        failWith(exitcode::NoAnswer,
                 Say(QStringLiteral("链路测试超时"), QStringLiteral("the link test timed out")));
    else if (result.cutShort)
        finish(exitcode::Fail);
    else
        finish(result.verdict == LinkTestResult::Verdict::Fail ? exitcode::Fail : exitcode::Ok);
}

void LinkTestCommand::cleanup() {
    overall_.stop();
    firstPacket_.stop();
    read_.abort(QStringLiteral("中止"));
    if (test_.running()) {
        disconnect(&test_, nullptr, this, nullptr); // stopped by a signal: no record
        test_.stop();
    }
    port_.close();
}
