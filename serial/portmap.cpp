#include "serial/portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <map>
#include <set>

namespace {
// "COM12" (any case) -> 12, anything else -> 0.
int portNumberOf(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^COM(\\d+)$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(name.trimmed());
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}
} // namespace

PortMap::PortMap(PortTable& table, Enumerator enumerator)
    : table_(table), enumerator_(enumerator ? std::move(enumerator) : Enumerator(&systemPorts)) {}

QStringList PortMap::systemPorts() {
    QStringList out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        out << info.portName();
#else
        out << info.systemLocation();
#endif
    }
#ifdef Q_OS_WIN
    return out;
#else
    return preferStableNames(out, QStringLiteral("/"));
#endif
}

QStringList PortMap::preferStableNames(const QStringList& devices, const QString& root) {
    const QDir byId(QDir(root).filePath(QStringLiteral("dev/serial/by-id")));
    // Target (canonical path) -> link, for every link there that leads to a device.
    std::map<QString, QString> linkFor;
    const QFileInfoList links =
        byId.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (!link.isSymLink())
            continue;
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !linkFor.count(target))
            linkFor[target] = link.absoluteFilePath();
    }
    QStringList out;
    for (const QString& device : devices) {
        const QString canonical = QFileInfo(device).canonicalFilePath();
        const auto it = canonical.isEmpty() ? linkFor.end() : linkFor.find(canonical);
        out << (it != linkFor.end() ? it->second : device);
    }
    return out;
}

PortMap::DeviceDescription PortMap::describe(int port) const {
    DeviceDescription d;
    d.device = deviceFor(port);
    if (d.device.isEmpty())
        return d;
#ifdef Q_OS_WIN
    const QString location = d.device;
#else
    const QFileInfo file(d.device);
    d.present = file.exists();
    if (file.isSymLink() && d.present)
        d.target = file.canonicalFilePath();
    const QString location = d.target.isEmpty() ? d.device : d.target;
#endif
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != location && info.portName() != location)
            continue;
        d.present = true;
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        break;
    }
    return d;
}

QString PortMap::deviceFor(int port) const {
    if (port < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    for (const QString& name : table_.names()) {
        if (portNumberOf(name) == port)
            return table_.device(name);
    }
    return {};
#endif
}

void PortMap::map(int port, const QString& device) {
    for (const QString& name : table_.names()) {
        if (portNumberOf(name) == port)
            table_.remove(name);
    }
    table_.write(QStringLiteral("COM%1").arg(port), device);
}

QStringList PortMap::presentPortNames() {
#ifdef Q_OS_WIN
    return enumerator_();
#else
    // Number -> (stored name, device) of the persisted table.
    std::map<int, std::pair<QString, QString>> table;
    for (const QString& name : table_.names()) {
        const int n = portNumberOf(name);
        if (n > 0)
            table[n] = {name, table_.device(name)};
    }
    const QStringList enumerated = enumerator_();
    // An entry that holds the plain name of a device now reported by its stable link
    // takes the link, keeping its number, unless the link has a number already; then
    // the plain entry is left alone and not listed, so one device shows once.
    std::set<int> shadowed;
    for (const QString& device : enumerated) {
        const QFileInfo link(device);
        if (!link.isSymLink())
            continue;
        const QString target = link.canonicalFilePath();
        bool linkMapped = false;
        for (const auto& [n, entry] : table)
            linkMapped = linkMapped || entry.second == device;
        for (auto& [n, entry] : table) {
            if (entry.second == device || QFileInfo(entry.second).isSymLink() ||
                QFileInfo(entry.second).canonicalFilePath() != target)
                continue;
            if (linkMapped) {
                shadowed.insert(n);
            } else {
                entry.second = device;
                table_.write(entry.first, device);
                linkMapped = true;
            }
        }
    }
    QStringList names;
    for (const auto& [n, entry] : table) {
        if (!shadowed.count(n) && QFileInfo::exists(entry.second))
            names << entry.first;
    }
    for (const QString& device : enumerated) {
        bool known = false;
        for (const auto& [n, entry] : table)
            known = known || entry.second == device;
        if (known)
            continue;
        int free = 1;
        while (table.count(free))
            ++free;
        const QString name = QStringLiteral("COM%1").arg(free);
        table_.write(name, device);
        table[free] = {name, device};
        names << name;
    }
    return names;
#endif
}

QString ListSerialPorts(PortMap& portMap, QStringList& serialPortNames) {
    serialPortNames = QStringList{QString()};
    int found = 0;
    for (const QString& raw : portMap.presentPortNames()) {
        const QString name = raw.toUpper();
        if (!name.contains(QLatin1String("COM")))
            continue;
        if (found < serialPortNames.size())
            serialPortNames[found] = name;
        else
            serialPortNames.append(name);
        ++found;
    }
    if (serialPortNames.first().isEmpty())
        return {};
    QString joined;
    for (const QString& name : serialPortNames)
        joined += name + QLatin1Char(',');
    return joined;
}
