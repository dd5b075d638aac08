// Measures the receive path under a flood: bytes per second through the serial object
// and the reply parser into the receive window, and the longest time the event loop
// was held, in hex and in character display. Usage: t83bench [bytes]
#include "app/appcontext.h"
#include "app/father.h"
#include "link/commcontrol.h"
#include "link/memorybackend.h"
#include "link/showdata.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

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

void run(AppContext& ctx, MemoryLine& line, qsizetype total, bool asText) {
    ctx.link().parser.ShowAsText = asText;
    ctx.MSComm1().setInputMode(asText ? CommControl::comInputModeText
                                      : CommControl::comInputModeBinary);
    ctx.MSComm1().setInputLen(asText ? 0 : 1);
    QByteArray chunk(4096, 'A');
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    tick.start(1);
    sinceTick.start();
    QElapsedTimer clock;
    clock.start();
    for (qsizetype fed = 0; fed < total; fed += chunk.size()) {
        line.feed(chunk); // as fast as a driver could hand it over
        QCoreApplication::processEvents();
    }
    while (ctx.MSComm1().InBufferCount() > 0)
        QCoreApplication::processEvents();
    const double seconds = clock.elapsed() / 1000.0;
    std::printf("%-10s %10lld bytes  %8.0f bytes/s  longest event-loop hold %lld ms\n",
                asText ? "characters" : "hex", static_cast<long long>(total), total / seconds,
                static_cast<long long>(longestGap));
}
} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QApplication app(argc, argv);
    const qsizetype total = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    MemoryLine line;
    SilentDialogs dialogs;
    AppContext::Options options;
    options.backendFactory = [&line](const QString&) {
        return std::make_unique<MemoryBackend>(&line);
    };
    options.portEnumerator = [] { return QStringList{QStringLiteral("mem:1")}; };
    AppContext ctx(dialogs, options);
    ctx.startup();
    ctx.link().cycle.Timer1.stop();
    run(ctx, line, total, false);
    run(ctx, line, total, true);
    return 0;
}
