#pragma once

#include "protocol/profile.h"

#include <QWidget>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class UserDialogs;

// "编辑配置": a profile field by field. Each of the eleven settings, the software version
// and the eight switch ports is a row with a check box (checked: written and checked at
// the station; unchecked: left out) and its value as the module and switch-port windows
// offer it. "确定" hands the profile on only when every checked value is one the module
// takes; otherwise the first bad field is named and nothing changes.
class ProfileEditor : public QWidget {
    Q_OBJECT
  public:
    ProfileEditor(const ModuleProfile& profile, UserDialogs& dialogs, QWidget* parent = nullptr);

    // The profile the rows make; std::nullopt and `error` naming the first bad field when
    // a checked value is not valid.
    std::optional<ModuleProfile> edited(QString* error) const;
    // "确定": emits accepted() and closes, or names the bad field and stays.
    bool accept();

    // The row of a field ("txfreque" …, "version", "PB1".."PB8").
    int rowOf(const QString& field) const;
    void setIncluded(const QString& field, bool on);
    // The value editor of a setting typed as text (frequencies, addresses, version) or
    // chosen from two (modes); nullptr for the other kind.
    QLineEdit* textEditor(const QString& field) const;
    QComboBox* choiceEditor(const QString& field) const;

    QLineEdit* nameBox;
    QTableWidget* table;
    QPushButton* okButton;
    QPushButton* cancelButton;

  signals:
    void accepted(const ModuleProfile& profile);

  private:
    struct PortRow {
        QComboBox* direction;
        QComboBox* answer;
        QComboBox* report;
        QComboBox* destination;
        QComboBox* form;
    };
    void addSettingRow(const QString& field, const ModuleProfile& profile);
    void addVersionRow(const ModuleProfile& profile);
    void addPortRow(int port, const ModuleProfile& profile);
    bool included(int row) const;
    static void showDirection(const PortRow& row);

    UserDialogs& dialogs_;
    QStringList fields_; // one a row
    PortRow ports_[8]{};
};
