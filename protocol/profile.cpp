#include "protocol/profile.h"

#include "protocol/codes.h"
#include "protocol/frames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

const QString kNoSuchParameter = QStringLiteral("无此参数");

struct SettingRule {
    const char* name;
    int digits; // 0: one of `choices`
    bool hex;   // hex digits (addresses, retry, group) or decimal
    const char16_t* choices[2];
};

constexpr SettingRule kRules[] = {
    {"txfreque", 6, false, {}},
    {"rxfreque", 6, false, {}},
    {"meaddress", 4, true, {}},
    {"headdress", 4, true, {}},
    {"repeat", 2, true, {}},
    {"invite", 4, true, {}},
    {"typepower", 0, false, {u"普通", u"省电"}},
    {"typeheat", 0, false, {u"普通", u"温补"}},
    {"typeaudio", 0, false, {u"申请", u"非申请"}},
    {"sqr", 0, false, {u"模拟", u"数字"}},
    {"datbit", 0, false, {u"八位", u"九位"}},
};

const SettingRule* ruleOf(const QString& name) {
    for (const SettingRule& r : kRules)
        if (name == QLatin1String(r.name))
            return &r;
    return nullptr;
}

const QString& textOf(const ModuleParameters& p, const QString& name) {
    for (const ModuleParameters::Field& f : ModuleParameters::fields())
        if (name == QLatin1String(f.name))
            return p.*f.text;
    static const QString none;
    return none;
}

bool presentIn(const ModuleParameters& p, const QString& name) {
    for (const ModuleParameters::Field& f : ModuleParameters::fields())
        if (name == QLatin1String(f.name))
            return p.*f.present;
    return false;
}

bool same(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

QString portName(int k) {
    return QStringLiteral("PB%1").arg(k + 1);
}

PortConfigTexts portOf(const QByteArray& table, int k) {
    if (table.size() < 3 * (k + 1))
        return {};
    return DecodePortConfig(quint8(table.at(3 * k + 1)), quint8(table.at(3 * k + 2)));
}

} // namespace

bool ModuleProfile::isEmpty() const {
    return settings.isEmpty() && !version &&
           std::none_of(ports.begin(), ports.end(), [](const auto& p) { return p.has_value(); });
}

const QStringList& ModuleProfile::WritableSettings() {
    static const QStringList names = [] {
        QStringList out;
        for (const SettingRule& r : kRules)
            out << QString::fromLatin1(r.name);
        return out;
    }();
    return names;
}

QStringList ModuleProfile::settingChoices(const QString& name) {
    const SettingRule* rule = ruleOf(name);
    if (!rule || rule->digits != 0)
        return {};
    return {QString::fromUtf16(rule->choices[0]), QString::fromUtf16(rule->choices[1])};
}

int ModuleProfile::settingDigits(const QString& name) {
    const SettingRule* rule = ruleOf(name);
    return rule ? rule->digits : 0;
}

QString ModuleProfile::checkSetting(const QString& name, const QString& text) {
    const SettingRule* rule = ruleOf(name);
    if (!rule)
        return QStringLiteral("不是可以设置的参数");
    if (rule->digits == 0) {
        if (text == QString::fromUtf16(rule->choices[0]) ||
            text == QString::fromUtf16(rule->choices[1]))
            return {};
        return QStringLiteral("只能是\"%1\"或\"%2\"")
            .arg(QString::fromUtf16(rule->choices[0]), QString::fromUtf16(rule->choices[1]));
    }
    bool ok = text.size() == rule->digits;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        ok = ok && ((u >= u'0' && u <= u'9') || (rule->hex && u >= u'A' && u <= u'F'));
    }
    if (ok)
        return {};
    return rule->hex ? QStringLiteral("需要%1位十六进制数(0-9,A-F)").arg(rule->digits)
                     : QStringLiteral("需要%1位十进制数字").arg(rule->digits);
}

