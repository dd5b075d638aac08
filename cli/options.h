#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// One invocation of t83ctl: the command and what it was given.
struct CliOptions {
    QString command;
    QString port; // "COM3", a device path, or "serial:XYZ"
    std::optional<qint32> rate;
    bool json = false;
    bool timedRead = false;
    QString out;
    QString profile;
    QString serial;
    QString operatorName;
    QString lot;
    int timeoutS = 60;
    // linktest: "send", "listen" or "echo", and the test's numbers.
    QString linkRole;
    int count = 1000;
    int size = 32;
    double intervalMs = -1; // < 0: a packet's line time plus 20 %
    double maxPerPercent = 1.0;
    bool expectEcho = false;
    QStringList arguments; // NAME=VALUE pairs, or the file to send
    bool help = false;
};

// Parses argv (without the program's name). On failure std::nullopt and `error` says
// what is wrong, in the user's language.
std::optional<CliOptions> ParseCliArguments(const QStringList& args, QString* error);
// The --help text: commands, options, the port forms and the exit statuses.
QString UsageText();
