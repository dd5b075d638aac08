#include "cli/report.h"

#include "cli/text.h"
#include "protocol/portconfig.h"
#include "protocol/profile.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

PortConfigTexts PortAt(const QByteArray& table, int k) {
    if (table.size() < 3 * (k + 1))
        return {};
    return DecodePortConfig(quint8(table.at(3 * k + 1)), quint8(table.at(3 * k + 2)));
}

QJsonObject PortJson(int k, const PortConfigTexts& t) {
    QJsonObject o{{QStringLiteral("port"), QStringLiteral("PB%1").arg(k + 1)},
                  {QStringLiteral("answered"), !t.direction.isEmpty()}};
    if (t.direction.isEmpty())
        return o;
    const QJsonObject texts = PortConfigJson(t);
    for (auto it = texts.begin(); it != texts.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

} // namespace

QString TableCell(const QString& text, int width) {
    // Wide characters take two columns on a terminal.
    int columns = 0;
    for (QChar c : text)
        columns += c.unicode() >= 0x1100 ? 2 : 1;
    return text + QString(std::max(1, width - columns), QLatin1Char(' '));
}

QString JsonLine(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
           QLatin1Char('\n');
}

QJsonObject ReadJson(const ReadReport& r) {
    QJsonObject settings;
    QJsonArray missing;
    if (r.answered) {
        for (const ModuleParameters::Field& f : ModuleParameters::fields()) {
            if (r.params.*f.present)
                settings.insert(QLatin1String(f.name), r.params.*f.text);
            else
                missing.append(QLatin1String(f.name));
        }
    }
    QJsonArray ports;
    if (r.answered)
        for (int k = 0; k < 8; ++k)
            ports.append(PortJson(k, PortAt(r.portTable, k)));
    return {{QStringLiteral("port"), r.port},         {QStringLiteral("device"), r.device},
            {QStringLiteral("answered"), r.answered}, {QStringLiteral("settings"), settings},
            {QStringLiteral("missing"), missing},     {QStringLiteral("ports"), ports}};
}

QString ReadTable(const ReadReport& r) {
    QString out = QStringLiteral("%1 %2\n").arg(r.port, r.device == r.port ? QString() : r.device);
    if (!r.answered)
        return out + SayEngine(QStringLiteral("模块无应答")) + QLatin1Char('\n');
    for (const ModuleParameters::Field& f : ModuleParameters::fields())
        out += TableCell(QLatin1String(f.name), 12) +
               (r.params.*f.present ? r.params.*f.text : SayEngine(QStringLiteral("无此参数"))) +
               QLatin1Char('\n');
    for (int k = 0; k < 8; ++k)
        out += TableCell(QStringLiteral("PB%1").arg(k + 1), 12) +
               SayEngine(PortSummary(PortAt(r.portTable, k))) + QLatin1Char('\n');
    return out;
}

QJsonObject RunJson(const RunRecord& run) {
    const RunResult& r = run.result;
    QJsonArray fields;
    for (const RunField& f : r.fields)
        fields.append(QJsonObject{{QStringLiteral("field"), f.field},
                                  {QStringLiteral("expected"), f.expected},
                                  {QStringLiteral("before"), f.before},
                                  {QStringLiteral("after"), f.after},
                                  {QStringLiteral("ok"), f.ok}});
    QJsonObject o{
        {QStringLiteral("started_at"), IsoUtc(r.startedAt)},
        {QStringLiteral("finished_at"), IsoUtc(r.finishedAt)},
        {QStringLiteral("station"), run.station},
        {QStringLiteral("operator"), run.operatorName},
        {QStringLiteral("lot"), run.lot},
        {QStringLiteral("serial"), run.serial},
        {QStringLiteral("port"), run.port},
        {QStringLiteral("device"), run.device},
        {QStringLiteral("profile_name"), run.profileName},
        {QStringLiteral("profile_sha256"), run.profileSha256},
        {QStringLiteral("result"), r.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")},
        {QStringLiteral("reason"), r.reason},
        {QStringLiteral("duration_ms"), r.durationMs},
        {QStringLiteral("fields"), fields}};
    if (run.id > 0)
        o.insert(QStringLiteral("id"), run.id);
    return o;
}

QString RunTable(const RunRecord& run) {
    const RunResult& r = run.result;
    QString out;
    if (!r.fields.isEmpty())
        out += TableCell(Say(QStringLiteral("项目"), QStringLiteral("field")), 12) +
               TableCell(Say(QStringLiteral("原值"), QStringLiteral("before")), 36) +
               TableCell(Say(QStringLiteral("现值"), QStringLiteral("after")), 36) +
               Say(QStringLiteral("校验"), QStringLiteral("check")) + QLatin1Char('\n');
    for (const RunField& f : r.fields)
        out += TableCell(f.field, 12) + TableCell(SayEngine(f.before), 36) +
               TableCell(SayEngine(f.after), 36) +
               (f.ok ? QStringLiteral("ok") : QStringLiteral("≠ ") + f.expected) +
               QLatin1Char('\n');
    out += r.pass ? Say(QStringLiteral("合格"), QStringLiteral("PASS"))
                  : Say(QStringLiteral("不合格: "), QStringLiteral("FAIL: ")) + SayEngine(r.reason);
    out += Say(QStringLiteral("  (用时 %1 秒)"), QStringLiteral("  (%1 s)"))
               .arg(r.durationMs / 1000.0, 0, 'f', 1) +
           QLatin1Char('\n');
    return out;
}
