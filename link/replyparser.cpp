#include "link/replyparser.h"

#include "app/appcontext.h"
#include "app/statuspanel.h"
#include "link/replydisplay.h"
#include "link/showdata.h"

#include <QFile>
#include <QVariant>

namespace {

struct ReplyCode {
    quint8 code;
    int length;
    qint16 state;
    int minimum = length; // the version reply may come one byte short
};

constexpr ReplyCode kReplies[] = {
    {0xEF, 6, 2},      {0xF4, 2, 3},  {0xE3, 2, 4},  {0xE8, 1, 5},  {0xA2, 2, 6},
    {0xEC, 11, 7, 10}, {0xD2, 1, 8},  {0xD5, 1, 9},  {0xB7, 1, 10}, {0xD8, 3, 11},
    {0xC6, 4, 12},     {0xE6, 1, 13}, {0xAB, 1, 14}, {0xA8, 1, 15},
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
constexpr int kBytesPerCall = 4096;

QString hexOf(const QByteArray& bytes, int from, int count) {
    QString text;
    for (int i = from; i < from + count; ++i)
        text += HexByte(static_cast<quint8>(bytes.at(i)));
    return text;
}

void writePortStateFile(AppContext& ctx) {
    const QString path = QStringLiteral("portstate.dat");
    SetStoredFileAttributes(path, false);
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    ok = ok && file.write(ctx.PortStateTable) == ctx.PortStateTable.size();
    file.close();
    SetStoredFileAttributes(path, true);
    if (!ok && !ctx.portStateWriteReported) {
        ctx.portStateWriteReported = true;
        ctx.dialogs().message(
            QStringLiteral("无法保存开关量端口状态文件 portstate.dat(%1)。\n"
                           "请检查当前目录是否可写;开关量端口设置窗口将无法显示端口状态。")
                .arg(file.errorString()),
            QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    }
}

void applyPayload(AppContext& ctx, ShowData* window, qint16 state, const QByteArray& p) {
    ModuleParameters& m = ctx.params;
    const auto mode = [](quint8 b, QString& text, const char16_t* zero, const char16_t* ff) {
        if (b == 0x00)
            text = QString::fromUtf16(zero);
        else if (b == 0xFF)
            text = QString::fromUtf16(ff);
    };
    const auto b0 = static_cast<quint8>(p.at(0));
    switch (state) {
    case 2:
        m.m_txfreque = hexOf(p, 0, 3);
        m.m_rxfreque = hexOf(p, 3, 3);
        m.m_txfrequeb = m.m_rxfrequeb = true;
        break;
    case 3:
        m.m_meaddress = hexOf(p, 0, 2);
        m.m_meaddressb = true;
        break;
    case 4:
        m.m_headdress = hexOf(p, 0, 2);
        m.m_headdressb = true;
        break;
    case 5:
        m.m_repeat = hexOf(p, 0, 1);
        m.m_repeatb = true;
        break;
    case 6:
        m.m_invite = hexOf(p, 0, 2);
        m.m_inviteb = true;
        break;
    case 7:
        m.m_version.clear();
        for (char c : p)
            m.m_version += QChar(static_cast<quint8>(c));
        window->panel(4)->setText(QStringLiteral("软件:") + m.m_version);
        m.m_versionb = true;
        break;
    case 8:
        mode(b0, m.m_typepower, u"普通", u"省电");
        m.m_typepowerb = true;
        break;
    case 9:
        mode(b0, m.m_typeheat, u"普通", u"温补");
        m.m_typeheatb = true;
        break;
    case 10:
        mode(b0, m.m_typeaudio, u"非申请", u"申请");
        m.m_typeaudiob = true;
        break;
    case 11:
        if (b0 <= 7) { // a port number beyond the table is logged only
            ctx.PortStateTable.replace(3 * b0, 3, p.left(3));
            if (b0 == 7)
                writePortStateFile(ctx);
        }
        break;
    case 13: {
        StatusPanel* crc = window->panel(3);
        crc->setText(QStringLiteral("CRC校验:") + QStringLiteral(" ") + HexByte(b0) +
                     QStringLiteral("H"));
        ctx.CrcToggle = !ctx.CrcToggle;
        crc->setAlignment(ctx.CrcToggle ? Qt::AlignLeft : Qt::AlignRight);
        crc->setPicture(ctx.CrcToggle ? 116 : 115);
        break;
    }
    case 14:
        m.m_datbit = b0 == 0 ? QStringLiteral("八位") : QStringLiteral("九位");
        m.m_datbitb = true;
        break;
    case 15:
        m.m_sqr = b0 == 0 ? QStringLiteral("模拟") : QStringLiteral("数字");
        m.m_sqrb = true;
        break;
    default: // C6: logged only
        break;
    }
}

// A two-byte reply that ends with a message; the parser is idle again before the
// message shows, so bytes arriving meanwhile are parsed afresh.
void statusReply(AppContext& ctx, const QString& logText, const QString& message,
                 UserDialogs::Icon icon) {
    ctx.ReplyState = 0;
    LogReplyText(ctx, logText);
    ctx.dialogs().message(message, QStringLiteral("提示"), icon);
}

// Reply code just read after D7. Returns false when the pass must end here.
bool dispatchCode(AppContext& ctx, ShowData* window, quint8 code) {
    CommControl& comm = window->MSComm1;
    switch (code) {
    case 0xF7:
        statusReply(ctx, QStringLiteral("D7:F7:"), QStringLiteral("锁相环无法锁定"),
                    UserDialogs::Icon::Exclamation);
        return true;
    case 0xFF:
        statusReply(ctx, QStringLiteral("D7:FF:"), QStringLiteral("设置频率超出范围"),
                    UserDialogs::Icon::Exclamation);
        return true;
    case 0xFA:
        statusReply(ctx, QStringLiteral("D7:FA:"), QStringLiteral("频率设置完成"),
                    UserDialogs::Icon::Information);
        return true;
    case 0xFD:
        ctx.ModuleAnswered = true;
        if (!ctx.CommandBusy) {
            ShowPrompt(ctx, 1);
            window->Timer2.start();
        }
        ctx.ReplyState = 0;
        LogReplyText(ctx, QStringLiteral("D7:FD:"));
        return true;
    default:
        break;
    }
    ctx.ReplyPrefix = QStringLiteral("D7:") + HexByte(code) + QStringLiteral(":");
    if (const ReplyCode* reply = replyForCode(code)) {
        comm.setRThreshold(reply->minimum);
        comm.setInputLen(reply->length);
        ctx.ReplyState = reply->state;
        return true;
    }
    // A code the parser does not list: whatever follows within 50 ms is collected
    // by Timer6 and logged.
    comm.setRThreshold(0);
    comm.setInputLen(0);
    window->Timer6.start();
    return false;
}

} // namespace

int ReplyPayloadLength(quint8 code) {
    if (code == 0xF7 || code == 0xFA || code == 0xFD || code == 0xFF)
        return 0;
    const ReplyCode* reply = replyForCode(code);
    return reply ? reply->length : -1;
}

void ParseModuleReply(AppContext& ctx) {
    ShowData* window = ctx.showdata();
    CommControl& comm = window->MSComm1;
    QString shown; // idle data shown together, one insertion per call
    const auto flush = [&] {
        if (!shown.isEmpty())
            window->appendReceived(shown);
        shown.clear();
    };
    int budget = kBytesPerCall;
    while (comm.InBufferCount() > 0 && budget > 0) {
        if (ctx.ReplyState == 0 && ctx.ShowAsText) {
            // Character display recognises no reply: everything buffered is text, read
            // in one go whatever read length a finished reply or a reopening left.
            budget -= comm.InBufferCount();
            comm.setInputLen(0);
            shown += comm.Input().toString();
            continue;
        }
        if (ctx.ReplyState == 0) {
            comm.setInputLen(1);
            ctx.ReplyBytes = comm.InputBytes();
            --budget;
            const auto b = static_cast<quint8>(ctx.ReplyBytes.at(0));
            if (b == 0xD7)
                ctx.ReplyState = 1;
            else
                shown += HexByte(b) + QLatin1Char(':');
            continue;
        }
        flush();
        if (ctx.ReplyState == 1) {
            if (window->Timer6.isActive())
                break; // collecting the rest of an unlisted reply
            comm.setInputLen(1);
            ctx.ReplyBytes = comm.InputBytes();
            --budget;
            if (!dispatchCode(ctx, window, static_cast<quint8>(ctx.ReplyBytes.at(0))))
                break;
            continue;
        }
        const ReplyCode* reply = replyForState(ctx.ReplyState);
        if (!reply) { // cannot happen; recover rather than stall
            LogReplyBytes(ctx, {});
            continue;
        }
        const int buffered = comm.InBufferCount();
        if (buffered < reply->minimum)
            break; // the rest of the payload raises the next event
        if (buffered < reply->length && !window->versionWaitOver) {
            // A version of ten bytes is taken, but only once its eleventh byte has had
            // time to arrive.
            if (!window->versionWait.isActive())
                window->versionWait.start();
            break;
        }
        window->versionWait.stop();
        window->versionWaitOver = false;
        comm.setInputLen(std::min(buffered, reply->length));
        ctx.ReplyBytes = comm.InputBytes();
        budget -= static_cast<int>(ctx.ReplyBytes.size());
        applyPayload(ctx, window, ctx.ReplyState, ctx.ReplyBytes);
        LogReplyBytes(ctx, ctx.ReplyBytes);
    }
    flush();
}
