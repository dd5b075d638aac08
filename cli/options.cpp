#include "cli/options.h"

#include "cli/text.h"
#include "serial/serialsettings.h"

#include <QMap>
#include <algorithm>

namespace {

// What each command takes: its options, and how many plain arguments (min, max).
struct CommandRule {
    QStringList options;
    int minArgs = 0;
    int maxArgs = 0;
    bool needsPort = true;
};

const QMap<QString, CommandRule>& Rules() {
    static const QMap<QString, CommandRule> rules{
        {QStringLiteral("ports"), {{"--json"}, 0, 0, false}},
        {QStringLiteral("read"), {{"--port", "--rate", "--json", "--timed-read"}, 0, 0}},
        {QStringLiteral("write"), {{"--port", "--rate", "--json", "--timed-read"}, 1, 1000}},
        {QStringLiteral("save-profile"), {{"--port", "--rate", "--out", "--timed-read"}, 0, 0}},
        {QStringLiteral("apply"),
         {{"--port", "--rate", "--profile", "--serial", "--operator", "--lot", "--json",
           "--timed-read"},
          0,
          0}},
        {QStringLiteral("send-file"), {{"--port", "--rate"}, 1, 1}},
        {QStringLiteral("capture"), {{"--port", "--rate", "--out", "--timeout"}, 0, 0}},
        {QStringLiteral("linktest"),
         {{"--port", "--rate", "--json", "--timed-read", "--send", "--listen", "--echo",
           "--expect-echo", "--count", "--size", "--interval", "--max-per", "--timeout"},
          0,
          0}},
    };
    return rules;
}

const QStringList& Flags() {
    static const QStringList flags{"--json",   "--timed-read", "--send",
                                   "--listen", "--echo",       "--expect-echo"};
    return flags;
}

bool TakesValue(const QString& option) {
    return !Flags().contains(option);
}

// A number within [low, high], or std::nullopt.
std::optional<double> NumberIn(const QString& text, double low, double high) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && v >= low && v <= high ? std::optional<double>(v) : std::nullopt;
}

} // namespace

