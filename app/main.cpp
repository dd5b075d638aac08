#include "app/appcontext.h"
#include "app/father.h"
#include "app/splashwindow.h"
#include "app/userdialogs.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// SIGTERM, SIGINT and SIGHUP (`kill`, Ctrl+C in the terminal, the session ending) close
// the main window as its close box does, so the tool choices are saved and portstate.dat
// and the port's lock file go as at any close. The handler only writes a byte to a
// socket pair; the event loop does the rest.
int g_signalPair[2] = {-1, -1};
volatile sig_atomic_t g_signalPending = 0;

void onCloseSignal(int signal) {
    if (g_signalPending) {
        // The last one was never taken: the event loop is not running, so this one ends
        // the program the way it would have ended without the handler.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        ::raise(signal);
        return;
    }
    g_signalPending = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPair[0], &byte, 1);
    errno = saved;
}

void closeOnSignals(AppContext& ctx) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPair) != 0)
        return;
    for (int fd : g_signalPair) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(qintptr(g_signalPair[1]), QSocketNotifier::Read, &ctx);
    QObject::connect(notifier, &QSocketNotifier::activated, &ctx, [&ctx] {
        char bytes[16];
        while (::read(g_signalPair[1], bytes, sizeof bytes) > 0) {
        }
        g_signalPending = 0;
        // Before the main window exists (the splash) there is nothing to close.
        if (Father* father = ctx.father())
            father->close();
        // Ends the program even while a modal box or another window is up.
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal the program was started to ignore (nohup, a background job) stays
        // ignored.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}
#endif

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("t83tool"));
    QApplication::setOrganizationName(QStringLiteral("Norvik"));

    // Standard buttons of message boxes and dialogs read in Chinese ("确定", "取消").
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    QtUserDialogs dialogs;
    AppContext ctx(dialogs);
#ifdef Q_OS_UNIX
    closeOnSignals(ctx);
#endif
    // The splash shows for a second, then the main window opens and starts up.
    auto* splash = new SplashWindow(ctx);
    splash->show();
    splash->Form_Load();
    return QApplication::exec();
}