QByteArray ModuleProfile::toJson() const {
    QJsonObject root{{QStringLiteral("format"), kFormat}, {QStringLiteral("name"), name}};
    QJsonObject s;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        s.insert(it.key(), it.value());
    root.insert(QStringLiteral("settings"), s);
    QJsonObject p;
    for (int k = 0; k < int(ports.size()); ++k)
        if (ports[k])
            p.insert(portName(k), PortConfigJson(*ports[k]));
    root.insert(QStringLiteral("ports"), p);
    if (version)
        root.insert(QStringLiteral("version"), *version);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<ModuleProfile> ModuleProfile::fromJson(const QByteArray& json, QString* error) {
    const auto fail = [error](const QString& field, const QString& what) {
        if (error)
            *error = field.isEmpty() ? what : field + QStringLiteral(": ") + what;
        return std::nullopt;
    };
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError)
        return fail({}, QStringLiteral("不是有效的配置文件(JSON 第 %1 字符处出错:%2)")
                            .arg(parse.offset)
                            .arg(parse.errorString()));
    if (!doc.isObject())
        return fail({}, QStringLiteral("不是有效的配置文件"));
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toInt(-1) != kFormat)
        return fail(QStringLiteral("format"), QStringLiteral("需要为 %1").arg(kFormat));
    for (const QString& key : root.keys())
        if (!QStringList{QStringLiteral("format"), QStringLiteral("name"),
                         QStringLiteral("settings"), QStringLiteral("ports"),
                         QStringLiteral("version")}
                 .contains(key))
            return fail(key, QStringLiteral("未知的项目"));
    ModuleProfile profile;
    const QJsonValue name = root.value(QStringLiteral("name"));
    if (!name.isUndefined() && !name.isString())
        return fail(QStringLiteral("name"), QStringLiteral("需要为文字"));
    profile.name = name.toString();
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isUndefined()) {
        if (!version.isString())
            return fail(QStringLiteral("version"), QStringLiteral("需要为文字"));
        profile.version = version.toString();
    }
    const QJsonValue settings = root.value(QStringLiteral("settings"));
    if (!settings.isUndefined() && !settings.isObject())
        return fail(QStringLiteral("settings"), QStringLiteral("需要为对象"));
    const QJsonObject s = settings.toObject();
    // In the module window's order, so the first bad field is the one a user sees first.
    for (const QString& key : s.keys())
        if (!ruleOf(key))
            return fail(QStringLiteral("settings.") + key, QStringLiteral("不是可以设置的参数"));
    for (const QString& key : WritableSettings()) {
        if (!s.contains(key))
            continue;
        const QJsonValue v = s.value(key);
        if (!v.isString())
            return fail(QStringLiteral("settings.") + key, QStringLiteral("需要为文字"));
        if (const QString what = checkSetting(key, v.toString()); !what.isEmpty())
            return fail(QStringLiteral("settings.") + key, what);
        profile.settings.insert(key, v.toString());
    }
    const QJsonValue ports = root.value(QStringLiteral("ports"));
    if (!ports.isUndefined() && !ports.isObject())
        return fail(QStringLiteral("ports"), QStringLiteral("需要为对象"));
    const QJsonObject p = ports.toObject();
    for (const QString& key : p.keys()) {
        bool known = false;
        for (int k = 0; k < 8; ++k)
            known = known || key == portName(k);
        if (!known)
            return fail(QStringLiteral("ports.") + key, QStringLiteral("端口只有 PB1 到 PB8"));
    }
    using P = PortConfigTexts;
    for (int k = 0; k < 8; ++k) {
        const QString field = QStringLiteral("ports.") + portName(k);
        if (!p.contains(portName(k)))
            continue;
        if (!p.value(portName(k)).isObject())
            return fail(field, QStringLiteral("需要为对象"));
        const QJsonObject o = p.value(portName(k)).toObject();
        PortConfigTexts t;
        t.direction = o.value(QStringLiteral("direction")).toString();
        if (!P::PortDirectionItems().contains(t.direction))
            return fail(field + QStringLiteral(".direction"),
                        QStringLiteral("只能是\"输入\"或\"输出\""));
        const auto take = [&](const char* key, QString P::*member, const QStringList& items) {
            t.*member = o.value(QLatin1String(key)).toString();
            return items.contains(t.*member);
        };
        if (t.isInput()) {
            if (!take("report", &P::report, P::PortReportItems()))
                return fail(field + QStringLiteral(".report"),
                            QStringLiteral("需要为:") +
                                P::PortReportItems().join(QStringLiteral("、")));
        } else {
            if (!take("answer", &P::answer, P::PortAnswerItems()))
                return fail(field + QStringLiteral(".answer"),
                            QStringLiteral("只能是\"应答\"或\"不应答\""));
            if (!take("destination", &P::destination, P::PortDestinationItems()))
                return fail(field + QStringLiteral(".destination"),
                            QStringLiteral("需要为:") +
                                P::PortDestinationItems().join(QStringLiteral("、")));
            if (!take("form", &P::form, P::PortFormItems()))
                return fail(field + QStringLiteral(".form"),
                            QStringLiteral("需要为:") +
                                P::PortFormItems().join(QStringLiteral("、")));
        }
        profile.ports[k] = t;
    }
    // A profile that names nothing would pass every module that answers.
    if (profile.isEmpty())
        return fail({}, QStringLiteral("配置中没有任何要设置或检查的项目"));
    return profile;
}

