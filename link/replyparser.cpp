#include "link/replyparser.h"

#include "link/commcontrol.h"
#include "link/replydisplay.h"
#include "serial/serialsettings.h"

#include <QFile>
#include <QVariant>

namespace {

struct ReplyCode {
    quint8 code;
    int length;
    qint16 state;
    int minimum = length; // the version reply may come one byte short
};

// Each listed reply code with its payload length (as ReplyPayloadLength gives it) and
// the parser state that waits for its payload.
using namespace t83;
constexpr ReplyCode kReplies[] = {
    {cmd::ReadFrequencies, 6, 2}, {cmd::ReadOwnAddress, 2, 3},
    {cmd::ReadDestAddress, 2, 4}, {cmd::ReadRetryCount, 1, 5},
    {cmd::ReadInviteGroup, 2, 6}, {cmd::ReadVersion, 11, 7, 10},
    {cmd::ReadPowerSaving, 1, 8}, {cmd::ReadTempCompensation, 1, 9},
    {cmd::ReadVoiceMode, 1, 10},  {cmd::PortQuery, 3, 11},
    {status::PortReport, 4, 12},  {cmd::CrcQuery, 1, 13},
    {cmd::DataBits, 1, 14},       {cmd::Squelch, 1, 15},
};

const ReplyCode* replyForCode(quint8 code) {
    for (const ReplyCode& r : kReplies)
        if (r.code == code)
            return &r;
    return nullptr;
}

const ReplyCode* replyForState(qint16 state) {
    for (const ReplyCode& r : kReplies)
        if (r.state == state)
            return &r;
    return nullptr;
}

// At most this many bytes are handled per receive event, so a flood of data never holds
// the user interface; the rest raises the next event through the event loop.
constexpr int kBytesPerCall = 16384;

} // namespace

ReplyParser::ReplyParser(CommControl& comm, QObject* parent) : QObject(parent), comm_(comm) {
    Timer6.setInterval(50);
    Timer6.setSingleShot(true);
    connect(&Timer6, &QTimer::timeout, this, &ReplyParser::Timer6_Timer);
    versionWait_.setSingleShot(true);
    connect(&versionWait_, &QTimer::timeout, this, [this] {
        if (route_)
            return;
        versionWaitOver_ = true;
        ParseModuleReply();
    });
}

int ReplyParser::versionQuietMs() const {
    // Four character times: a module sends its version in one go, so a line quiet that
    // long has nothing more to say. Never under 20 ms: a USB serial adapter hands bytes
    // over in bursts up to 16 ms apart, and a busy machine wakes late. Well inside the
    // read cycle's 100 ms, so the next reply's D7 is never taken as an eleventh byte.
    const auto settings = SerialSettings::parse(comm_.Settings());
    const int rate = settings && settings->rate > 0 ? settings->rate : 9600;
    const int bits = settings ? settings->bitsPerCharacter() : 10;
    const int ms = (4 * bits * 1000 + rate - 1) / rate;
    return std::clamp(ms, 20, 50);
}

void ReplyParser::setReceiveRoute(ReceiveRoute* route) {
    route_ = route;
    if (route_) {
        Timer6.stop();
        versionWait_.stop();
        versionWaitOver_ = false;
        comm_.setPromptReads(false);
    }
}

void ReplyParser::reset() {
    Timer6.stop();
    versionWait_.stop();
    versionWaitOver_ = false;
    ReplyState = 0;
    if (!route_) {
        comm_.setRThreshold(1);
        comm_.setInputLen(1);
    }
    comm_.setPromptReads(false);
}

void ReplyParser::LogReplyBytes(const QByteArray& bytes) {
    emit logLine(ReplyPrefix + HexPairs(bytes));
    ReplyState = 0;
    comm_.setRThreshold(1);
    comm_.setInputLen(1);
    comm_.setPromptReads(false);
}

void ReplyParser::LogReplyText(const QString& text) {
    emit logLine(text);
}

