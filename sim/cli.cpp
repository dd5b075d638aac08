#include "sim/cli.h"
#include "sim/ttyline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cctype>
#include <utility>

namespace t83sim {

namespace {

// A byte written as two hex digits, with or without a 0x prefix.
bool parseHexByte(QString text, quint8* value) {
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok || text.isEmpty() || text.size() > 2 || v > 0xFF)
        return false;
    *value = quint8(v);
    return true;
}

bool parseMilliseconds(const QString& text, int* value) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0)
        return false;
    *value = v;
    return true;
}

// "55" or "55:0102": the reply code and the bytes that follow it.
bool parseUnlisted(const QString& text, UnlistedReply* reply) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2 || !parseHexByte(parts[0], &reply->code))
        return false;
    reply->payload.clear();
    if (parts.size() == 2) {
        const QString digits = parts[1].trimmed();
        // fromHex() skips characters it does not know, so check them first.
        for (QChar c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
                return false;
        }
        if (digits.size() % 2 != 0)
            return false;
        reply->payload = QByteArray::fromHex(digits.toLatin1());
    }
    return true;
}

} // namespace

bool parseCommandLine(const QStringList& arguments, CliConfig* config, QString* error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated T83 radio module. Prints 'PTY <path>' (and 'PEER <path>' "
                       "with --peer) and serves the module protocol until terminated."));
    parser.addHelpOption();
    const QCommandLineOption peer(QStringLiteral("peer"),
                                  QStringLiteral("Start a second station on its own pty, linked "
                                                 "by radio to the first."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Serve a real serial line instead of a pty."),
                                    QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Rate of the serial line (default 9600)."),
                                  QStringLiteral("rate"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Never answer."));
    const QCommandLineOption missing(
        QStringLiteral("missing"),
        QStringLiteral("Leave these request codes unanswered, e.g. EC,B7."),
        QStringLiteral("codes"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Wait this long before each reply."),
                                   QStringLiteral("ms"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Write replies one byte per write."));
    const QCommandLineOption splitGap(QStringLiteral("split-gap"),
                                      QStringLiteral("Gap between split bytes (default 2)."),
                                      QStringLiteral("ms"));
    const QCommandLineOption unlisted(
        QStringLiteral("unlisted"),
        QStringLiteral("Answer with this unknown reply code and bytes, e.g. 55:0102."),
        QStringLiteral("code[:hex]"));
    const QCommandLineOption unlistedOn(
        QStringLiteral("unlisted-on"),
        QStringLiteral("Request code whose answer --unlisted replaces (default FE, the probe)."),
        QStringLiteral("code"));
    const QCommandLineOption lockFailure(QStringLiteral("lock-failure"),
                                         QStringLiteral("Answer frequency writes with a "
                                                        "phase-lock failure."));
    const QCommandLineOption crc(QStringLiteral("crc"),
                                 QStringLiteral("CRC byte reported (default 5A)."),
                                 QStringLiteral("hex"));
    const QCommandLineOption version(QStringLiteral("version-text"),
                                     QStringLiteral("Software version reported (11 characters, "
                                                    "padded with spaces)."),
                                     QStringLiteral("text"));
    const QCommandLineOption frameTimeout(
        QStringLiteral("frame-timeout"),
        QStringLiteral("Pass an incomplete frame on as data after this long; 0 never "
                       "(default 1000)."),
        QStringLiteral("ms"));
    const QCommandLineOption transferTimeout(
        QStringLiteral("transfer-timeout"),
        QStringLiteral("Give up a file transfer whose data stops for this long; 0 never "
                       "(default 3000)."),
        QStringLiteral("ms"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Log frames and radio data on stderr."));
    const QCommandLineOption randomize(
        QStringLiteral("randomize"),
        QStringLiteral("Start each module (and each one swapped in) with random settings."));
    const QCommandLineOption revert(
        QStringLiteral("revert"),
        QStringLiteral("Answer writes of these codes as usual but keep nothing, e.g. E7,FF."),
        QStringLiteral("codes"));
    const QCommandLineOption noWriteReply(
        QStringLiteral("no-write-reply"),
        QStringLiteral("Leave writes of these codes unanswered, e.g. FF."),
        QStringLiteral("codes"));
    const QCommandLineOption garble(
        QStringLiteral("garble"),
        QStringLiteral("Answer reads of these codes with a wrong last payload byte, e.g. F4."),
        QStringLiteral("codes"));
    const QCommandLineOption loss(
        QStringLiteral("loss"),
        QStringLiteral("Lose this percentage of the link-test packets on the radio."),
        QStringLiteral("percent"));
    const QCommandLineOption corrupt(
        QStringLiteral("corrupt"),
        QStringLiteral("Change one byte in this percentage of the link-test packets."),
        QStringLiteral("percent"));
    const QCommandLineOption duplicate(
        QStringLiteral("duplicate"),
        QStringLiteral("Deliver this percentage of the link-test packets twice."),
        QStringLiteral("percent"));
    const QCommandLineOption seed(
        QStringLiteral("seed"),
        QStringLiteral("Seed of the generator that picks the impaired packets (default 1)."),
        QStringLiteral("n"));
    const QCommandLineOption impairLog(
        QStringLiteral("impair-log"),
        QStringLiteral("Write one line per lost, corrupted or duplicated packet to this file."),
        QStringLiteral("file"));
    parser.addOptions({peer,        device,    baud,      silent,       missing,
                       delay,       split,     splitGap,  unlisted,     unlistedOn,
                       lockFailure, crc,       version,   frameTimeout, transferTimeout,
                       verbose,     randomize, revert,    noWriteReply, garble,
                       loss,        corrupt,   duplicate, seed,         impairLog});

    CliConfig result;
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments()[0]);
        return false;
    }
    result.helpText = parser.helpText();
    result.helpRequested = parser.isSet(QStringLiteral("help"));

    SimOptions& o = result.options;
    result.peer = parser.isSet(peer);
    result.verbose = parser.isSet(verbose);
    result.device = parser.value(device);
    o.silent = parser.isSet(silent);
    o.splitReplies = parser.isSet(split);
    o.lockFailure = parser.isSet(lockFailure);
    if (parser.isSet(baud)) {
        bool ok = false;
        result.baud = parser.value(baud).toInt(&ok);
        if (!ok || !isSupportedBaudRate(result.baud)) {
            *error = QStringLiteral("unsupported baud rate: %1").arg(parser.value(baud));
            return false;
        }
    }
    result.randomize = parser.isSet(randomize);
    // Each list of codes: two hex digits each, codes the module takes as commands.
    const std::pair<const QCommandLineOption*, QSet<quint8>*> codeLists[] = {
        {&missing, &o.unanswered},
        {&noWriteReply, &o.unanswered},
        {&revert, &o.revert},
        {&garble, &o.garble}};
    for (auto [option, codes] : codeLists) {
        if (!parser.isSet(*option))
            continue;
        for (const QString& code : parser.value(*option).split(QLatin1Char(','))) {
            quint8 value = 0;
            if (!parseHexByte(code, &value) || commandPayloadLength(value) < 0) {
                *error = QStringLiteral("bad request code in --%1: %2")
                             .arg(option->names().constFirst(), code);
                return false;
            }
            codes->insert(value);
        }
    }
    if (parser.isSet(delay) && !parseMilliseconds(parser.value(delay), &o.replyDelayMs)) {
        *error = QStringLiteral("bad --delay: %1").arg(parser.value(delay));
        return false;
    }
    if (parser.isSet(splitGap) && !parseMilliseconds(parser.value(splitGap), &o.splitGapMs)) {
        *error = QStringLiteral("bad --split-gap: %1").arg(parser.value(splitGap));
        return false;
    }
    if (parser.isSet(frameTimeout) &&
        !parseMilliseconds(parser.value(frameTimeout), &o.frameTimeoutMs)) {
        *error = QStringLiteral("bad --frame-timeout: %1").arg(parser.value(frameTimeout));
        return false;
    }
    if (parser.isSet(transferTimeout) &&
        !parseMilliseconds(parser.value(transferTimeout), &o.transferTimeoutMs)) {
        *error = QStringLiteral("bad --transfer-timeout: %1").arg(parser.value(transferTimeout));
        return false;
    }
    if (parser.isSet(unlisted)) {
        UnlistedReply reply;
        if (!parseUnlisted(parser.value(unlisted), &reply)) {
            *error = QStringLiteral("bad --unlisted: %1").arg(parser.value(unlisted));
            return false;
        }
        if (isListedReplyCode(reply.code)) {
            *error = QStringLiteral("--unlisted code %1 is one the host knows")
                         .arg(parser.value(unlisted).section(QLatin1Char(':'), 0, 0));
            return false;
        }
        o.unlisted = reply;
    }
    if (parser.isSet(unlistedOn)) {
        if (!o.unlisted) {
            *error = QStringLiteral("--unlisted-on needs --unlisted");
            return false;
        }
        if (!parseHexByte(parser.value(unlistedOn), &o.unlisted->trigger) ||
            commandPayloadLength(o.unlisted->trigger) < 0) {
            *error = QStringLiteral("bad --unlisted-on: %1").arg(parser.value(unlistedOn));
            return false;
        }
    }
    if (parser.isSet(crc) && !parseHexByte(parser.value(crc), &o.crc)) {
        *error = QStringLiteral("bad --crc: %1").arg(parser.value(crc));
        return false;
    }
    ImpairOptions& impair = result.impair;
    for (const auto& [option, value] :
         {std::pair{&loss, &impair.lossPercent}, std::pair{&corrupt, &impair.corruptPercent},
          std::pair{&duplicate, &impair.duplicatePercent}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *value = parser.value(*option).toDouble(&ok);
        if (!ok || *value < 0 || *value > 100) {
            *error = QStringLiteral("bad --%1: %2")
                         .arg(option->names().constFirst(), parser.value(*option));
            return false;
        }
    }
    if (impair.lossPercent + impair.corruptPercent + impair.duplicatePercent > 100) {
        *error = QStringLiteral("--loss, --corrupt and --duplicate add up to more than 100");
        return false;
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        impair.seed = parser.value(seed).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("bad --seed: %1").arg(parser.value(seed));
            return false;
        }
    }
    impair.logPath = parser.value(impairLog);
    if (parser.isSet(version))
        o.versionText = parser.value(version);
    *config = result;
    return true;
}

} // namespace t83sim
