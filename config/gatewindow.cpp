#include "config/gatewindow.h"

#include "app/appcontext.h"

GateWindow::GateWindow(AppContext& ctx) : ctx_(ctx) {}

GateWindow::~GateWindow() {
    ctx_.windowOpen.portWindowOpen = false;
}

void GateWindow::Form_Load() {
    ctx_.windowOpen.portWindowOpen = true;
}
