// t83sim: a simulated T83 module on a pseudo-terminal or serial line.

#include "sim/cli.h"
#include "sim/station.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <QRandomGenerator>
#include <QTimer>

#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace t83sim;

namespace {

void printLine(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void printError(const QString& message) {
    std::fputs(qPrintable(QStringLiteral("t83sim: ") + message + QLatin1Char('\n')), stderr);
}

void logTraffic(Station* station, const QString& name) {
    QObject::connect(station, &Station::frameReceived, station, [name](const ReceivedFrame& frame) {
        printError(
            QStringLiteral("%1 frame %2 (%3)")
                .arg(name, QString::fromLatin1(frame.bytes().toHex(' ')), commandName(frame.code)));
    });
    QObject::connect(station, &Station::replyQueued, station, [name](const QByteArray& reply) {
        printError(QStringLiteral("%1 reply %2").arg(name, QString::fromLatin1(reply.toHex(' '))));
    });
    QObject::connect(station, &Station::radioSent, station, [name](const QByteArray& data) {
        printError(QStringLiteral("%1 radio %2 bytes").arg(name).arg(data.size()));
    });
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT are turned into a byte on a socket pair so that the
// event loop, not the signal handler, ends the program.
int g_signalPipe[2] = {-1, -1};

// SIGUSR1 (a module swapped in) comes the same way, as another byte.
void onSignal(int signal) {
    const char byte = signal == SIGUSR1 ? 2 : 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[0], &byte, 1);
}

bool quitOnSignals(QCoreApplication* app, std::function<void()> swap) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(qintptr(g_signalPipe[1]), QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, swap] {
        char byte = 0;
        if (::read(g_signalPipe[1], &byte, 1) == 1 && byte == 2)
            swap();
        else
            app->quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGUSR1, &action, nullptr) == 0;
}
#endif

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t83sim"));

    CliConfig config;
    QString error;
    if (!parseCommandLine(QCoreApplication::arguments(), &config, &error)) {
        printError(error);
        return 2;
    }
    if (config.helpRequested) {
        std::fputs(qPrintable(config.helpText), stdout);
        return 0;
    }
    auto station = std::make_unique<Station>(config.options);
    quint32 modules = 0;
    const auto freshModule = [&] {
        ++modules;
        if (config.randomize)
            station->protocol().settings() =
                randomSettings(QRandomGenerator::global()->generate() ^ modules);
    };
    freshModule();
    // Another module on the line: the old one is unplugged (nothing answers for a
    // second), then the new one answers with its own settings.
    const auto swap = [&] {
        SimOptions absent = config.options;
        absent.silent = true;
        station->protocol().setOptions(absent);
        QTimer::singleShot(1000, station.get(), [&] {
            station->protocol().setOptions(config.options);
            station->protocol().settings() = ModuleSettings{};
            freshModule();
            printLine(QStringLiteral("SWAPPED %1").arg(modules));
        });
    };
#ifdef Q_OS_UNIX
    if (!quitOnSignals(&app, swap)) {
        printError(QStringLiteral("cannot install signal handlers"));
        return 1;
    }
    // A line "swap" on standard input does the same as SIGUSR1.
    auto* input = new QSocketNotifier(qintptr(STDIN_FILENO), QSocketNotifier::Read, &app);
    QObject::connect(input, &QSocketNotifier::activated, &app, [input, swap] {
        char buffer[256];
        const auto n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input->setEnabled(false); // closed: no more lines
            return;
        }
        if (QByteArray(buffer, int(n)).contains("swap"))
            swap();
    });
#endif
    const bool onDevice = !config.device.isEmpty();
    const bool opened = onDevice ? station->openDevice(config.device, config.baud, &error)
                                 : station->openPty(&error);
    if (!opened) {
        printError(onDevice ? QStringLiteral("cannot open %1: %2").arg(config.device, error)
                            : QStringLiteral("pty mode is unavailable: %1").arg(error));
        return 1;
    }
    std::unique_ptr<Station> peer;
    if (config.peer) {
        peer = std::make_unique<Station>(config.options);
        if (!peer->openPty(&error)) {
            printError(QStringLiteral("pty mode is unavailable: %1").arg(error));
            return 1;
        }
        Station::link(station.get(), peer.get());
    }
    ImpairLog impairLog;
    if (!config.impair.logPath.isEmpty() && !impairLog.open(config.impair.logPath, &error)) {
        printError(QStringLiteral("cannot write %1: %2").arg(config.impair.logPath, error));
        return 1;
    }
    if (peer && config.impair.any()) {
        // Each direction has its own generator, so one does not depend on the timing of
        // the other.
        const ImpairOptions& o = config.impair;
        ImpairLog* log = o.logPath.isEmpty() ? nullptr : &impairLog;
        station->setImpairer(
            std::make_unique<Impairer>(o, o.seed, QStringLiteral("pty>peer"), log));
        peer->setImpairer(
            std::make_unique<Impairer>(o, o.seed ^ 0x9E3779B9u, QStringLiteral("peer>pty"), log));
    }
    if (config.verbose) {
        logTraffic(station.get(), QStringLiteral("main"));
        if (peer)
            logTraffic(peer.get(), QStringLiteral("peer"));
    }
    QObject::connect(station.get(), &Station::lineError, &app, [](const QString& message) {
        printError(QStringLiteral("line error: %1").arg(message));
    });

    printLine((onDevice ? QStringLiteral("DEVICE ") : QStringLiteral("PTY ")) +
              station->linePath());
    if (peer)
        printLine(QStringLiteral("PEER ") + peer->linePath());
    return app.exec();
}
