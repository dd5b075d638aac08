#pragma once

#include <QSerialPort>
#include <QString>
#include <optional>

// A serial settings text such as "9600,n,8,1" or "1200,M,8,1": rate, parity letter
// (N none, E even, O odd, S space, M mark; either case), data bits, stop bits.
struct SerialSettings {
    qint32 rate = 0;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Empty when the text is not a valid settings text.
    static std::optional<SerialSettings> parse(const QString& text);
    // Bits on the wire for one character: start, data, parity and stop bits (1.5 stop
    // bits count as 2, so a character time is never underestimated).
    int bitsPerCharacter() const;
    // One character's time on the line, in microseconds.
    qint64 characterTimeUs() const;
};

// The fourteen rates offered, in the order the settings window lists them.
inline constexpr qint32 kOfferedRates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                           14400, 19200, 28800, 38400, 56000, 12800, 25600};
