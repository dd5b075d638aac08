#include "config/debugwindow.h"

#include "app/appcontext.h"

DebugWindow::DebugWindow(AppContext& ctx) : ctx_(ctx) {}

DebugWindow::~DebugWindow() {
    ctx_.windowOpen.debugWindowOpen = false;
}

void DebugWindow::Form_Load() {
    ctx_.windowOpen.debugWindowOpen = true;
}
