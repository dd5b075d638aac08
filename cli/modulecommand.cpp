#include "cli/modulecommand.h"

#include "cli/exitcodes.h"
#include "cli/outfile.h"
#include "cli/report.h"
#include "cli/settingpairs.h"
#include "cli/text.h"
#include "records/openresults.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

ModuleCommand::ModuleCommand(const CliOptions& options, QObject* parent)
    : Command(parent), options_(options), port_(store_), run_(port_.session()) {
    const QString& c = options.command;
    kind_ = c == QLatin1String("read")           ? Kind::Read
            : c == QLatin1String("write")        ? Kind::Write
            : c == QLatin1String("save-profile") ? Kind::SaveProfile
                                                 : Kind::Apply;
    overall_.setSingleShot(true);
    overall_.setInterval(kOverallTimeoutMs);
    connect(&overall_, &QTimer::timeout, this, [this] {
        failWith(exitcode::NoAnswer, Say(QStringLiteral("模块应答超时"),
                                         QStringLiteral("the module's replies timed out")));
    });
    connect(&port_.session(), &ModuleSession::answered, this, [this] { answered_ = true; });
    connect(&port_.session(), &ModuleSession::moduleStatus, this,
            [this](quint8, const QString&, bool accepted) { refused_ = refused_ || !accepted; });
    connect(&run_, &ProductionRun::finished, this, &ModuleCommand::onFinished);
    // The run ends itself on a lost line ("串口断开"); the message says which port.
    connect(&port_, &CliPort::lost, this,
            [](const QString& message) { PrintErr(message + QLatin1Char('\n')); });
}

void ModuleCommand::failWith(int status, const QString& message) {
    if (finished())
        return;
    if (!message.isEmpty())
        PrintErr(message + QLatin1Char('\n'));
    finish(status);
}

std::optional<int> ModuleCommand::prepare() {
    QString error;
    if (kind_ == Kind::Write) {
        auto profile = ProfileFromPairs(options_.arguments, &error);
        if (!profile) {
            PrintErr(error + QLatin1Char('\n'));
            return exitcode::Usage;
        }
        profile_ = *profile;
    } else if (kind_ == Kind::Apply) {
        QFile file(options_.profile);
        if (!file.open(QIODevice::ReadOnly)) {
            PrintErr(Say(QStringLiteral("无法读取配置文件 %1:%2\n"),
                         QStringLiteral("cannot read the profile %1: %2\n"))
                         .arg(options_.profile, file.errorString()));
            return exitcode::Usage;
        }
        profileBytes_ = file.readAll();
        auto profile = ModuleProfile::fromJson(profileBytes_, &error);
        if (!profile) {
            PrintErr(Say(QStringLiteral("配置文件 %1 无效: %2\n"),
                         QStringLiteral("invalid profile %1: %2\n"))
                         .arg(options_.profile, error));
            return exitcode::Usage;
        }
        profile_ = *profile;
        // A result that cannot be stored is worse than no test.
        db_ = OpenResultsDatabase(store_, &error);
        if (!db_) {
            PrintErr(Say(QStringLiteral("记录数据库不可用,不能测试: %1\n"),
                         QStringLiteral("the results database is unavailable, no test: %1\n"))
                         .arg(error));
            return exitcode::NotRecorded;
        }
    }
    return std::nullopt;
}

void ModuleCommand::start() {
    if (const auto status = prepare()) {
        finish(*status);
        return;
    }
    QString error;
    if (const auto status = port_.open(options_.port, options_.rate, &error)) {
        failWith(*status, error);
        return;
    }
    // A script has no prompt to show and wants speed: the next request goes as soon as
    // the reply is in, unless the windows' pacing is asked for.
    port_.session().setReplyDrivenRead(!options_.timedRead);
    const bool readOnly = kind_ == Kind::Read || kind_ == Kind::SaveProfile;
    if (!run_.start(profile_, readOnly)) {
        failWith(exitcode::Usage,
                 Say(QStringLiteral("没有要写入的设置"), QStringLiteral("nothing to write")));
        return;
    }
    overall_.start();
}

