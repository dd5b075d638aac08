#pragma once

#include "app/appcontext.h"
#include "tests/support/memorylines.h"
#include "tests/support/scripteddialogs.h"

#include <memory>

// A started program whose only port, COM1, is an in-memory line the test drives.
struct AppFixture {
    std::unique_ptr<MemoryLines> lines;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<AppContext> ctx;
    MemoryLine* line = nullptr;
    // Every write the program made to COM1 since start (or restart), one entry a write.
    QList<QByteArray> writes;

    // Fresh settings and working directory, then start-up. Unless `withProbe`, the
    // probe's time-out is stopped and what start-up wrote is taken off the line, so
    // the test begins from a quiet link.
    void start(bool withProbe = false);
    // A new context over the same settings store and lines (a restart of the program).
    void restart();
    void stop();
};
