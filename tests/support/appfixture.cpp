#include "tests/support/appfixture.h"

#include "app/father.h"
#include "tests/support/testenv.h"
#include "ui/showdata.h"

void AppFixture::start(bool withProbe) {
    testenv::reset();
    lines = std::make_unique<MemoryLines>();
    dialogs = std::make_unique<ScriptedDialogs>();
    ctx.reset();
    restart();
    if (!withProbe) {
        ctx->link().cycle.Timer1.stop();
        line->takeWritten();
        writes.clear();
    }
}

void AppFixture::restart() {
    if (ctx && ctx->father())
        ctx->father()->close();
    ctx.reset();
    ctx = std::make_unique<AppContext>(*dialogs, lines->options({QStringLiteral("mem:1")}));
    ctx->startup();
    line = lines->line(QStringLiteral("mem:1"));
    writes.clear();
    QObject::connect(line, &MemoryLine::bytesWritten, ctx.get(),
                     [this](const QByteArray& bytes) { writes << bytes; });
}

void AppFixture::stop() {
    ctx.reset();
    lines.reset();
    dialogs.reset();
}
