#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>

// The module's twelve settings as last read, each with a flag telling whether the
// module ever answered for it.
struct ModuleParameters {
    QString m_txfreque, m_rxfreque, m_meaddress, m_headdress, m_repeat, m_invite, m_version,
        m_typepower, m_typeheat, m_typeaudio, m_sqr, m_datbit;
    bool m_txfrequeb = false, m_rxfrequeb = false, m_meaddressb = false, m_headdressb = false,
         m_repeatb = false, m_inviteb = false, m_versionb = false, m_typepowerb = false,
         m_typeheatb = false, m_typeaudiob = false, m_sqrb = false, m_datbitb = false;

    // Every setting the module did not answer for reads "无此参数".
    void markMissing();
    // Stores a parameter reply: its code (EF, F4, E3, E8, A2, EC, D2, D5, B7, AB, A8) and
    // its complete payload. Other codes change nothing.
    void storeReply(quint8 code, const QByteArray& payload);
    // The names (as in `fields()`) of the settings the module has not answered for.
    QStringList missing() const;

    // Each setting by its short name ("txfreque" for m_txfreque), in the module
    // window's order.
    struct Field {
        const char* name;
        QString ModuleParameters::*text;
        bool ModuleParameters::*present;
    };
    static const std::array<Field, 12>& fields();
};
