#include "app/userdialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {
QMessageBox::Icon boxIcon(UserDialogs::Icon icon) {
    switch (icon) {
    case UserDialogs::Icon::Information:
        return QMessageBox::Information;
    case UserDialogs::Icon::Exclamation:
        return QMessageBox::Warning;
    case UserDialogs::Icon::Critical:
        return QMessageBox::Critical;
    case UserDialogs::Icon::Question:
        return QMessageBox::Question;
    case UserDialogs::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void QtUserDialogs::notify(const QString& text, const QString& title, Icon icon, QWidget* owner,
                           std::function<void()> dismissed) {
    auto* box = new QMessageBox(owner ? owner : parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(title);
    box->setText(text);
    box->setIcon(boxIcon(icon));
    box->setStandardButtons(QMessageBox::Ok);
    // Modal to the user, not to the code: no event loop of its own.
    box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    if (dismissed)
        QObject::connect(box, &QDialog::finished, box, [dismissed](int) { dismissed(); });
    box->open();
}

UserDialogs::Answer QtUserDialogs::message(const QString& text, const QString& title, Icon icon,
                                           Buttons buttons) {
    QMessageBox box(parent_);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(boxIcon(icon));
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Ok;
    }
}

std::optional<QString> QtUserDialogs::inputBox(const QString& prompt, const QString& title,
                                               const QString& defaultText) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtUserDialogs::openFileName(const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent_, title, QString(), filter);
}

QString QtUserDialogs::saveFileName(const QString& title, const QString& filter,
                                    const QString& proposedName) {
    return QFileDialog::getSaveFileName(parent_, title, proposedName, filter);
}
