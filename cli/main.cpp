// t83ctl: the module from the command line, for scripts and production lines.

#include "cli/command.h"
#include "cli/exitcodes.h"
#include "cli/filecommands.h"
#include "cli/linktestcommand.h"
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/portscommand.h"
#include "cli/stopsignals.h"
#include "cli/text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

namespace {

std::unique_ptr<Command> MakeCommand(const CliOptions& o) {
    if (o.command == QLatin1String("ports"))
        return std::make_unique<PortsCommand>(o);
    if (o.command == QLatin1String("send-file"))
        return std::make_unique<SendFileCommand>(o);
    if (o.command == QLatin1String("capture"))
        return std::make_unique<CaptureCommand>(o);
    if (o.command == QLatin1String("linktest"))
        return std::make_unique<LinkTestCommand>(o);
    return std::make_unique<ModuleCommand>(o);
}

// Files the user named are taken from where the command was given.
void MakePathsAbsolute(CliOptions& o) {
    const auto absolute = [](QString& path) {
        if (!path.isEmpty())
            path = QFileInfo(path).absoluteFilePath();
    };
    absolute(o.out);
    absolute(o.profile);
    if (o.command == QLatin1String("send-file"))
        absolute(o.arguments[0]);
    if (!o.port.startsWith(QLatin1String("serial:")) && o.port.contains(QLatin1Char('/')))
        absolute(o.port);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The windows' names: the same results database in the user's data folder.
    QCoreApplication::setApplicationName(QStringLiteral("t83tool"));
    QCoreApplication::setOrganizationName(QStringLiteral("Norvik"));

    QString error;
    std::optional<CliOptions> options = ParseCliArguments(app.arguments().mid(1), &error);
    if (!options) {
        PrintErr(QStringLiteral("t83ctl: %1\n%2\n")
                     .arg(error, Say(QStringLiteral("用法见 t83ctl --help"),
                                     QStringLiteral("see t83ctl --help"))));
        return exitcode::Usage;
    }
    if (options->help) {
        PrintOut(UsageText());
        return exitcode::Ok;
    }
    MakePathsAbsolute(*options);
    // The switch-port poll keeps its table in a file in the working directory: a private
    // folder keeps it out of the script's and away from other runs.
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/t83ctl-XXXXXX"));
    if (work.isValid())
        QDir::setCurrent(work.path());

    StopSignals signals_;
    std::unique_ptr<Command> command = MakeCommand(*options);
    QObject::connect(
        command.get(), &Command::done, &app, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    QObject::connect(&signals_, &StopSignals::stopRequested, command.get(), &Command::interrupt);
    QTimer::singleShot(0, command.get(), &Command::start);
    const int status = app.exec();
    command.reset(); // the port is closed before the working folder goes
    QDir::setCurrent(QDir::tempPath());
    return status;
}
