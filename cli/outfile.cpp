#include "cli/outfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

bool WriteOutFile(const QString& path, const QByteArray& bytes, QString* error) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile node(path);
        if (!node.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            node.write(bytes) != bytes.size()) {
            *error = node.errorString();
            return false;
        }
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
