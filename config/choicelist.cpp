#include "config/choicelist.h"

#include <QComboBox>
#include <QLineEdit>

QComboBox* MakeChoiceList(QWidget* parent, const QStringList& items, bool typed) {
    auto* list = new QComboBox(parent);
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->addItems(items);
    list->lineEdit()->setReadOnly(!typed);
    list->setEditText(QString());
    return list;
}

void SetListText(QComboBox* list, const QString& text) {
    const int index = list->findText(text, Qt::MatchExactly);
    if (index >= 0)
        list->setCurrentIndex(index);
    list->setEditText(text);
}