void ModuleCommand::cleanup() {
    overall_.stop();
    run_.abort(QStringLiteral("中止"));
    port_.close();
}

void ModuleCommand::onFinished(const RunResult& result) {
    if (finished())
        return;
    overall_.stop();
    switch (kind_) {
    case Kind::Read:
        reportRead(result);
        break;
    case Kind::SaveProfile:
        saveProfile(result);
        break;
    case Kind::Write:
    case Kind::Apply:
        reportRun(result);
        break;
    }
}

void ModuleCommand::reportRead(const RunResult& result) {
    ModuleSession& session = port_.session();
    const ReadReport report{port_.name(), port_.device(), answered_ && !port_.wasLost(),
                            session.params, session.link().parser.PortStateTable};
    PrintOut(options_.json ? JsonLine(ReadJson(report)) : ReadTable(report));
    if (port_.wasLost())
        finish(exitcode::Port);
    else if (!result.pass)
        failWith(exitcode::NoAnswer, SayEngine(result.reason));
    else if (!session.params.missing().isEmpty())
        failWith(exitcode::Fail, Say(QStringLiteral("缺少参数: "), QStringLiteral("missing: ")) +
                                     session.params.missing().join(QStringLiteral(", ")));
    else
        finish(exitcode::Ok);
}

void ModuleCommand::saveProfile(const RunResult& result) {
    if (!result.pass) {
        failWith(
            port_.wasLost() ? exitcode::Port : exitcode::NoAnswer,
            Say(QStringLiteral("读取模块失败:%1"), QStringLiteral("reading the module failed: %1"))
                .arg(SayEngine(result.reason)));
        return;
    }
    ModuleSession& session = port_.session();
    const ModuleProfile profile =
        ModuleProfile::fromModule(QFileInfo(options_.out).completeBaseName(), session.params,
                                  session.link().parser.PortStateTable);
    QString error;
    if (!WriteOutFile(options_.out, profile.toJson(), &error)) {
        failWith(exitcode::Usage, Say(QStringLiteral("无法保存配置文件 %1:%2"),
                                      QStringLiteral("cannot save the profile %1: %2"))
                                      .arg(options_.out, error));
        return;
    }
    finish(exitcode::Ok);
}

int ModuleCommand::failureStatus(const RunResult& result) const {
    if (port_.wasLost() || !port_.isOpen())
        return exitcode::Port;
    // A refused write or a compare that found a difference is the module's verdict;
    // anything else is a module that stopped answering.
    if (refused_ || !result.fields.isEmpty())
        return exitcode::Fail;
    return exitcode::NoAnswer;
}

void ModuleCommand::reportRun(const RunResult& result) {
    RunRecord record;
    record.result = result;
    record.station = QSysInfo::machineHostName();
    record.operatorName = options_.operatorName;
    record.lot = options_.lot;
    record.serial = options_.serial;
    record.port = port_.name();
    record.device = port_.device();
    record.profileName = profile_.name;
    record.profileSha256 =
        profileBytes_.isEmpty()
            ? QString()
            : QString::fromLatin1(
                  QCryptographicHash::hash(profileBytes_, QCryptographicHash::Sha256).toHex());
    const int status = result.pass ? exitcode::Ok : failureStatus(result);
    if (db_) {
        QString error;
        const std::optional<qint64> id = db_->record(record, &error);
        if (!id) {
            PrintOut(options_.json ? JsonLine(RunJson(record)) : RunTable(record));
            failWith(exitcode::NotRecorded,
                     Say(QStringLiteral("记录失败,本次测试无效: %1"),
                         QStringLiteral("the run could not be recorded and counts for nothing: %1"))
                         .arg(error));
            return;
        }
        record.id = *id;
    }
    PrintOut(options_.json ? JsonLine(RunJson(record)) : RunTable(record));
    finish(status);
}
