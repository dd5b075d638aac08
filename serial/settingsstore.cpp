#include "serial/settingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <cmath>

namespace {
const QString kRootPrefix = QStringLiteral("Software\\Norvik");
}

SettingsStore::SettingsStore() {
#ifdef Q_OS_WIN
    settings_ = std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Software\\Norvik"),
                                            QSettings::NativeFormat);
#else
    settings_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Norvik"), QStringLiteral("t83tool"));
#endif
}

SettingsStore::~SettingsStore() = default;

// "Software\\Norvik\\PortSetting" -> "PortSetting"; deeper keys nest as groups.
QString SettingsStore::groupFor(const QString& keyPath) const {
    QString rest = keyPath;
    if (rest.startsWith(kRootPrefix, Qt::CaseInsensitive))
        rest = rest.mid(kRootPrefix.size());
    while (rest.startsWith(QLatin1Char('\\')))
        rest.remove(0, 1);
    return rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

bool SettingsStore::keyExists(const QString& keyPath) const {
    const QStringList parts = groupFor(keyPath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return true;
    settings_->sync();
    QStringList opened;
    bool found = true;
    for (const QString& part : parts) {
        if (!settings_->childGroups().contains(part)) {
            found = false;
            break;
        }
        settings_->beginGroup(part);
        opened << part;
    }
    for (int i = 0; i < opened.size(); ++i)
        settings_->endGroup();
    return found;
}

QString SettingsStore::GetRegString(const QString& keyPath, const QString& valueName) const {
    if (!keyExists(keyPath))
        return {};
    const QVariant v = settings_->value(groupFor(keyPath) + QLatin1Char('/') + valueName);
    if (!v.isValid() || v.typeId() != QMetaType::QString)
        return {};
    QString text = v.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

void SettingsStore::SetRegString(const QString& keyPath, const QString& valueName,
                                 const QString& text) {
    if (!keyExists(keyPath))
        return;
    const QString full = groupFor(keyPath) + QLatin1Char('/') + valueName;
    settings_->remove(full);
    settings_->setValue(full, text);
    settings_->sync();
}

bool SettingsStore::createKey(const QString& keyPath,
                              const QList<std::pair<QString, QString>>& values) {
    if (!settings_->isWritable())
        return false;
    const QString group = groupFor(keyPath);
    for (const auto& [name, text] : values)
        settings_->setValue(group + QLatin1Char('/') + name, text);
    settings_->sync();
    // A format error is what reading a damaged file left behind; the values were
    // written all the same. Only a refused write is a failure.
    return settings_->status() != QSettings::AccessError;
}

void SettingsStore::deleteValue(const QString& keyPath, const QString& valueName) {
    settings_->remove(groupFor(keyPath) + QLatin1Char('/') + valueName);
    settings_->sync();
}

void SettingsStore::writeValue(const QString& keyPath, const QString& valueName,
                               const QString& text) {
    settings_->setValue(groupFor(keyPath) + QLatin1Char('/') + valueName, text);
    settings_->sync();
}

QStringList SettingsStore::valueNames(const QString& keyPath) const {
    settings_->beginGroup(groupFor(keyPath));
    QStringList names = settings_->childKeys();
    settings_->endGroup();
    return names;
}

QString SettingsStore::location() const {
#ifdef Q_OS_WIN
    return QStringLiteral("注册表项 HKEY_CURRENT_USER\\Software\\Norvik");
#else
    return QStringLiteral("设置文件 %1").arg(QDir::toNativeSeparators(settings_->fileName()));
#endif
}

QString SettingsStore::refusalReason() const {
#ifdef Q_OS_WIN
    return QStringLiteral("注册表拒绝写入");
#else
    const QFileInfo file(settings_->fileName());
    if (file.exists() && !file.isFile())
        return QStringLiteral("它不是普通文件");
    if (file.exists())
        return file.isWritable() ? QString() : QStringLiteral("文件是只读的");
    // The file is still to be made: the nearest folder on its path that exists says why.
    QFileInfo above(file.absolutePath());
    while (!above.exists() && !above.isRoot())
        above = QFileInfo(above.absolutePath());
    if (!above.isDir())
        return QStringLiteral("%1 不是文件夹").arg(QDir::toNativeSeparators(above.filePath()));
    if (!above.isWritable())
        return QStringLiteral("文件夹 %1 不可写").arg(QDir::toNativeSeparators(above.filePath()));
    return QString();
#endif
}

long long LeadingNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?))"));
    const auto match = number.match(text);
    if (!match.hasMatch())
        return 0;
    const double value = match.captured(1).toDouble();
    if (!std::isfinite(value) || std::fabs(value) > 9.0e15)
        return 0;
    return std::llround(value);
}
