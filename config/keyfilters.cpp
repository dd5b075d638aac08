#include "config/keyfilters.h"

#include <QLineEdit>

int FilterDecimalKey(int key) {
    if ((key >= 0 && key <= 7) || (key >= 9 && key <= 47) || (key >= 58 && key <= 126))
        return 0;
    return key;
}

int FilterHexKey(QLineEdit* box, int key) {
    if ((key >= 0 && key <= 7) || (key >= 9 && key <= 47) || (key >= 58 && key <= 64) ||
        (key >= 71 && key <= 96) || (key >= 103 && key <= 126))
        return 0;
    if (key >= 'a' && key <= 'f') {
        if (box)
            box->insert(QString(QChar(key - 'a' + 'A')));
        return 0;
    }
    return key;
}
