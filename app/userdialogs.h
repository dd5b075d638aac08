#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

// Every message box, file dialog and input box of the program goes through this
// interface: the program shows real Qt dialogs, tests answer from a script.
class UserDialogs {
  public:
    enum class Icon { None, Information, Exclamation, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~UserDialogs() = default;

    virtual Answer message(const QString& text, const QString& title, Icon icon,
                           Buttons buttons = Buttons::Ok) = 0;
    // A message with an OK button that does not hold up the code that raises it: the box
    // is modal to the user (its owner, or the main window, takes no input while it is
    // up), but the call returns at once and the program goes on (reading the line,
    // drawing). `dismissed` runs once the user has closed it. Whatever the receive path
    // tells the user goes this way.
    // An implementation without boxes of its own (a benchmark's) answers it as a message.
    virtual void notify(const QString& text, const QString& title, Icon icon,
                        QWidget* owner = nullptr, std::function<void()> dismissed = {}) {
        (void)owner;
        message(text, title, icon);
        if (dismissed)
            dismissed();
    }
    // Empty when the user cancels.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    virtual QString openFileName(const QString& title, const QString& filter) = 0;
    // `proposedName`: the file name the dialog starts with (none when empty).
    virtual QString saveFileName(const QString& title, const QString& filter,
                                 const QString& proposedName = QString()) = 0;

    // Parent for the modal dialogs (the main window once it exists).
    void setParentWidget(QWidget* parent) { parent_ = parent; }

  protected:
    QWidget* parent_ = nullptr;
};

class QtUserDialogs final : public UserDialogs {
  public:
    Answer message(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    void notify(const QString& text, const QString& title, Icon icon, QWidget* owner,
                std::function<void()> dismissed) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override;
    QString openFileName(const QString& title, const QString& filter) override;
    QString saveFileName(const QString& title, const QString& filter,
                         const QString& proposedName = QString()) override;
};
