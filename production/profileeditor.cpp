#include "production/profileeditor.h"

#include "app/userdialogs.h"
#include "production/fieldcaption.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString portName(int port) {
    return QStringLiteral("PB%1").arg(port + 1);
}

QComboBox* comboOf(const QStringList& items, const QString& current, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    if (const qsizetype at = items.indexOf(current); at >= 0)
        box->setCurrentIndex(int(at));
    return box;
}
} // namespace

ProfileEditor::ProfileEditor(const ModuleProfile& profile, UserDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs) {
    setObjectName(QStringLiteral("profileEditor"));
    setWindowTitle(QStringLiteral("编辑配置"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    setAttribute(Qt::WA_DeleteOnClose);

    nameBox = new QLineEdit(profile.name, this);
    table = new QTableWidget(0, 2, this);
    table->setHorizontalHeaderLabels({QStringLiteral("检查项目"), QStringLiteral("设置值")});
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    for (const QString& field : ModuleProfile::WritableSettings())
        addSettingRow(field, profile);
    addVersionRow(profile);
    for (int port = 0; port < 8; ++port)
        addPortRow(port, profile);
    table->resizeRowsToContents();

    okButton = new QPushButton(QStringLiteral("确定"), this);
    cancelButton = new QPushButton(QStringLiteral("取消"), this);
    connect(okButton, &QPushButton::clicked, this, &ProfileEditor::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("配置名称"), this));
    nameRow->addWidget(nameBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("不勾选的项目既不写入也不检查"), this), 1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    resize(620, 640);
}

void ProfileEditor::addSettingRow(const QString& field, const ModuleProfile& profile) {
    const int row = table->rowCount();
    table->insertRow(row);
    fields_ << field;
    auto* check = new QTableWidgetItem(FieldCaption(field));
    check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    check->setCheckState(profile.settings.contains(field) ? Qt::Checked : Qt::Unchecked);
    table->setItem(row, 0, check);
    const QString value = profile.settings.value(field);
    if (const QStringList choices = ModuleProfile::settingChoices(field); !choices.isEmpty()) {
        table->setCellWidget(row, 1, comboOf(choices, value, table));
        return;
    }
    auto* box = new QLineEdit(value, table);
    const int digits = ModuleProfile::settingDigits(field);
    box->setMaxLength(digits);
    // Hex fields take a-f as typed and show them as the module window does.
    const bool hex = field != QStringLiteral("txfreque") && field != QStringLiteral("rxfreque");
    box->setValidator(new QRegularExpressionValidator(
        QRegularExpression(hex ? QStringLiteral("[0-9A-Fa-f]*") : QStringLiteral("[0-9]*")), box));
    connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
        const int at = box->cursorPosition();
        box->setText(text.toUpper());
        box->setCursorPosition(at);
    });
    box->setPlaceholderText(QStringLiteral("%1位").arg(digits));
    table->setCellWidget(row, 1, box);
}

void ProfileEditor::addVersionRow(const ModuleProfile& profile) {
    const int row = table->rowCount();
    table->insertRow(row);
    fields_ << QStringLiteral("version");
    auto* check = new QTableWidgetItem(FieldCaption(QStringLiteral("version")));
    check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    check->setCheckState(profile.version ? Qt::Checked : Qt::Unchecked);
    table->setItem(row, 0, check);
    table->setCellWidget(row, 1, new QLineEdit(profile.version.value_or(QString()), table));
}

