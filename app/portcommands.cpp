#include "app/portcommands.h"

#include "app/appcontext.h"
#include "app/father.h"
#include "app/settingsstore.h"
#include "serial/portopen.h"

#include <QCoreApplication>

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

void failed(AppContext& ctx, const CommControl::Result& result) {
    reportFailure(ctx, result);
    ctx.link().SetModuleCommandsEnabled(false);
    ctx.link().SetLinkCommandsEnabled(false);
    setPortPanel(ctx, kOpenFailedPanel);
}

} // namespace

bool OpenStartupPort(AppContext& ctx, qint16 port, qint32 rate) {
    const QString settings = QString::number(rate) + QStringLiteral(",n,8,1");
    ctx.showdata(); // the receive window comes with the first use of the serial object
    ctx.link().resetToIdle();
    const auto result = OpenPort(ctx.MSComm1(), port, settings);
    if (!result.ok()) {
        failed(ctx, result);
        return false;
    }
    setPortPanel(ctx, QStringLiteral("COM%1,%2").arg(port).arg(settings));
    ctx.CurrentRate = rate;
    return true;
}

bool ApplyPortSettings(AppContext& ctx, qint16 port, qint32 rate, const QString& settings) {
    ctx.link().resetToIdle();
    const auto result = ReopenPort(ctx.MSComm1(), port, settings);
    if (!result.ok()) {
        if (result.failure == CommControl::Failure::AlreadyOpen)
            ctx.intset = ctx.intfile = ctx.intnet = ctx.inttool = 1;
        failed(ctx, result);
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
    ctx.link().SetLinkCommandsEnabled(true);
    return true;
}

bool ReturnLostPort(AppContext& ctx, qint16 port, const QString& settings) {
    if (ctx.MSComm1().PortOpen())
        return true;
    ctx.link().resetToIdle();
    if (!OpenPort(ctx.MSComm1(), port, settings).ok())
        return false;
    setPortPanel(ctx, QStringLiteral("COM%1,%2").arg(port).arg(settings));
    ctx.link().SetLinkCommandsEnabled(true);
    return true;
}
