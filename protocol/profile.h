#pragma once

#include "protocol/moduleparameters.h"
#include "protocol/portconfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// What a module should be: any of the eleven writable settings (by the record's short
// names, "txfreque" … "datbit", each as the module window shows it), any of the eight
// switch ports, and the software version expected. A field left out is neither written
// nor checked. Stored as JSON ("*.t83profile", UTF-8, "format": 1).
struct ModuleProfile {
    QString name;
    QMap<QString, QString> settings;
    std::array<std::optional<PortConfigTexts>, 8> ports{};
    std::optional<QString> version;

    static constexpr int kFormat = 1;
    // Names nothing to write or check.
    bool isEmpty() const;
    // The eleven writable settings, in the module window's order of writing.
    static const QStringList& WritableSettings();

    QByteArray toJson() const;
    // A profile from JSON; on failure std::nullopt and `error` names the first bad field
    // and what is wrong with it.
    static std::optional<ModuleProfile> fromJson(const QByteArray& json, QString* error);
    // The profile of a module as read (its settings and ports as they are); ports whose
    // bytes name no configuration are left out.
    static ModuleProfile fromModule(const QString& name, const ModuleParameters& params,
                                    const QByteArray& portTable);
    // The two texts a mode setting takes ("普通"/"省电" …); empty for one typed as digits.
    static QStringList settingChoices(const QString& name);
    // How many digits a typed setting has (6 for a frequency, 4 for an address …), else 0.
    static int settingDigits(const QString& name);
    // Empty when `text` is a valid value of setting `name`, else what is wrong.
    static QString checkSetting(const QString& name, const QString& text);

    // The frames that make a module holding `current` (and `portTable`, eight triples)
    // what this profile says: one a setting (both frequencies share one) and one a port,
    // only where they differ, in the module window's order.
    QList<QByteArray> writeFrames(const ModuleParameters& current,
                                  const QByteArray& portTable) const;
};

// One profiled field after a read: what the profile says, what the module holds, and
// whether they agree. `field` is a setting's short name, "PB1".."PB8" or "version".
struct FieldCheck {
    QString field;
    QString expected;
    QString actual;
    bool ok = false;
};

// Every field the profile names, checked against what was read. A setting the module did
// not answer for ("无此参数") never agrees.
QList<FieldCheck> CheckAgainstProfile(const ModuleProfile& profile, const ModuleParameters& read,
                                      const QByteArray& portTable);
// A port's texts as a profile stores them: direction, then the report (an input) or the
// answer, destination and form (an output).
QJsonObject PortConfigJson(const PortConfigTexts& texts);
// A port's texts as one line ("输出/应答/串口输出/输出正脉冲", "输入/端口电平变化后发送变化信息").
QString PortSummary(const PortConfigTexts& texts);
