// Measures the receive path over a pseudo-terminal with the real serial backend: printable
// log lines (no D7) written by a far-end thread, read by the serial object, parsed and
// shown in the receive window, in hex and in character display:
//  - as fast as the pseudo-terminal takes them: CPU seconds per MB of the program's
//    thread and the longest time its event loop was held;
//  - at 11,520 bytes/s in 1 ms writes (115200 bit/s): CPU seconds per MB and the share
//    of a core.
// Each run checks that the box ends with the last bytes sent.
// Usage: QT_QPA_PLATFORM=offscreen t83bench [flood bytes] [paced bytes]
#include "app/appcontext.h"
#include "app/father.h"
#include "link/commcontrol.h"
#include "link/replydisplay.h"
#include "ui/showdata.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
class SilentDialogs final : public UserDialogs {
  public:
    Answer message(const QString&, const QString&, Icon, Buttons) override { return Answer::Ok; }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
};

// The far end: a pseudo-terminal master; the slave is held open in raw mode.
class MasterPty {
  public:
    MasterPty() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0)
            return;
        slave_ = QString::fromLocal8Bit(::ptsname(fd_));
        heldSlave_ = ::open(::ptsname(fd_), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (heldSlave_ >= 0 && ::tcgetattr(heldSlave_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(heldSlave_, TCSANOW, &tio);
        }
    }
    ~MasterPty() {
        if (heldSlave_ >= 0)
            ::close(heldSlave_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0 && heldSlave_ >= 0; }
    int fd() const { return fd_; }
    QString slavePath() const { return slave_; }
    void drain() {
        char buffer[4096];
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) &&
               ::read(fd_, buffer, sizeof buffer) > 0)
            ;
    }

  private:
    int fd_ = -1;
    int heldSlave_ = -1;
    QString slave_;
};

QByteArray logLines(qsizetype n) {
    QByteArray out;
    out.reserve(n + 128);
    for (int i = 0; out.size() < n; ++i)
        out += QByteArray("[") + QByteArray::number(i * 7 % 100000) +
               "] rx len=" + QByteArray::number(i % 64) + " rssi=-" +
               QByteArray::number(40 + i % 50) +
               " data=" + QByteArray("0123456789abcdefghij").left(5 + i % 15) + "\r\n";
    out.resize(n);
    return out;
}

double threadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Writes `data` to the master: all at once, or `rate` bytes/s in writes every tickMs.
void writeAll(int fd, const QByteArray& data, int rate, int tickMs) {
    const auto start = std::chrono::steady_clock::now();
    qsizetype sent = 0;
    for (int tick = 1; sent < data.size(); ++tick) {
        qsizetype due = data.size();
        if (rate > 0) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(tick * tickMs));
            due = std::min<qsizetype>(data.size(), qint64(rate) * tick * tickMs / 1000);
        }
        while (sent < due) {
            const ssize_t n = ::write(fd, data.constData() + sent, size_t(due - sent));
            if (n <= 0) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 10);
                continue;
            }
            sent += n;
        }
    }
}

bool run(AppContext& ctx, MasterPty& pty, qsizetype total, bool asText, int rate) {
    ShowData* window = ctx.showdata();
    window->Text1->clear();
    ctx.link().setDisplayFormat(asText ? Link::DisplayFormat::Text : Link::DisplayFormat::Hex);
    const QByteArray data = logLines(total);

    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer tick; // only while flooding: at 1 ms it would be most of a paced run's cost
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    if (rate == 0) {
        tick.start(1);
        sinceTick.start();
    }
    std::atomic<bool> written{false};
    const double cpuBefore = threadCpu();
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        writeAll(pty.fd(), data, rate, 1);
        written = true;
    });
    // Done when everything is written and the line has been quiet for 300 ms.
    QEventLoop loop;
    qint64 quietSince = 0;
    int lastCount = -1;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        const int shown = window->Text1->document()->characterCount();
        if (!written || shown != lastCount) {
            lastCount = shown;
            quietSince = clock.elapsed();
        } else if (clock.elapsed() - quietSince > 300) {
            loop.quit();
        }
    });
    check.start(50);
    loop.exec();
    writer.join();
    const double seconds = (clock.elapsed() - 300) / 1000.0;
    const double cpu = threadCpu() - cpuBefore;
    tick.stop();

    // The box ends with the last bytes sent (line breaks aside).
    QString tail = window->Text1->toPlainText();
    tail.remove(QChar::ParagraphSeparator).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    QByteArray last = data.right(200);
    QString expected = asText ? QString::fromLatin1(last) : HexPairs(last);
    expected.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    const bool intact = tail.endsWith(expected);
    const double mb = total / 1e6;
    if (rate == 0)
        std::printf("%-10s %9lld bytes unpaced: %.3f CPU s/MB, %.2f s wall, longest event-loop "
                    "hold %lld ms%s\n",
                    asText ? "characters" : "hex", static_cast<long long>(total), cpu / mb, seconds,
                    static_cast<long long>(longestGap), intact ? "" : "  LAST BYTES NOT SHOWN");
    else
        std::printf("%-10s %9lld bytes at %d B/s in 1 ms writes: %.2f CPU s/MB = %.1f %% of a "
                    "core%s\n",
                    asText ? "characters" : "hex", static_cast<long long>(total), rate, cpu / mb,
                    cpu / seconds * 100, intact ? "" : "  LAST BYTES NOT SHOWN");
    return intact;
}
} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    QTemporaryDir work;
    if (!config.isValid() || !work.isValid())
        return 2;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QDir::setCurrent(work.path());
    QApplication app(argc, argv);
    const qsizetype flood = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10000000;
    const qsizetype paced = argc > 2 ? QByteArray(argv[2]).toLongLong() : 115200;
    MasterPty pty;
    if (!pty.ok()) {
        std::printf("no pseudo-terminal\n");
        return 2;
    }
    SilentDialogs dialogs;
    AppContext ctx(dialogs, AppContext::Options{{}, [] { return QStringList{}; }});
    ctx.portMap().map(1, pty.slavePath());
    ctx.startup();
    ctx.link().cycle.Timer1.stop();
    if (!ctx.MSComm1().PortOpen()) {
        std::printf("COM1 (%s) did not open\n", qPrintable(pty.slavePath()));
        return 2;
    }
    ctx.MSComm1().setSettings(QStringLiteral("115200,n,8,1"));
    QEventLoop settle; // the probe reaches the master
    QTimer::singleShot(100, &settle, &QEventLoop::quit);
    settle.exec();
    pty.drain();
    bool ok = true;
    for (bool asText : {false, true}) {
        ok = run(ctx, pty, flood, asText, 0) && ok;
        ok = run(ctx, pty, paced, asText, 11520) && ok;
    }
    return ok ? 0 : 1;
}
