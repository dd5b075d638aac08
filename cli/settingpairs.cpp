#include "cli/settingpairs.h"

#include "cli/text.h"

#include <QRegularExpression>

namespace {
std::optional<PortConfigTexts> PortFromLine(const QString& line) {
    const QStringList parts = line.split(QLatin1Char('/'));
    PortConfigTexts t;
    t.direction = parts.value(0);
    if (t.isInput() && parts.size() == 2)
        t.report = parts.at(1);
    else if (!t.isInput() && parts.size() == 4)
        t = {parts.at(0), parts.at(1), {}, parts.at(2), parts.at(3)};
    else
        return std::nullopt;
    quint8 b1 = 0, b2 = 0;
    if (!EncodePortConfig(t, &b1, &b2))
        return std::nullopt;
    return t;
}
} // namespace

std::optional<ModuleProfile> ProfileFromPairs(const QStringList& pairs, QString* error) {
    static const QRegularExpression portName(QStringLiteral("^PB([1-8])$"));
    ModuleProfile profile;
    for (const QString& pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString name = pair.left(eq).trimmed();
        const QString value = pair.mid(eq + 1);
        if (eq <= 0) {
            *error =
                Say(QStringLiteral("%1: 需要为 名称=值"), QStringLiteral("%1: expected NAME=VALUE"))
                    .arg(pair);
            return std::nullopt;
        }
        if (const auto m = portName.match(name); m.hasMatch()) {
            const auto port = PortFromLine(value);
            if (!port) {
                *error = Say(QStringLiteral("%1: 不是端口的设置(如 输入/%2 或 输出/应答/%3/%4)"),
                             QStringLiteral("%1: not a port setting (such as 输入/%2 or "
                                            "输出/应答/%3/%4)"))
                             .arg(name, PortConfigTexts::PortReportItems().value(0),
                                  PortConfigTexts::PortDestinationItems().value(0),
                                  PortConfigTexts::PortFormItems().value(0));
                return std::nullopt;
            }
            profile.ports[size_t(m.captured(1).toInt() - 1)] = port;
            continue;
        }
        if (const QString what = ModuleProfile::checkSetting(name, value); !what.isEmpty()) {
            *error = name + QStringLiteral(": ") + what;
            return std::nullopt;
        }
        profile.settings.insert(name, value);
    }
    return profile;
}
