#pragma once

#include <QString>

// The command line speaks Chinese unless the environment names another language: the
// first of LC_ALL, LC_MESSAGES and LANG that is set decides, English when it does not
// start with "zh".
bool SpeaksChinese();
// The text in the user's language.
QString Say(const QString& zh, const QString& en);
// A text the engine gives (a run's reason, the module's status) in the user's language:
// the known ones are translated, any other is passed on as it is.
QString SayEngine(const QString& text);
