#pragma once

#include <QStringList>

class QComboBox;
class QWidget;

// A list for the configuration windows: it can show any text (a value read from the
// module may match none of its items, or be "无此参数"), but unless `typed` is set the
// user can only choose one of its items.
QComboBox* MakeChoiceList(QWidget* parent, const QStringList& items, bool typed = false);
// Shows a text in such a list; an item with that text also becomes the current one.
void SetListText(QComboBox* list, const QString& text);
