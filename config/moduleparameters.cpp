#include "config/moduleparameters.h"

#include "app/appcontext.h"
#include "link/commcontrol.h"
#include "link/replydisplay.h"

#include <QLineEdit>

void ModuleParameters::markMissing() {
    const QString none = QStringLiteral("无此参数");
    const std::pair<QString*, bool> fields[] = {
        {&m_headdress, m_headdressb}, {&m_meaddress, m_meaddressb}, {&m_repeat, m_repeatb},
        {&m_rxfreque, m_rxfrequeb},   {&m_txfreque, m_txfrequeb},   {&m_typeaudio, m_typeaudiob},
        {&m_typeheat, m_typeheatb},   {&m_typepower, m_typepowerb}, {&m_version, m_versionb},
        {&m_invite, m_inviteb},       {&m_datbit, m_datbitb},       {&m_sqr, m_sqrb}};
    for (auto [text, present] : fields)
        if (!present)
            *text = none;
}

namespace {
QString hexOf(const QByteArray& bytes, int from, int count) {
    QString text;
    for (int i = from; i < from + count && i < bytes.size(); ++i)
        text += HexByte(static_cast<quint8>(bytes.at(i)));
    return text;
}

// 00 and FF name the two modes; any other byte leaves the text as it was.
void setMode(quint8 b, QString& text, const char16_t* zero, const char16_t* ff) {
    if (b == 0x00)
        text = QString::fromUtf16(zero);
    else if (b == 0xFF)
        text = QString::fromUtf16(ff);
}
} // namespace

void ModuleParameters::storeReply(quint8 code, const QByteArray& p) {
    if (p.isEmpty())
        return;
    const auto b0 = static_cast<quint8>(p.at(0));
    switch (code) {
    case 0xEF:
        m_txfreque = hexOf(p, 0, 3);
        m_rxfreque = hexOf(p, 3, 3);
        m_txfrequeb = m_rxfrequeb = true;
        break;
    case 0xF4:
        m_meaddress = hexOf(p, 0, 2);
        m_meaddressb = true;
        break;
    case 0xE3:
        m_headdress = hexOf(p, 0, 2);
        m_headdressb = true;
        break;
    case 0xE8:
        m_repeat = hexOf(p, 0, 1);
        m_repeatb = true;
        break;
    case 0xA2:
        m_invite = hexOf(p, 0, 2);
        m_inviteb = true;
        break;
    case 0xEC:
        m_version.clear();
        for (char c : p)
            m_version += QChar(static_cast<quint8>(c));
        m_versionb = true;
        break;
    case 0xD2:
        setMode(b0, m_typepower, u"普通", u"省电");
        m_typepowerb = true;
        break;
    case 0xD5:
        setMode(b0, m_typeheat, u"普通", u"温补");
        m_typeheatb = true;
        break;
    case 0xB7:
        setMode(b0, m_typeaudio, u"非申请", u"申请");
        m_typeaudiob = true;
        break;
    case 0xAB:
        m_datbit = b0 == 0 ? QStringLiteral("八位") : QStringLiteral("九位");
        m_datbitb = true;
        break;
    case 0xA8:
        m_sqr = b0 == 0 ? QStringLiteral("模拟") : QStringLiteral("数字");
        m_sqrb = true;
        break;
    default:
        break;
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

int FilterDecimalKey(int key) {
    if ((key >= 0 && key <= 7) || (key >= 9 && key <= 47) || (key >= 58 && key <= 126))
        return 0;
    return key;
}

int FilterHexKey(QLineEdit* box, int key) {
    if ((key >= 0 && key <= 7) || (key >= 9 && key <= 47) || (key >= 58 && key <= 64) ||
        (key >= 71 && key <= 96) || (key >= 103 && key <= 126))
        return 0;
    if (key >= 'a' && key <= 'f') {
        if (box)
            box->insert(QString(QChar(key - 'a' + 'A')));
        return 0;
    }
    return key;
}

bool SendFrame(AppContext& ctx, const QByteArray& frame) {
    if (ctx.MSComm1().Output(frame))
        return true;
    // A port that is open but takes no bytes: the command did not go, whatever the
    // window shows next.
    if (ctx.MSComm1().PortOpen())
        ctx.dialogs().message(QStringLiteral("串口写入失败,命令没有发送。"), QStringLiteral("提示"),
                              UserDialogs::Icon::Exclamation);
    return false;
}

bool PortOpenForUser(AppContext& ctx) {
    if (ctx.MSComm1().PortOpen())
        return true;
    ctx.dialogs().message(QStringLiteral("串口未打开,命令没有发送。请先在\"串口设置\"中打开串口。"),
                          QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    return false;
}
