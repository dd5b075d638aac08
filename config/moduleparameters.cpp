#include "config/moduleparameters.h"

#include "app/appcontext.h"
#include "link/commcontrol.h"

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
    return ctx.MSComm1().Output(frame);
}

bool PortOpenForUser(AppContext& ctx) {
    if (ctx.MSComm1().PortOpen())
        return true;
    ctx.dialogs().message(QStringLiteral("串口未打开,命令没有发送。请先在\"串口设置\"中打开串口。"),
                          QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
    return false;
}