std::optional<CliOptions> ParseCliArguments(const QStringList& args, QString* error) {
    const auto fail = [error](const QString& zh, const QString& en) {
        *error = Say(zh, en);
        return std::nullopt;
    };
    CliOptions o;
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h")) ||
        args.value(0) == QLatin1String("help")) {
        o.help = true;
        return o;
    }
    // The command is the first word that is neither an option nor an option's value, so
    // options may come before it ("t83ctl --port COM1 read").
    qsizetype at = 0;
    while (at < args.size() && args.at(at).startsWith(QLatin1String("--")) &&
           args.at(at) != QLatin1String("--"))
        at += TakesValue(args.at(at)) && !args.at(at).contains(QLatin1Char('=')) ? 2 : 1;
    if (at >= args.size() || args.at(at) == QLatin1String("--"))
        return fail(QStringLiteral("缺少命令"), QStringLiteral("no command given"));
    QStringList rest = args;
    o.command = rest.takeAt(at);
    if (!Rules().contains(o.command))
        return fail(QStringLiteral("未知的命令: %1").arg(o.command),
                    QStringLiteral("unknown command: %1").arg(o.command));
    const CommandRule& rule = Rules().value(o.command);
    bool plainOnly = false; // after "--" everything is a plain argument
    for (qsizetype i = 0; i < rest.size(); ++i) {
        QString arg = rest.at(i);
        if (plainOnly || !arg.startsWith(QLatin1String("--"))) {
            o.arguments << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            plainOnly = true;
            continue;
        }
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
            hasValue = true;
        }
        if (!rule.options.contains(arg))
            return fail(QStringLiteral("命令 %1 没有选项 %2").arg(o.command, arg),
                        QStringLiteral("%1 takes no option %2").arg(o.command, arg));
        if (!TakesValue(arg)) {
            if (hasValue)
                return fail(QStringLiteral("选项 %1 不带值").arg(arg),
                            QStringLiteral("option %1 takes no value").arg(arg));
            if (arg == QLatin1String("--json")) {
                o.json = true;
            } else if (arg == QLatin1String("--timed-read")) {
                o.timedRead = true;
            } else if (arg == QLatin1String("--expect-echo")) {
                o.expectEcho = true;
            } else {
                const QString role = arg.mid(2);
                if (!o.linkRole.isEmpty() && o.linkRole != role)
                    return fail(QStringLiteral("--send、--listen 和 --echo 只能选一个"),
                                QStringLiteral("give one of --send, --listen and --echo"));
                o.linkRole = role;
            }
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= rest.size())
                return fail(QStringLiteral("选项 %1 缺少值").arg(arg),
                            QStringLiteral("option %1 needs a value").arg(arg));
            value = rest.at(++i);
        }
        if (arg == QLatin1String("--port")) {
            o.port = value;
        } else if (arg == QLatin1String("--rate")) {
            bool ok = false;
            const int rate = value.toInt(&ok);
            if (!ok || std::find(std::begin(kOfferedRates), std::end(kOfferedRates), rate) ==
                           std::end(kOfferedRates))
                return fail(QStringLiteral("波特率 %1 无效").arg(value),
                            QStringLiteral("invalid rate %1").arg(value));
            o.rate = rate;
        } else if (arg == QLatin1String("--timeout")) {
            bool ok = false;
            o.timeoutS = value.toInt(&ok);
            if (!ok || o.timeoutS < 1 || o.timeoutS > 86400)
                return fail(QStringLiteral("超时 %1 无效(1 到 86400 秒)").arg(value),
                            QStringLiteral("invalid timeout %1 (1 to 86400 s)").arg(value));
        } else if (arg == QLatin1String("--count") || arg == QLatin1String("--size") ||
                   arg == QLatin1String("--interval") || arg == QLatin1String("--max-per")) {
            const bool count = arg == QLatin1String("--count");
            const bool size = arg == QLatin1String("--size");
            const bool interval = arg == QLatin1String("--interval");
            const double low = count || size ? 1 : interval ? 0.1 : 0;
            const double high = count ? 65535 : size ? 200 : interval ? 600000 : 100;
            const std::optional<double> v = NumberIn(value, low, high);
            if (!v || ((count || size) && *v != int(*v)))
                return fail(
                    QStringLiteral("%1 的值 %2 无效(%3 到 %4)").arg(arg, value).arg(low).arg(high),
                    QStringLiteral("invalid %1 %2 (%3 to %4)").arg(arg, value).arg(low).arg(high));
            if (count)
                o.count = int(*v);
            else if (size)
                o.size = int(*v);
            else if (interval)
                o.intervalMs = *v;
            else
                o.maxPerPercent = *v;
        } else if (arg == QLatin1String("--out")) {
            o.out = value;
        } else if (arg == QLatin1String("--profile")) {
            o.profile = value;
        } else if (arg == QLatin1String("--serial")) {
            o.serial = value;
        } else if (arg == QLatin1String("--operator")) {
            o.operatorName = value;
        } else if (arg == QLatin1String("--lot")) {
            o.lot = value;
        }
    }
    if (rule.needsPort && o.port.isEmpty())
        return fail(QStringLiteral("命令 %1 需要 --port").arg(o.command),
                    QStringLiteral("%1 needs --port").arg(o.command));
    if (o.arguments.size() < rule.minArgs || o.arguments.size() > rule.maxArgs)
        return fail(
            rule.maxArgs == 0
                ? QStringLiteral("命令 %1 不带参数: %2").arg(o.command, o.arguments.value(0))
                : QStringLiteral("命令 %1 的参数个数不对").arg(o.command),
            rule.maxArgs == 0
                ? QStringLiteral("%1 takes no argument: %2").arg(o.command, o.arguments.value(0))
                : QStringLiteral("wrong number of arguments for %1").arg(o.command));
    if (o.command == QLatin1String("linktest") && o.linkRole.isEmpty())
        return fail(QStringLiteral("linktest 需要 --send、--listen 或 --echo"),
                    QStringLiteral("linktest needs --send, --listen or --echo"));
    if (o.expectEcho && o.linkRole != QLatin1String("send"))
        return fail(QStringLiteral("--expect-echo 只用于 --send"),
                    QStringLiteral("--expect-echo goes with --send only"));
    if (rule.options.contains(QLatin1String("--out")) && o.out.isEmpty())
        return fail(QStringLiteral("命令 %1 需要 --out").arg(o.command),
                    QStringLiteral("%1 needs --out").arg(o.command));
    if (rule.options.contains(QLatin1String("--profile")) && o.profile.isEmpty())
        return fail(QStringLiteral("命令 %1 需要 --profile").arg(o.command),
                    QStringLiteral("%1 needs --profile").arg(o.command));
    return o;
}