void ReplyParser::Timer6_Timer() {
    Timer6.stop();
    if (route_)
        return; // the capture path owns the buffer now
    // Whatever followed the unlisted code is logged; with nothing there, the prefix
    // alone is logged. Either way the parser is idle again, so the link never stays
    // without receive events.
    comm_.setInputLen(0);
    LogReplyBytes(comm_.InputBytes());
}

void ReplyParser::writePortStateFile() {
    const QString path = QStringLiteral("portstate.dat");
    const auto fail = [this](const QString& reason) {
        if (!portStateWriteReported_) {
            portStateWriteReported_ = true;
            emit portStateFileFailed(reason);
        }
    };
    // Something else has the name (a folder, a link, a pipe): it is not touched, a link's
    // target is neither written nor created, and the table is not stored.
    const QString notPlain = QStringLiteral("当前目录中的 portstate.dat 不是普通文件(例如是一个"
                                            "文件夹或链接),程序没有改动它");
    if (StoredNameTaken(path) && !IsPlainFile(path)) {
        fail(notPlain);
        return;
    }
    SetStoredFileAttributes(path, false);
    QFile file(path);
    QString error;
    const StoredOpen opened =
        OpenStoredFile(file, QIODevice::WriteOnly | QIODevice::Truncate, &error);
    if (opened == StoredOpen::NotPlain) {
        fail(notPlain);
        return;
    }
    bool ok = opened == StoredOpen::Opened;
    if (ok && (file.write(PortStateTable) != PortStateTable.size() || !file.flush())) {
        ok = false;
        error = file.errorString();
    }
    file.close();
    SetStoredFileAttributes(path, true);
    if (!ok)
        fail(error + QStringLiteral(";请检查当前目录是否可写"));
}

void ReplyParser::applyPayload(qint16 state, const QByteArray& p) {
    const auto b0 = static_cast<quint8>(p.at(0));
    switch (state) {
    case 7: {
        QString version;
        for (char c : p)
            version += QChar(static_cast<quint8>(c));
        emit parameterReply(t83::cmd::ReadVersion, p);
        emit versionRead(version);
        break;
    }
    case 11:
        if (b0 <= 7) { // a port number beyond the table is logged only
            PortStateTable.replace(3 * b0, 3, p.left(3));
            if (b0 == 7)
                writePortStateFile();
            emit portStateStored(b0);
        }
        break;
    case 12: // C6: logged only
        break;
    case 13:
        CrcToggle = !CrcToggle;
        emit crcRead(b0, CrcToggle);
        break;
    default:
        if (const ReplyCode* reply = replyForState(state))
            emit parameterReply(reply->code, p);
        break;
    }
}

// A two-byte reply that ends with a message; the parser is idle again before the
// message shows, so bytes arriving meanwhile are parsed afresh.
void ReplyParser::statusReply(quint8 code, const QString& message, bool information) {
    ReplyState = 0;
    LogReplyText(QStringLiteral("D7:") + HexByte(code) + QStringLiteral(":"));
    emit statusMessage(code, message, information);
}

void ReplyParser::expectStatusReply(int ms) {
    statusReplyDue_ = QDeadlineTimer(std::max<qint64>(ms, statusReplyDue_.remainingTime()));
}

