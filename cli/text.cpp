#include "cli/text.h"

#include <QStringList>
#include <QtGlobal>
#include <utility>

bool SpeaksChinese() {
    static const bool chinese = [] {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const QString value = qEnvironmentVariable(name);
            if (!value.isEmpty())
                return value.startsWith(QLatin1String("zh"));
        }
        return true;
    }();
    return chinese;
}

QString Say(const QString& zh, const QString& en) {
    return SpeaksChinese() ? zh : en;
}

QString SayEngine(const QString& text) {
    if (SpeaksChinese())
        return text;
    static const std::pair<const char16_t*, const char*> known[] = {
        {u"参数不符: ", "fields differ: "},
        {u"模块无应答", "the module did not answer"},
        {u"串口断开", "the port was lost"},
        {u"串口写入失败", "the port refused the write"},
        {u"锁相环无法锁定", "the PLL cannot lock (F7)"},
        {u"设置频率超出范围", "frequency out of range (FF)"},
        {u"频率设置完成", "frequency stored"},
        {u"无此参数", "missing"},
    };
    QString out = text;
    for (const auto& [zh, en] : known)
        out.replace(QString::fromUtf16(zh), QLatin1String(en));
    return out;
}
