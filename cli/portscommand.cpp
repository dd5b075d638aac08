#include "cli/portscommand.h"

#include "cli/exitcodes.h"
#include "cli/report.h"
#include "serial/settingsstore.h"

#include <QJsonArray>
#include <QJsonObject>

void PortsCommand::start() {
    SettingsStore store;
    StoredPortTable table(store);
    PortMap map(table);
    QJsonArray ports;
    QString text;
    for (const QString& name : map.presentPortNames()) {
        const PortMap::DeviceDescription d = map.describe(name.mid(3).toInt());
        ports.append(QJsonObject{{QStringLiteral("name"), name},
                                 {QStringLiteral("device"), d.device},
                                 {QStringLiteral("present"), d.present},
                                 {QStringLiteral("description"), d.description},
                                 {QStringLiteral("manufacturer"), d.manufacturer},
                                 {QStringLiteral("serial_number"), d.serialNumber}});
        text +=
            QStringLiteral("%1\t%2\t%3\t%4\n").arg(name, d.device, d.description, d.serialNumber);
    }
    PrintOut(json_ ? JsonLine(QJsonObject{{QStringLiteral("ports"), ports}}) : text);
    finish(exitcode::Ok);
}
