#pragma once

#include "serial/portmap.h"

#include <QString>
#include <limits>
#include <memory>

class QSettings;

// The per-user settings store. Keys are named as paths below the user's root
// ("Software\\Norvik\\PortSetting"); every value is text. On Windows this is the
// registry under HKEY_CURRENT_USER; elsewhere an INI file at the user scope
// (organisation "Norvik", application "t83tool"), one group per key.
class SettingsStore {
  public:
    SettingsStore();
    ~SettingsStore();

    // Text of a value, cut at its first NUL; empty when the key or value is missing.
    QString GetRegString(const QString& keyPath, const QString& valueName) const;
    // Replaces the value; does nothing when the key does not exist (never creates it).
    void SetRegString(const QString& keyPath, const QString& valueName, const QString& text);

    bool keyExists(const QString& keyPath) const;
    // Creates the key (if needed) and writes the values; false when the store refuses.
    bool createKey(const QString& keyPath, const QList<std::pair<QString, QString>>& values);
    // Removes one value; used where a value is deleted and written anew.
    void deleteValue(const QString& keyPath, const QString& valueName);
    // Writes a value, creating its key when missing (used for keys this program owns
    // outright, such as the port map).
    void writeValue(const QString& keyPath, const QString& valueName, const QString& text);
    QStringList valueNames(const QString& keyPath) const;
    // Where the settings are kept, for the user: the file, or the registry key.
    QString location() const;
    // Why the store takes no writes, in the user's words (a read-only file, a folder
    // that cannot be made); empty when nothing more is known.
    QString refusalReason() const;

  private:
    QString groupFor(const QString& keyPath) const;
    std::unique_ptr<QSettings> settings_;
};

namespace RegKeys {
inline const QString PortSetting = QStringLiteral("Software\\Norvik\\PortSetting");
inline const QString Frequency = QStringLiteral("Software\\Norvik\\Frequency");
inline const QString ToolMenu = QStringLiteral("Software\\Norvik\\ToolMenu");
inline const QString PortMap = QStringLiteral("Software\\Norvik\\PortMap");
// The production results database: `url` (empty: an SQLite file), `path` (that file,
// default results.sqlite in the user's data folder), `password` (else PGPASSWORD).
inline const QString Results = QStringLiteral("Software\\Norvik\\Results");
} // namespace RegKeys

// Leading decimal number of a stored text ("12abc" -> 12, "" or "x" -> 0), rounded.
long long LeadingNumber(const QString& text);

// A stored number in the type it is used as. One that does not fit is as invalid as no
// number at all (0), never wrapped into another, valid-looking value (65537 is not
// port 1).
template <typename T> T StoredNumber(long long value) {
    return value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()
               ? T(0)
               : static_cast<T>(value);
}

// The port map's table, kept under Software\\Norvik\\PortMap.
class StoredPortTable final : public PortTable {
  public:
    explicit StoredPortTable(SettingsStore& store) : store_(store) {}
    QStringList names() const override { return store_.valueNames(RegKeys::PortMap); }
    QString device(const QString& name) const override {
        return store_.GetRegString(RegKeys::PortMap, name);
    }
    void remove(const QString& name) override { store_.deleteValue(RegKeys::PortMap, name); }
    void write(const QString& name, const QString& device) override {
        store_.writeValue(RegKeys::PortMap, name, device);
    }

  private:
    SettingsStore& store_;
};
