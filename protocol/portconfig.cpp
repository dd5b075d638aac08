#include "protocol/portconfig.h"

const QStringList& PortConfigTexts::PortDirectionItems() {
    static const QStringList items{QStringLiteral("输入"), QStringLiteral("输出")};
    return items;
}

const QStringList& PortConfigTexts::PortAnswerItems() {
    static const QStringList items{QStringLiteral("应答"), QStringLiteral("不应答")};
    return items;
}

const QStringList& PortConfigTexts::PortReportItems() {
    static const QStringList items{QStringLiteral("端口电平变化后不发送变化信息"),
                                   QStringLiteral("端口电平由低变高后发送变化信息"),
                                   QStringLiteral("端口电平由高变低后发送变化信息"),
                                   QStringLiteral("端口电平变化后发送变化信息")};
    return items;
}

const QStringList& PortConfigTexts::PortDestinationItems() {
    static const QStringList items{QStringLiteral("无输出"), QStringLiteral("串口输出"),
                                   QStringLiteral("对应端口输出"),
                                   QStringLiteral("串口及对应端口同时输出")};
    return items;
}

const QStringList& PortConfigTexts::PortFormItems() {
    static const QStringList items{QStringLiteral("输出正脉冲"), QStringLiteral("输出负脉冲"),
                                   QStringLiteral("输出发端电平")};
    return items;
}

namespace {
QString item(const QStringList& items, int number) {
    return number >= 0 && number < items.size() ? items.at(number) : QString();
}
} // namespace

PortConfigTexts DecodePortConfig(quint8 directionAnswer, quint8 mode) {
    using P = PortConfigTexts;
    PortConfigTexts t;
    switch (directionAnswer) {
    case 0x0F:
    case 0xFF:
        t.direction = P::PortDirectionItems().at(0);
        t.report = item(P::PortReportItems(), mode & 0x0F);
        break;
    case 0x00:
    case 0xF0:
        t.direction = P::PortDirectionItems().at(1);
        t.answer = P::PortAnswerItems().at(directionAnswer == 0xF0 ? 0 : 1);
        t.destination = item(P::PortDestinationItems(), mode >> 4);
        t.form = item(P::PortFormItems(), mode & 0x0F);
        break;
    default:
        break;
    }
    return t;
}

bool EncodePortConfig(const PortConfigTexts& t, quint8* directionAnswer, quint8* mode) {
    using P = PortConfigTexts;
    if (t.isInput()) {
        const int report = P::PortReportItems().indexOf(t.report);
        if (report < 0)
            return false;
        *directionAnswer = 0x0F;
        *mode = quint8(report);
        return true;
    }
    const int answer = P::PortAnswerItems().indexOf(t.answer);
    const int destination = P::PortDestinationItems().indexOf(t.destination);
    const int form = P::PortFormItems().indexOf(t.form);
    if (t.direction != P::PortDirectionItems().at(1) || answer < 0 || destination < 0 || form < 0)
        return false;
    *directionAnswer = answer == 0 ? 0xF0 : 0x00;
    *mode = quint8(destination << 4 | form);
    return true;
}
