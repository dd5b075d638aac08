#pragma once

#include <QByteArray>
#include <QString>

class AppContext;
class QLineEdit;

// The module's twelve settings as last read, each with a flag telling whether the
// module ever answered for it. Lives for the whole run.
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
};

// Two characters packed as one decimal byte: "22" -> 0x22, "7" -> 0x77, "" -> 0x00;
// anything that is not a decimal digit counts as 0.
quint8 PackDecimalPair(const QString& text);
// One hex digit: '0'..'9', 'A'..'F' (upper case only); anything else is 0.
quint8 HexDigitValue(QChar c);
// Key filter of the frequency boxes: returns 0 for a discarded key.
int FilterDecimalKey(int key);
// Key filter of the address, retry and group boxes: discards what is not a hex digit
// and types a-f as A-F into the box itself. Returns the key to let through, or 0.
int FilterHexKey(QLineEdit* box, int key);

// Writes a whole frame to the serial object, adding nothing. False when the port is
// closed (the frame is dropped) or the line refused it (the user is told).
bool SendFrame(AppContext& ctx, const QByteArray& frame);
// For frames the user asked for: tells the user once that the port is not open.
bool PortOpenForUser(AppContext& ctx);