ModuleProfile ModuleProfile::fromModule(const QString& name, const ModuleParameters& params,
                                        const QByteArray& portTable) {
    ModuleProfile profile;
    profile.name = name;
    for (const QString& key : WritableSettings())
        if (presentIn(params, key) && checkSetting(key, textOf(params, key)).isEmpty())
            profile.settings.insert(key, textOf(params, key));
    for (int k = 0; k < 8; ++k)
        if (const PortConfigTexts t = portOf(portTable, k); !t.direction.isEmpty())
            profile.ports[k] = t;
    if (params.m_versionb)
        profile.version = params.m_version;
    return profile;
}

QList<QByteArray> ModuleProfile::writeFrames(const ModuleParameters& current,
                                             const QByteArray& portTable) const {
    QList<QByteArray> frames;
    const auto wanted = [&](const char* key) { return settings.value(QLatin1String(key)); };
    const auto differs = [&](const char* key) {
        const QString key16 = QLatin1String(key);
        return settings.contains(key16) &&
               (!presentIn(current, key16) || !same(settings.value(key16), textOf(current, key16)));
    };
    if (differs("txfreque") || differs("rxfreque")) {
        // One frame carries both: the one the profile leaves out keeps what the module
        // holds, when that is a frequency at all.
        const auto value = [&](const char* key) {
            return settings.contains(QLatin1String(key)) ? wanted(key)
                                                         : textOf(current, QLatin1String(key));
        };
        const QString tx = value("txfreque");
        const QString rx = value("rxfreque");
        if (checkSetting(QStringLiteral("txfreque"), tx).isEmpty() &&
            checkSetting(QStringLiteral("rxfreque"), rx).isEmpty())
            frames << t83::FrequencyWriteFrame(tx, rx);
    }
    const std::pair<const char*, quint8> hexSettings[] = {{"meaddress", t83::cmd::SetOwnAddress},
                                                          {"headdress", t83::cmd::SetDestAddress},
                                                          {"repeat", t83::cmd::SetRetryCount},
                                                          {"invite", t83::cmd::SetInviteGroup}};
    for (auto [key, code] : hexSettings)
        if (differs(key))
            frames << t83::HexSettingWriteFrame(code, wanted(key));
    const std::tuple<const char*, quint8, const char16_t*> modes[] = {
        {"typepower", t83::cmd::SetPowerSaving, u"省电"},
        {"typeheat", t83::cmd::SetTempCompensation, u"温补"},
        {"typeaudio", t83::cmd::SetVoiceMode, u"申请"}};
    for (auto [key, code, on] : modes)
        if (differs(key))
            frames << t83::ModeWriteFrame(code, wanted(key) == QString::fromUtf16(on));
    if (differs("sqr"))
        frames << t83::SquelchWriteFrame(wanted("sqr") == QStringLiteral("数字"));
    if (differs("datbit"))
        frames << t83::DataBitsWriteFrame(wanted("datbit") == QStringLiteral("九位"));
    for (int k = 0; k < 8; ++k) {
        quint8 b1 = 0, b2 = 0;
        if (ports[k] && !(*ports[k] == portOf(portTable, k)) &&
            EncodePortConfig(*ports[k], &b1, &b2))
            frames << t83::PortWriteFrame(k, b1, b2);
    }
    return frames;
}

QString PortSummary(const PortConfigTexts& t) {
    if (t.direction.isEmpty())
        return kNoSuchParameter;
    return t.isInput()
               ? t.direction + QLatin1Char('/') + t.report
               : QStringList{t.direction, t.answer, t.destination, t.form}.join(QLatin1Char('/'));
}

QList<FieldCheck> CheckAgainstProfile(const ModuleProfile& profile, const ModuleParameters& read,
                                      const QByteArray& portTable) {
    QList<FieldCheck> out;
    for (const QString& key : ModuleProfile::WritableSettings()) {
        if (!profile.settings.contains(key))
            continue;
        const bool present = presentIn(read, key);
        const QString actual = present ? textOf(read, key) : kNoSuchParameter;
        out.append({key, profile.settings.value(key), actual,
                    present && same(profile.settings.value(key), actual)});
    }
    for (int k = 0; k < 8; ++k) {
        if (!profile.ports[k])
            continue;
        const PortConfigTexts actual = portOf(portTable, k);
        out.append({portName(k), PortSummary(*profile.ports[k]), PortSummary(actual),
                    *profile.ports[k] == actual});
    }
    if (profile.version)
        out.append({QStringLiteral("version"), *profile.version,
                    read.m_versionb ? read.m_version : kNoSuchParameter,
                    read.m_versionb && read.m_version.trimmed() == profile.version->trimmed()});
    return out;
}

QJsonObject PortConfigJson(const PortConfigTexts& t) {
    QJsonObject o{{QStringLiteral("direction"), t.direction}};
    if (t.isInput()) {
        o.insert(QStringLiteral("report"), t.report);
    } else {
        o.insert(QStringLiteral("answer"), t.answer);
        o.insert(QStringLiteral("destination"), t.destination);
        o.insert(QStringLiteral("form"), t.form);
    }
    return o;
}
