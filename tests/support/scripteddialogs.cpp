#include "tests/support/scripteddialogs.h"

#include <utility>

UserDialogs::Answer ScriptedDialogs::message(const QString& text, const QString& title, Icon icon,
                                             Buttons) {
    const Shown shown{text, title, icon, parent_};
    messages.append(shown);
    if (whileShown)
        whileShown(shown);
    return answers.isEmpty() ? Answer::Ok : answers.dequeue();
}

void ScriptedDialogs::notify(const QString& text, const QString& title, Icon icon, QWidget* owner,
                             std::function<void()> dismissed) {
    const Shown shown{text, title, icon, owner ? owner : parent_};
    messages.append(shown);
    if (whileShown)
        whileShown(shown);
    if (holdNotices)
        heldNotices.append(dismissed ? std::move(dismissed) : [] {});
    else if (dismissed)
        dismissed();
}

void ScriptedDialogs::dismissNotices() {
    const auto held = std::exchange(heldNotices, {});
    for (const auto& dismissed : held)
        dismissed();
}

std::optional<QString> ScriptedDialogs::inputBox(const QString& prompt, const QString&,
                                                 const QString&) {
    prompts << prompt;
    return inputs.isEmpty() ? std::nullopt : inputs.dequeue();
}

QString ScriptedDialogs::openFileName(const QString& title, const QString&) {
    prompts << title;
    fileDialogParents << parent_;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QString ScriptedDialogs::saveFileName(const QString& title, const QString&,
                                      const QString& proposedName) {
    prompts << title;
    fileDialogParents << parent_;
    proposedNames << proposedName;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QStringList ScriptedDialogs::texts() const {
    QStringList out;
    for (const Shown& m : messages)
        out << m.text;
    return out;
}
