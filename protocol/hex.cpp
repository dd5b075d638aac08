#include "protocol/hex.h"

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

quint8 PackDecimalPair(const QString& text) {
    const auto digit = [](QChar c) {
        return c.isDigit() && c.unicode() < 128 ? c.digitValue() : 0;
    };
    if (text.isEmpty())
        return 0;
    return static_cast<quint8>(digit(text.front()) * 16 + digit(text.back()));
}

quint8 HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return static_cast<quint8>(u - u'0');
    if (u >= u'A' && u <= u'F')
        return static_cast<quint8>(u - u'A' + 10);
    return 0;
}
