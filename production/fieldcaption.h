#pragma once

#include <QString>

// A profiled field's name as a tester reads it ("txfreque" → "发射频率"); ports and
// anything unknown keep their own name.
QString FieldCaption(const QString& field);
