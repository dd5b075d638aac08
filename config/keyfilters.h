#pragma once

class QLineEdit;

// Key filter of the frequency boxes: returns 0 for a discarded key.
int FilterDecimalKey(int key);
// Key filter of the address, retry and group boxes: discards what is not a hex digit
// and types a-f as A-F into the box itself. Returns the key to let through, or 0.
int FilterHexKey(QLineEdit* box, int key);
