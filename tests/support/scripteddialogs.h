#pragma once

#include "app/userdialogs.h"

#include <QQueue>
#include <QStringList>
#include <functional>

// Answers the program's dialogs from a script and records what it was shown.
class ScriptedDialogs final : public UserDialogs {
  public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
        QWidget* parent; // the window the box was owned by
    };

    Answer message(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    // Recorded with the messages; dismissed at once, unless holdNotices is set: then it
    // stays up until dismissNotices().
    void notify(const QString& text, const QString& title, Icon icon, QWidget* owner,
                std::function<void()> dismissed) override;
    void dismissNotices();
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override;
    QString openFileName(const QString& title, const QString& filter) override;
    QString saveFileName(const QString& title, const QString& filter,
                         const QString& proposedName = QString()) override;

    QList<Shown> messages;
    QStringList prompts;
    QQueue<Answer> answers;                // default: Ok
    QQueue<std::optional<QString>> inputs; // default: cancelled
    QQueue<QString> fileNames;             // default: cancelled (empty)
    QStringList proposedNames;             // what each save dialog proposed
    QList<QWidget*> fileDialogParents;     // the window each file dialog was owned by
    // Runs while a message is up, before it is answered: the program as the user sees it
    // behind the box.
    std::function<void(const Shown&)> whileShown;
    bool holdNotices = false;
    QList<std::function<void()>> heldNotices; // what dismissing each notice held up runs

    QStringList texts() const;
};
