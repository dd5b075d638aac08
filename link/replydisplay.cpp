#include "link/replydisplay.h"

#include <QFile>
#include <QFileInfo>

QString HexByte(quint8 b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

QString HexPairs(const QByteArray& bytes) {
    QString text;
    AppendHexPairs(text, bytes);
    return text;
}

void AppendHexPairs(QString& out, const QByteArray& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const qsizetype at = out.size();
    out.resize(at + bytes.size() * 3);
    QChar* p = out.data() + at;
    for (char c : bytes) {
        const auto b = static_cast<quint8>(c);
        *p++ = QLatin1Char(kDigits[b >> 4]);
        *p++ = QLatin1Char(kDigits[b & 0xF]);
        *p++ = QLatin1Char(':');
    }
}

bool SetStoredFileAttributes(const QString& path, bool protect) {
    // The only protection every platform offers is read-only: hidden and system exist
    // only on Windows.
    // Only a plain file of that name is ours to change: a folder or a link in its place
    // keeps its rights.
    if (!IsPlainFile(path))
        return false;
    QFile file(path);
    const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return file.setPermissions(
        protect ? readable : readable | QFileDevice::WriteOwner | QFileDevice::WriteUser);
}

bool IsPlainFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}
