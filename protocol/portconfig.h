#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// A switch port's configuration as the switch-port window shows it, and its two bytes on
// the wire: direction/answer (0F input, FF also input, 00 output without answer, F0
// output with answer) and mode (input: report mode 0..3; output: destination in the high
// nibble, output form in the low).
struct PortConfigTexts {
    QString direction;   // "输入" or "输出"
    QString answer;      // outputs: "应答" or "不应答"; inputs: empty
    QString report;      // inputs: one of PortReportItems()
    QString destination; // outputs: one of PortDestinationItems()
    QString form;        // outputs: one of PortFormItems()

    bool isInput() const { return direction == PortDirectionItems().at(0); }
    bool operator==(const PortConfigTexts&) const = default;

    static const QStringList& PortDirectionItems();
    static const QStringList& PortAnswerItems();
    static const QStringList& PortReportItems();
    static const QStringList& PortDestinationItems();
    static const QStringList& PortFormItems();
};

// The texts of a port's two bytes; an empty direction for a direction byte the module
// should never report.
PortConfigTexts DecodePortConfig(quint8 directionAnswer, quint8 mode);
// The two bytes of a port's texts; false when a text is not one of its list's items.
bool EncodePortConfig(const PortConfigTexts& texts, quint8* directionAnswer, quint8* mode);
