#include "config/modulewindow.h"

#include "app/appcontext.h"

ModuleWindow::ModuleWindow(AppContext& ctx) : ctx_(ctx) {}

ModuleWindow::~ModuleWindow() {
    ctx_.windowOpen.moduleWindowOpen = false;
}

void ModuleWindow::Form_Load() {
    ctx_.windowOpen.moduleWindowOpen = true;
}
