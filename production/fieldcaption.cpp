#include "production/fieldcaption.h"

#include <QHash>

QString FieldCaption(const QString& field) {
    static const QHash<QString, QString> captions{
        {QStringLiteral("txfreque"), QStringLiteral("发射频率")},
        {QStringLiteral("rxfreque"), QStringLiteral("接收频率")},
        {QStringLiteral("meaddress"), QStringLiteral("身份地址")},
        {QStringLiteral("headdress"), QStringLiteral("目的地址")},
        {QStringLiteral("repeat"), QStringLiteral("重发次数")},
        {QStringLiteral("invite"), QStringLiteral("邀请分组")},
        {QStringLiteral("typepower"), QStringLiteral("省电模式")},
        {QStringLiteral("typeheat"), QStringLiteral("温补模式")},
        {QStringLiteral("typeaudio"), QStringLiteral("语音模式")},
        {QStringLiteral("sqr"), QStringLiteral("静噪方式")},
        {QStringLiteral("datbit"), QStringLiteral("数据位数")},
        {QStringLiteral("version"), QStringLiteral("软件版本")}};
    return captions.value(field, field);
}