// Reply code just read after D7. Returns false when the pass must end here.
bool ReplyParser::dispatchCode(quint8 code) {
    const bool status = code == t83::status::LockFailed || code == t83::status::OutOfRange ||
                        code == t83::status::FrequencySet;
    if (status && statusReplyDue_.hasExpired()) {
        // Nothing was written that this could answer: the two bytes are data.
        ReplyState = 0;
        emit display(HexPairs(QByteArray(1, char(t83::kFrameStart)) + char(code)), true);
        return true;
    }
    switch (code) {
    case t83::status::LockFailed:
        statusReply(code, QStringLiteral("锁相环无法锁定"), false);
        return true;
    case t83::status::OutOfRange:
        statusReply(code, QStringLiteral("设置频率超出范围"), false);
        return true;
    case t83::status::FrequencySet:
        statusReply(code, QStringLiteral("频率设置完成"), true);
        return true;
    case t83::status::Present:
        ModuleAnswered = true;
        ReplyState = 0;
        emit moduleAnswered();
        LogReplyText(QStringLiteral("D7:FD:"));
        return true;
    default:
        break;
    }
    ReplyPrefix = QStringLiteral("D7:") + HexByte(code) + QStringLiteral(":");
    if (const ReplyCode* reply = replyForCode(code)) {
        comm_.setRThreshold(reply->minimum);
        comm_.setInputLen(reply->length);
        ReplyState = reply->state;
        return true;
    }
    // A code the parser does not list: whatever follows within 50 ms is collected
    // by Timer6 and logged.
    comm_.setRThreshold(0);
    comm_.setInputLen(0);
    Timer6.start();
    return false;
}

void ReplyParser::ParseModuleReply() {
    if (route_) {
        route_->receivePass();
        return;
    }
    QString shown; // idle data shown together, one insertion per call
    const auto flush = [&] {
        if (!shown.isEmpty())
            emit display(shown, !ShowAsText);
        shown.clear();
    };
    int budget = kBytesPerCall;
    while (comm_.InBufferCount() > 0 && budget > 0 && !route_) {
        if (ReplyState == 0 && ShowAsText) {
            // Character display recognises no reply: everything buffered is text, read
            // in one go whatever read length a finished reply or a reopening left.
            budget -= comm_.InBufferCount();
            comm_.setInputLen(0);
            shown += comm_.Input().toString();
            continue;
        }
        if (ReplyState == 0) {
            // Hex display: the run of bytes before the next D7 in one read; the D7
            // itself starts a reply.
            const int d7 = comm_.InBufferIndexOf(char(t83::kFrameStart));
            if (d7 != 0) {
                const int run = d7 < 0 ? std::min(comm_.InBufferCount(), budget) : d7;
                comm_.setInputLen(std::min(run, budget));
                const QByteArray data = comm_.InputBytes();
                budget -= static_cast<int>(data.size());
                AppendHexPairs(shown, data);
                // As if read byte by byte: the reply fields hold the last byte, not a
                // run of thousands.
                ReplyBytes = data.right(1);
                comm_.setInputLen(1);
                continue;
            }
            comm_.setInputLen(1);
            ReplyBytes = comm_.InputBytes();
            --budget;
            ReplyState = 1;
            continue;
        }
        flush();
        if (ReplyState == 1) {
            if (Timer6.isActive())
                break; // collecting the rest of an unlisted reply
            comm_.setInputLen(1);
            ReplyBytes = comm_.InputBytes();
            --budget;
            if (!dispatchCode(static_cast<quint8>(ReplyBytes.at(0))))
                break;
            continue;
        }
        const ReplyCode* reply = replyForState(ReplyState);
        if (!reply) { // cannot happen; recover rather than stall
            LogReplyBytes({});
            continue;
        }
        const int buffered = comm_.InBufferCount();
        if (buffered < reply->minimum)
            break; // the rest of the payload raises the next event
        if (buffered < reply->length && !versionWaitOver_) {
            // A version of ten bytes is taken once the line has stayed quiet after it;
            // an eleventh byte raises the next event and completes the reply first.
            if (!versionWait_.isActive())
                versionWait_.start(versionQuietMs());
            break;
        }
        versionWait_.stop();
        versionWaitOver_ = false;
        comm_.setInputLen(std::min(buffered, reply->length));
        ReplyBytes = comm_.InputBytes();
        budget -= static_cast<int>(ReplyBytes.size());
        const qint16 state = ReplyState;
        LogReplyBytes(ReplyBytes); // idle again before the reply's effects run
        applyPayload(state, ReplyBytes);
    }
    flush();
    // A reply begun is read byte by byte as it comes: its time-outs (a version's quiet
    // line among them) must not run while the line rests between reads.
    comm_.setPromptReads(ReplyState != 0 && !route_);
}
