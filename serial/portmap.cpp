#include "serial/portmap.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <map>

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
    return out;
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
    QStringList names;
    for (const auto& [n, entry] : table) {
        if (QFileInfo::exists(entry.second))
            names << entry.first;
    }
    for (const QString& device : enumerator_()) {
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
