#include "tools/hexpairs.h"

#include "protocol/hex.h"

#include <QPlainTextEdit>
#include <QTextCursor>

int FilterHexPairKey(int key, QPlainTextEdit* box) {
    if ((key >= 0 && key <= 7) || (key >= 9 && key <= 47) || (key >= 58 && key <= 64) ||
        (key >= 71 && key <= 96) || (key >= 103 && key <= 126))
        return 0;
    const bool hexDigit =
        (key >= '0' && key <= '9') || (key >= 'A' && key <= 'F') || (key >= 'a' && key <= 'f');
    if (!hexDigit)
        return key;
    const auto appendAtEnd = [box](const QString& text) {
        QTextCursor cursor = box->textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        box->setTextCursor(cursor);
    };
    if (box->toPlainText().size() % 3 == 2)
        appendAtEnd(QStringLiteral(":"));
    appendAtEnd(QString(QChar(key)).toUpper());
    if (box->toPlainText().size() % 3 == 2)
        appendAtEnd(QStringLiteral(":"));
    return 0;
}

QByteArray HexTextToBytes(const QString& text) {
    const qsizetype n = text.size() / 3;
    const QString trimmed = text.trimmed();
    const auto at = [&trimmed](qsizetype i) {
        return i < trimmed.size() ? trimmed.at(i) : QChar();
    };
    QByteArray bytes(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(HexDigitValue(at(3 * i)) * 16 + HexDigitValue(at(3 * i + 1)));
    return bytes;
}
