#pragma once

#include "protocol/moduleparameters.h"
#include "records/resultsdb.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What `read` found: the port as named and its device, whether the module answered, its
// settings and the switch-port table as the parser holds it (eight triples).
struct ReadReport {
    QString port;
    QString device;
    bool answered = false;
    ModuleParameters params;
    QByteArray portTable;
};

QJsonObject ReadJson(const ReadReport& report);
QString ReadTable(const ReadReport& report);
// A run as the results database stores it (id 0 when it was not stored).
QJsonObject RunJson(const RunRecord& run);
QString RunTable(const RunRecord& run);
// `text` padded to `width` terminal columns (a wide character takes two), at least one
// space after it.
QString TableCell(const QString& text, int width);
// One JSON object on one line.
QString JsonLine(const QJsonObject& object);
