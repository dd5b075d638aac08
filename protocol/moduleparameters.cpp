#include "protocol/moduleparameters.h"

#include "protocol/codes.h"
#include "protocol/hex.h"

void ModuleParameters::markMissing() {
    const QString none = QStringLiteral("无此参数");
    for (const Field& f : fields())
        if (!(this->*f.present))
            this->*f.text = none;
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
    case t83::cmd::ReadFrequencies:
        m_txfreque = hexOf(p, 0, 3);
        m_rxfreque = hexOf(p, 3, 3);
        m_txfrequeb = m_rxfrequeb = true;
        break;
    case t83::cmd::ReadOwnAddress:
        m_meaddress = hexOf(p, 0, 2);
        m_meaddressb = true;
        break;
    case t83::cmd::ReadDestAddress:
        m_headdress = hexOf(p, 0, 2);
        m_headdressb = true;
        break;
    case t83::cmd::ReadRetryCount:
        m_repeat = hexOf(p, 0, 1);
        m_repeatb = true;
        break;
    case t83::cmd::ReadInviteGroup:
        m_invite = hexOf(p, 0, 2);
        m_inviteb = true;
        break;
    case t83::cmd::ReadVersion:
        m_version.clear();
        for (char c : p)
            m_version += QChar(static_cast<quint8>(c));
        m_versionb = true;
        break;
    case t83::cmd::ReadPowerSaving:
        setMode(b0, m_typepower, u"普通", u"省电");
        m_typepowerb = true;
        break;
    case t83::cmd::ReadTempCompensation:
        setMode(b0, m_typeheat, u"普通", u"温补");
        m_typeheatb = true;
        break;
    case t83::cmd::ReadVoiceMode:
        setMode(b0, m_typeaudio, u"非申请", u"申请");
        m_typeaudiob = true;
        break;
    case t83::cmd::DataBits:
        m_datbit = b0 == 0 ? QStringLiteral("八位") : QStringLiteral("九位");
        m_datbitb = true;
        break;
    case t83::cmd::Squelch:
        m_sqr = b0 == 0 ? QStringLiteral("模拟") : QStringLiteral("数字");
        m_sqrb = true;
        break;
    default:
        break;
    }
}

QStringList ModuleParameters::missing() const {
    QStringList names;
    for (const Field& f : fields())
        if (!(this->*f.present))
            names << QString::fromLatin1(f.name);
    return names;
}

const std::array<ModuleParameters::Field, 12>& ModuleParameters::fields() {
    static const std::array<Field, 12> table{{
        {"txfreque", &ModuleParameters::m_txfreque, &ModuleParameters::m_txfrequeb},
        {"rxfreque", &ModuleParameters::m_rxfreque, &ModuleParameters::m_rxfrequeb},
        {"meaddress", &ModuleParameters::m_meaddress, &ModuleParameters::m_meaddressb},
        {"headdress", &ModuleParameters::m_headdress, &ModuleParameters::m_headdressb},
        {"repeat", &ModuleParameters::m_repeat, &ModuleParameters::m_repeatb},
        {"invite", &ModuleParameters::m_invite, &ModuleParameters::m_inviteb},
        {"version", &ModuleParameters::m_version, &ModuleParameters::m_versionb},
        {"typepower", &ModuleParameters::m_typepower, &ModuleParameters::m_typepowerb},
        {"typeheat", &ModuleParameters::m_typeheat, &ModuleParameters::m_typeheatb},
        {"typeaudio", &ModuleParameters::m_typeaudio, &ModuleParameters::m_typeaudiob},
        {"sqr", &ModuleParameters::m_sqr, &ModuleParameters::m_sqrb},
        {"datbit", &ModuleParameters::m_datbit, &ModuleParameters::m_datbitb},
    }};
    return table;
}
