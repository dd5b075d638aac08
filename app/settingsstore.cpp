#include "app/settingsstore.h"

#include "app/userdialogs.h"

void EnsureSettingsKeys(SettingsStore& store, UserDialogs& dialogs) {
    const bool firstRun = !store.keyExists(RegKeys::PortSetting);
    // A store that refuses one key refuses them all: the user hears it once.
    bool refused = false;
    const auto report = [&](bool ok) { refused = refused || !ok; };
    if (firstRun)
        report(store.createKey(RegKeys::PortSetting,
                               {{QStringLiteral("串口号"), QStringLiteral("1")},
                                {QStringLiteral("波特率"), QStringLiteral("1200")}}));
    // PortSetting alone says whether this is a first run; but a first run cut short
    // after it must not leave the other two keys missing for good (the tool choices
    // would read 0 in every later run).
    QList<std::pair<QString, QString>> channels;
    for (int i = 1; i <= 6; ++i)
        channels.append({QStringLiteral("信道%1").arg(i), QStringLiteral("229100229100")});
    if (firstRun || !store.keyExists(RegKeys::Frequency))
        report(store.createKey(RegKeys::Frequency, channels));
    if (firstRun || !store.keyExists(RegKeys::ToolMenu))
        report(store.createKey(RegKeys::ToolMenu,
                               {{QStringLiteral("属性设置"), QStringLiteral("1")},
                                {QStringLiteral("文件传输"), QStringLiteral("1")},
                                {QStringLiteral("组网通讯"), QStringLiteral("1")},
                                {QStringLiteral("工具窗口"), QStringLiteral("1")}}));
    if (refused) {
        const QString reason = store.refusalReason();
        dialogs.message(
            QStringLiteral("初始化错误!无法写入%1%2。")
                .arg(store.location(), reason.isEmpty() ? QString() : QStringLiteral(":") + reason),
            QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    }
}
