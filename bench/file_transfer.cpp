// Measures the file tools against a pseudo-terminal, with the real serial backend:
//  - the file send of 100,000 bytes at 56000 bit/s 8N1: how long the data takes from
//    the first byte read at the far end to the last, against the line's own time, and
//    how far the window's count ever ran ahead of what the far end had read;
//  - the capture of 1,000,000 bytes arriving as fast as the pseudo-terminal takes them:
//    wall time until the window reports the file complete, CPU time, and the longest
//    time the event loop was held.
// Usage: QT_QPA_PLATFORM=offscreen t83bench-files
#include "app/appcontext.h"
#include "app/father.h"
#include "link/capturepath.h"
#include "link/commcontrol.h"
#include "tools/filereceivewindow.h"
#include "tools/filetrwindow.h"
#include "link/pacedsender.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QQueue>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {
const QString kComplete = QStringLiteral("文件接收完毕!");
constexpr int kSilenceMs = 300; // the capture window's end-of-file silence
constexpr int kSafetyMs = 40000;

// The far end of the line: a pseudo-terminal master. The slave is held open in raw mode
// so that nothing is echoed or translated before the program opens it.
class MasterPty {
  public:
    MasterPty() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
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
    // Everything readable now.
    QByteArray readAvailable() {
        QByteArray out;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.append(buffer, n);
        }
        return out;
    }

  private:
    int fd_ = -1;
    int heldSlave_ = -1;
    QString slave_;
};

