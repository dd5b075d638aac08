// build/bin/t83bench-production: seconds per module at the production station against
// the simulated module on a pseudo-terminal at 9600 bit/s, for a module that already
// holds the profile (no writes) and for one that needs all eleven settings written, set
// beside the protocol's own floor (two reads of 12 ticks of 100 ms, two polls of 9 ticks
// of 100 ms, and the writes' line time).
#include "link/modulesession.h"
#include "link/productionrun.h"
#include "link/qserialbackend.h"
#include "protocol/codes.h"
#include "protocol/frames.h"
#include "serial/portopen.h"
#include "sim/station.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <cstdio>

namespace {
const char* const kProfile = R"({"format":1,"name":"bench",
    "settings":{"txfreque":"231250","rxfreque":"231250","meaddress":"0A0B","headdress":"0C0D",
                "repeat":"05","invite":"1234","typepower":"省电","typeheat":"温补",
                "typeaudio":"申请","sqr":"数字","datbit":"九位"}})";

// Bytes both ways of one read and one poll: each request and its reply (code, payload).
qint64 readAndPollBytes() {
    qint64 bytes = 0;
    for (int step = 1; step <= t83::kReadSteps; ++step)
        bytes +=
            t83::ReadRequestFrame(step).size() + 2 + ReplyPayloadLength(t83::ReadRequestCode(step));
    for (int port = 0; port < 8; ++port)
        bytes += t83::PortQueryFrame(port).size() + 2 + ReplyPayloadLength(t83::cmd::PortQuery);
    return bytes;
}

double runOnce(t83sim::Station& station, ModuleSession& session, const ModuleProfile& profile,
               bool needsWrites, qint64* writeBytes) {
    station.protocol().settings() = t83sim::ModuleSettings{};
    if (!needsWrites) { // a module that already holds the profile
        ProductionRun prepare(session);
        QEventLoop loop;
        QObject::connect(&prepare, &ProductionRun::finished, &loop, &QEventLoop::quit);
        prepare.start(profile);
        loop.exec();
    }
    *writeBytes = 0;
    for (const QByteArray& f : profile.writeFrames(ModuleParameters{}, {}))
        *writeBytes += needsWrites ? f.size() : 0;
    ProductionRun run(session);
    QEventLoop loop;
    RunResult result;
    QObject::connect(&run, &ProductionRun::finished, &loop, [&](const RunResult& r) {
        result = r;
        loop.quit();
    });
    run.start(profile);
    loop.exec();
    if (!result.pass)
        std::fprintf(stderr, "not a pass: %s\n", qPrintable(result.reason));
    return result.durationMs / 1000.0;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    t83sim::Station station;
    if (!station.openPty())
        return 1;
    ModuleSession session([&](int) { return station.linePath(); }, &QSerialBackend::create);
    if (!OpenPort(session.comm(), 1, QStringLiteral("9600,n,8,1")).ok())
        return 1;
    QString error;
    const auto profile = ModuleProfile::fromJson(kProfile, &error);
    const double floorReads = 2 * (1.2 + 0.9);
    for (bool replyDriven : {false, true}) {
        session.setReplyDrivenRead(replyDriven);
        std::printf("%s\n", replyDriven ? "reply-driven read" : "timed read (default)");
        for (bool writes : {false, true}) {
            double total = 0;
            qint64 bytes = 0;
            constexpr int kRuns = 3;
            for (int i = 0; i < kRuns; ++i)
                total += runOnce(station, session, *profile, writes, &bytes);
            const double each = total / kRuns;
            const double lineTime = bytes * 10.0 / 9600;
            if (replyDriven) {
                // No timed floor: what is left is the line time of every request and
                // reply, which a pseudo-terminal does not impose (it takes bytes at once
                // whatever the rate): the figure is the program's own share.
                const double floor = (2 * readAndPollBytes() + bytes) * 10.0 / 9600;
                std::printf("  %-20s %.3f s per module here; on a 9600 bit/s line at least "
                            "%.3f s (its line time)\n",
                            writes ? "all eleven written" : "no writes", each, floor);
                continue;
            }
            const double floor = floorReads + lineTime;
            std::printf("  %-20s %.3f s per module, floor %.3f s, %+.1f %%\n",
                        writes ? "all eleven written" : "no writes", each, floor,
                        100.0 * (each - floor) / floor);
        }
    }
    return 0;
}
