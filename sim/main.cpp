// t83sim: a simulated T83 module on a pseudo-terminal or serial line.

#include "sim/cli.h"
#include "sim/station.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
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

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[0], &byte, 1);
}

bool quitOnSignals(QCoreApplication* app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(qintptr(g_signalPipe[1]), QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
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
#ifdef Q_OS_UNIX
    if (!quitOnSignals(&app)) {
        printError(QStringLiteral("cannot install signal handlers"));
        return 1;
    }
#endif

    auto station = std::make_unique<Station>(config.options);
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
