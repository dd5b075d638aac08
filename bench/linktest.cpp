// build/bin/t83bench-linktest: a link test of 1000 packets of 32 bytes at 56000 bit/s
// between two stations of `t83sim --peer` on their pseudo-terminals: the time from the
// first packet to the receiver's verdict against the packets' line time, and the CPU of
// the two stations' engines (this process) and of the simulator, for the sender paced at
// one packet a line time and for one block sent at the line's own pace (interval 0).
#include "link/linktest.h"
#include "link/modulesession.h"
#include "link/qserialbackend.h"
#include "serial/portopen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {
constexpr int kCount = 1000;
constexpr int kSize = 32;
const QString kSettings = QStringLiteral("56000,n,8,1");

// CPU seconds (user + system) of a process, from /proc.
double processCpu(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of the file (utime, stime) are 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

double ownCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/t83sim"),
              {QStringLiteral("--peer")});
    QStringList paths;
    while (paths.size() < 2 && sim.waitForReadyRead(5000))
        while (sim.canReadLine())
            paths << QString::fromLocal8Bit(sim.readLine()).trimmed().section(QLatin1Char(' '), 1);
    if (paths.size() < 2) {
        std::fprintf(stderr, "t83sim --peer did not start\n");
        return 1;
    }
    ModuleSession a([&](int) { return paths[0]; }, &QSerialBackend::create);
    ModuleSession b([&](int) { return paths[1]; }, &QSerialBackend::create);
    if (!OpenPort(a.comm(), 1, kSettings).ok() || !OpenPort(b.comm(), 1, kSettings).ok())
        return 1;
    const double lineTime = LinkTest::lineTimeMs(kSize, kSettings);
    const double lineTotal = lineTime * kCount / 1000;
    for (const double interval : {lineTime, 0.0}) {
        LinkTest tx(a);
        LinkTest rx(b);
        LinkTest::Config r;
        r.role = LinkTestRole::Receive;
        rx.start(r);
        LinkTest::Config s;
        s.count = kCount;
        s.size = kSize;
        s.intervalMs = interval;
        QElapsedTimer clock;
        LinkTestResult result;
        qint64 lastMs = 0;
        QObject::connect(&rx, &LinkTest::sample, &app, [&] { lastMs = clock.elapsed(); });
        QEventLoop loop;
        QObject::connect(&rx, &LinkTest::finished, &loop, [&](const LinkTestResult& x) {
            result = x;
            loop.quit();
        });
        const double cpu0 = ownCpu();
        const double sim0 = processCpu(sim.processId());
        clock.start();
        tx.start(s);
        loop.exec();
        const double cpu = ownCpu() - cpu0;
        const double simCpu = processCpu(sim.processId()) - sim0;
        const double elapsed = lastMs / 1000.0;
        std::printf("interval %5.2f ms: last packet at %.3f s, line time %.3f s (%+.1f %%); "
                    "received %d/%d; CPU: stations %.2f s (%.1f %%), t83sim %.2f s (%.1f %%)\n",
                    interval, elapsed, lineTotal, 100 * (elapsed - lineTotal) / lineTotal,
                    result.received, result.total, cpu, 100 * cpu / elapsed, simCpu,
                    100 * simCpu / elapsed);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