void ProfileEditor::addPortRow(int port, const ModuleProfile& profile) {
    using P = PortConfigTexts;
    const int row = table->rowCount();
    table->insertRow(row);
    fields_ << portName(port);
    auto* check = new QTableWidgetItem(portName(port));
    check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    check->setCheckState(profile.ports[port] ? Qt::Checked : Qt::Unchecked);
    table->setItem(row, 0, check);
    const P texts = profile.ports[port].value_or(P{});
    auto* cell = new QWidget(table);
    PortRow& r = ports_[port];
    r.direction = comboOf(P::PortDirectionItems(), texts.direction, cell);
    r.answer = comboOf(P::PortAnswerItems(), texts.answer, cell);
    r.report = comboOf(P::PortReportItems(), texts.report, cell);
    r.destination = comboOf(P::PortDestinationItems(), texts.destination, cell);
    r.form = comboOf(P::PortFormItems(), texts.form, cell);
    auto* line = new QHBoxLayout(cell);
    line->setContentsMargins(0, 0, 0, 0);
    for (QComboBox* box : {r.direction, r.answer, r.report, r.destination, r.form})
        line->addWidget(box);
    line->addStretch(1);
    showDirection(r);
    connect(r.direction, &QComboBox::currentIndexChanged, cell, [r] { showDirection(r); });
    table->setCellWidget(row, 1, cell);
}

void ProfileEditor::showDirection(const PortRow& row) {
    const bool input = row.direction->currentIndex() == 0;
    row.report->setVisible(input);
    for (QComboBox* box : {row.answer, row.destination, row.form})
        box->setVisible(!input);
}

int ProfileEditor::rowOf(const QString& field) const {
    return int(fields_.indexOf(field));
}

bool ProfileEditor::included(int row) const {
    return table->item(row, 0)->checkState() == Qt::Checked;
}

void ProfileEditor::setIncluded(const QString& field, bool on) {
    if (const int row = rowOf(field); row >= 0)
        table->item(row, 0)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

QLineEdit* ProfileEditor::textEditor(const QString& field) const {
    const int row = rowOf(field);
    return row < 0 ? nullptr : qobject_cast<QLineEdit*>(table->cellWidget(row, 1));
}

QComboBox* ProfileEditor::choiceEditor(const QString& field) const {
    const int row = rowOf(field);
    return row < 0 ? nullptr : qobject_cast<QComboBox*>(table->cellWidget(row, 1));
}

std::optional<ModuleProfile> ProfileEditor::edited(QString* error) const {
    ModuleProfile profile;
    profile.name = nameBox->text().trimmed();
    for (int row = 0; row < int(fields_.size()); ++row) {
        if (!included(row))
            continue;
        const QString& field = fields_.at(row);
        if (field.startsWith(QStringLiteral("PB"))) {
            const PortRow& r = ports_[row - rowOf(QStringLiteral("PB1"))];
            PortConfigTexts texts;
            texts.direction = r.direction->currentText();
            if (texts.isInput()) {
                texts.report = r.report->currentText();
            } else {
                texts.answer = r.answer->currentText();
                texts.destination = r.destination->currentText();
                texts.form = r.form->currentText();
            }
            profile.ports[row - rowOf(QStringLiteral("PB1"))] = texts;
            continue;
        }
        if (const QLineEdit* box = textEditor(field); box && field == QStringLiteral("version")) {
            if (box->text().trimmed().isEmpty()) {
                *error = QStringLiteral("%1: 勾选后不能为空").arg(FieldCaption(field));
                return std::nullopt;
            }
            profile.version = box->text().trimmed();
            continue;
        }
        const QLineEdit* text = textEditor(field);
        const QString value = text ? text->text().trimmed() : choiceEditor(field)->currentText();
        if (const QString what = ModuleProfile::checkSetting(field, value); !what.isEmpty()) {
            *error = QStringLiteral("%1: %2").arg(FieldCaption(field), what);
            return std::nullopt;
        }
        profile.settings.insert(field, value);
    }
    if (profile.isEmpty()) {
        *error = QStringLiteral("没有勾选任何项目");
        return std::nullopt;
    }
    return profile;
}

bool ProfileEditor::accept() {
    QString error;
    const std::optional<ModuleProfile> profile = edited(&error);
    if (!profile) {
        dialogs_.message(QStringLiteral("配置没有改动:\n%1").arg(error), QStringLiteral("提示"),
                         UserDialogs::Icon::Exclamation);
        return false;
    }
    emit accepted(*profile);
    close();
    return true;
}