class BenchDialogs final : public UserDialogs {
  public:
    Answer message(const QString& text, const QString&, Icon, Buttons) override {
        messages << text;
        if (onMessage)
            onMessage(text);
        return Answer::Ok;
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&) override {
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    QString saveFileName(const QString&, const QString&, const QString&) override {
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }

    QQueue<QString> fileNames;
    QStringList messages;
    std::function<void(const QString&)> onMessage;
};

QByteArray randomBytes(qsizetype n) {
    QByteArray out(n, Qt::Uninitialized);
    QRandomGenerator* random = QRandomGenerator::global();
    for (qsizetype i = 0; i < n; ++i)
        out[i] = char(random->bounded(256));
    return out;
}

// A started program whose COM1 is the pseudo-terminal's slave. The module probe sent at
// start-up is read off the line and its time-out stopped, so only the tools write.
std::unique_ptr<AppContext> startProgram(BenchDialogs& dialogs, MasterPty& pty) {
    auto ctx = std::make_unique<AppContext>(dialogs,
                                            AppContext::Options{{}, [] { return QStringList{}; }});
    ctx->portMap().map(1, pty.slavePath());
    ctx->startup();
    ctx->link().cycle.Timer1.stop();
    if (!ctx->MSComm1().PortOpen()) {
        std::printf("COM1 (%s) did not open: %s\n", qPrintable(pty.slavePath()),
                    qPrintable(dialogs.messages.join(QStringLiteral(" | "))));
        return nullptr;
    }
    QEventLoop settle; // the probe reaches the master
    QTimer::singleShot(100, &settle, &QEventLoop::quit);
    settle.exec();
    pty.readAvailable();
    return ctx;
}

void stopAfter(QEventLoop& loop, bool& timedOut) {
    QTimer::singleShot(kSafetyMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
}

bool fileSend() {
    constexpr qsizetype kBytes = 100000;
    constexpr int kRate = 56000;
    constexpr int kBitsPerByte = 10;
    const double lineSeconds = double(kBytes) * kBitsPerByte / kRate;

    MasterPty pty;
    BenchDialogs dialogs;
    if (!pty.ok()) {
        std::printf("file send: no pseudo-terminal\n");
        return false;
    }
    std::unique_ptr<AppContext> ctx = startProgram(dialogs, pty);
    if (!ctx)
        return false;
    if (const auto set = ctx->MSComm1().setSettings(QStringLiteral("56000,n,8,1")); !set.ok()) {
        std::printf("file send: 56000,n,8,1 refused: %s\n", qPrintable(set.description));
        return false;
    }

    const QByteArray data = randomBytes(kBytes);
    const QString path = QDir::current().filePath(QStringLiteral("send.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != kBytes)
        return false;
    file.close();

    ctx->father()->filetx->trigger();
    FileTrWindow* window = ctx->loaded<FileTrWindow>();
    PacedSender* sender = window ? window->findChild<PacedSender*>() : nullptr;
    if (!sender) {
        std::printf("file send: the window or its sender is missing\n");
        return false;
    }
    dialogs.fileNames.enqueue(path);
    window->Command4_Click();
    const QByteArray header = FileTrWindow::FileHeader("send.bin", quint32(kBytes));

    QElapsedTimer clock;
    clock.start();
    QByteArray got;
    qint64 headerEndNs = -1, firstDataNs = -1, lastDataNs = -1;
    const auto readMaster = [&] {
        const QByteArray bytes = pty.readAvailable();
        if (bytes.isEmpty())
            return;
        const qint64 now = clock.nsecsElapsed();
        const qsizetype before = got.size();
        got += bytes;
        if (before < header.size() && got.size() >= header.size())
            headerEndNs = now;
        if (got.size() > header.size()) {
            if (firstDataNs < 0)
                firstDataNs = now;
            lastDataNs = now;
        }
    };
    QSocketNotifier notifier(pty.fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, readMaster);

    // The window's count is set from the sender's progress (connected first); compare
    // it with what has reached the far end the moment it changes.
    qint64 mostAhead = LLONG_MIN;
    qint64 mostBehind = 0;
    QObject::connect(sender, &PacedSender::progress, [&] {
        readMaster();
        const qint64 shown = window->Label8->text().toLongLong();
        const qint64 arrived = std::max<qint64>(0, got.size() - header.size());
        mostAhead = std::max(mostAhead, shown - arrived);
        mostBehind = std::max(mostBehind, arrived - shown);
    });

    QEventLoop loop;
    bool timedOut = false;
    QObject::connect(sender, &PacedSender::finished, &loop, &QEventLoop::quit);
    QObject::connect(sender, &PacedSender::stopped, &loop, &QEventLoop::quit);
    QObject::connect(sender, &PacedSender::failed, &loop, &QEventLoop::quit);
    stopAfter(loop, timedOut);
    window->Command5_Click();
    loop.exec();
    readMaster();

    const bool intact = got == header + data;
    const double dataSeconds = (lastDataNs - firstDataNs) / 1e9;
    const double pauseMs = (firstDataNs - headerEndNs) / 1e6;
    std::printf("file send    %lld bytes at %d bit/s 8N1: first to last data byte %.3f s, "
                "line time %.3f s, %+.2f %% (goal within 2 %%)%s\n",
                static_cast<long long>(kBytes), kRate, dataSeconds, lineSeconds,
                (dataSeconds - lineSeconds) / lineSeconds * 100,
                intact ? "" : (timedOut ? "  TIMED OUT" : "  BYTES DIFFER"));
    const auto lineMs = [&](qint64 bytes) { return bytes * kBitsPerByte * 1000.0 / kRate; };
    std::printf("file send    count ahead of the bytes read at the far end: at most %lld "
                "bytes = %.1f ms of line time (goal under 50 ms); behind at most %lld bytes = "
                "%.1f ms\n",
                static_cast<long long>(mostAhead), lineMs(mostAhead),
                static_cast<long long>(mostBehind), lineMs(mostBehind));
    std::printf("file send    header end to first data byte %.0f ms\n", pauseMs);
    return intact;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool capture() {
    constexpr qsizetype kBytes = 1000000;
    MasterPty pty;
    BenchDialogs dialogs;
    if (!pty.ok()) {
        std::printf("capture: no pseudo-terminal\n");
        return false;
    }
    std::unique_ptr<AppContext> ctx = startProgram(dialogs, pty);
    if (!ctx)
        return false;
    ctx->showFileCapture();
    FileReceiveWindow* window = ctx->loaded<FileReceiveWindow>();
    if (!window)
        return false;

    const QByteArray name = "big.bin";
    const QByteArray data = randomBytes(kBytes);
    QByteArray stream;
    stream += '\xD7';
    stream += char(name.size());
    stream += name + '*';
    char length[4];
    qToBigEndian(quint32(kBytes), length);
    stream += QByteArray(length, 4) + data;

    QElapsedTimer clock;
    qint64 writtenNs = -1, completeNs = -1;
    qsizetype offset = 0;
    QSocketNotifier writer(pty.fd(), QSocketNotifier::Write);
    writer.setEnabled(false);
    QObject::connect(&writer, &QSocketNotifier::activated, [&] {
        while (offset < stream.size()) {
            const ssize_t n =
                ::write(pty.fd(), stream.constData() + offset, size_t(stream.size() - offset));
            if (n <= 0)
                return; // full: the notifier says when there is room again
            offset += n;
        }
        writer.setEnabled(false);
        writtenNs = clock.nsecsElapsed();
    });

    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });

    // The last data byte taken from the line; the window's silence timer is not exact.
    qint64 lastArrivalNs = -1;
    QObject::connect(&ctx->capture(), &CapturePath::dataArrived,
                     [&] { lastArrivalNs = clock.nsecsElapsed(); });

    QEventLoop loop;
    bool timedOut = false;
    dialogs.onMessage = [&](const QString& text) {
        if (text == kComplete && completeNs < 0) {
            completeNs = clock.nsecsElapsed();
            loop.quit();
        }
    };
    stopAfter(loop, timedOut);
    const double cpuBefore = cpuSeconds();
    tick.start(1);
    sinceTick.start();
    clock.start();
    writer.setEnabled(true);
    loop.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    tick.stop();

    // Saved and read back, so that a fast but wrong capture does not pass for a result.
    const QString savePath = QDir::current().filePath(QStringLiteral("captured.bin"));
    dialogs.fileNames.enqueue(savePath);
    window->Command1_Click();
    QFile saved(savePath);
    const bool intact = !timedOut && saved.open(QIODevice::ReadOnly) && saved.readAll() == data;

    std::printf("capture      %lld bytes unpaced: window complete after %.3f s less its %d ms "
                "silence = %.3f s; last byte taken at %.3f s; writing took %.3f s%s\n",
                static_cast<long long>(kBytes), completeNs / 1e9, kSilenceMs,
                (completeNs / 1e6 - kSilenceMs) / 1000, lastArrivalNs / 1e9, writtenNs / 1e9,
                intact ? "" : (timedOut ? "  TIMED OUT" : "  SAVED FILE DIFFERS"));
    std::printf("capture      CPU %.3f s (program and the far end's writer together)\n", cpu);
    std::printf("capture      longest event-loop hold %lld ms (goal under 50 ms)\n",
                static_cast<long long>(longestGap));
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
    const bool sendOk = fileSend();
    const bool captureOk = capture();
    return sendOk && captureOk ? 0 : 1;
}
