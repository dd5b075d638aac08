#include "serial/portopen.h"

#include "app/appcontext.h"
#include "app/father.h"
#include "app/settingsstore.h"
#include "link/commcontrol.h"
#include "link/showdata.h"

#include <QCoreApplication>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>

namespace {

const QString kOpenFailedPanel = QStringLiteral("打开串口时出错");

void reportFailure(AppContext& ctx, const CommControl::Result& result) {
    switch (result.failure) {
    case CommControl::Failure::InvalidPort:
        ctx.dialogs().message(QStringLiteral("设置串口无效,确定后请重新设置"),
                              QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        break;
    case CommControl::Failure::AlreadyOpen:
        ctx.dialogs().message(QStringLiteral("设置串口已打开,确定后请重新设置"),
                              QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        break;
    default:
        ctx.dialogs().message(result.description, QCoreApplication::applicationName(),
                              UserDialogs::Icon::None);
        break;
    }
}

void setPortPanel(AppContext& ctx, const QString& text) {
    if (ctx.father())
        ctx.father()->setPortPanel(text);
}

// Runs the steps in order and stops at the first that fails.
template <typename... Steps> CommControl::Result runSteps(Steps&&... steps) {
    CommControl::Result result;
    ((result.ok() ? (void)(result = steps()) : (void)0), ...);
    return result;
}

} // namespace

bool OpenStartupPort(AppContext& ctx, qint16 port, qint32 rate) {
    CommControl& comm = ctx.MSComm1();
    comm.setRThreshold(1);
    comm.setInputLen(1);
    const QString settings = QString::number(rate) + QStringLiteral(",n,8,1");
    const auto result =
        runSteps([&] { return comm.setCommPort(port); }, [&] { return comm.setSettings(settings); },
                 [&] { return comm.setPortOpen(true); });
    if (!result.ok()) {
        reportFailure(ctx, result);
        SetModuleCommandsEnabled(ctx, false);
        SetLinkCommandsEnabled(ctx, false);
        setPortPanel(ctx, kOpenFailedPanel);
        return false;
    }
    setPortPanel(ctx, QStringLiteral("COM%1,%2").arg(port).arg(settings));
    ctx.CurrentRate = rate;
    return true;
}

bool ApplyPortSettings(AppContext& ctx, qint16 port, qint32 rate, const QString& settings) {
    CommControl& comm = ctx.MSComm1();
    const auto result = runSteps(
        [&] { return comm.PortOpen() ? comm.setPortOpen(false) : CommControl::Result{}; },
        [&] {
            comm.setRThreshold(1);
            comm.setInputLen(1);
            return comm.setCommPort(port);
        },
        [&] { return comm.setSettings(settings); }, [&] { return comm.setPortOpen(true); });
    if (!result.ok()) {
        reportFailure(ctx, result);
        if (result.failure == CommControl::Failure::AlreadyOpen)
            ctx.intset = ctx.intfile = ctx.intnet = ctx.inttool = 1;
        SetModuleCommandsEnabled(ctx, false);
        SetLinkCommandsEnabled(ctx, false);
        setPortPanel(ctx, kOpenFailedPanel);
        return false;
    }
    setPortPanel(ctx, QStringLiteral("COM%1,%2").arg(port).arg(settings));
    SettingsStore& store = ctx.store();
    if (!store.keyExists(RegKeys::PortSetting))
        return false;
    store.deleteValue(RegKeys::PortSetting, QStringLiteral("串口号"));
    store.deleteValue(RegKeys::PortSetting, QStringLiteral("波特率"));
    store.writeValue(RegKeys::PortSetting, QStringLiteral("串口号"), QString::number(port));
    store.writeValue(RegKeys::PortSetting, QStringLiteral("波特率"), QString::number(rate));
    SetLinkCommandsEnabled(ctx, true);
    return true;
}

void SetModuleCommandsEnabled(AppContext& ctx, bool on) {
    Father* f = ctx.father();
    if (!f)
        return;
    f->menusetmodule->setEnabled(on);
    f->menusetgate->setEnabled(on);
    Father::setMenuEnabled(f->menunet, on);
    Father::setMenuEnabled(f->menutool, on);
    f->buttonMenuItem(QStringLiteral("key12"))->setEnabled(on);
    f->buttonMenuItem(QStringLiteral("key13"))->setEnabled(on);
    for (int n : {5, 7, 13})
        f->toolButton(n)->setEnabled(on);
}

void SetLinkCommandsEnabled(AppContext& ctx, bool on) {
    ctx.showdata()->StatusBar1->setEnabled(on);
    if (Father* f = ctx.father()) {
        for (int n : {3, 4, 9, 11})
            f->toolButton(n)->setEnabled(on);
        Father::setMenuEnabled(f->menudata, on);
        Father::setMenuEnabled(f->menuwindow, on);
    }
}
