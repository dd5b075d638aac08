#pragma once

#include <QByteArray>

// The header a file send writes ahead of a file: D7, the name's length, the name, the
// separator '*' and the length, four bytes most significant first.
inline QByteArray fileHeader(const QByteArray& name, quint32 length) {
    QByteArray header;
    header.append(char(0xD7));
    header.append(char(name.size()));
    header.append(name);
    header.append('*');
    for (int shift = 24; shift >= 0; shift -= 8)
        header.append(char((length >> shift) & 0xFF));
    return header;
}
