#include "serial/serialsettings.h"

#include <QStringList>

std::optional<SerialSettings> SerialSettings::parse(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    SerialSettings s;
    bool ok = false;
    const qlonglong rate = parts[0].trimmed().toLongLong(&ok);
    if (!ok || rate <= 0 || rate > 4000000)
        return std::nullopt;
    s.rate = static_cast<qint32>(rate);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else
        return std::nullopt;

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return std::nullopt;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

int SerialSettings::bitsPerCharacter() const {
    const int parityBits = parity == QSerialPort::NoParity ? 0 : 1;
    const int stop = stopBits == QSerialPort::OneStop ? 1 : 2;
    return 1 + static_cast<int>(dataBits) + parityBits + stop;
}

qint64 SerialSettings::characterTimeUs() const {
    return rate > 0 ? (qint64(bitsPerCharacter()) * 1000000 + rate - 1) / rate : 0;
}
