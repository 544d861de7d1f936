#pragma once

#include <QString>

// Orders two version texts the way people read them: runs of ASCII digits compare by their numeric
// value ("1.1.10" after "1.1.9"), every other character by its code, and a text that is a prefix of
// the other orders first ("1.2" before "1.2.0"). Runs that differ only in leading zeros are equal.
// Negative, zero or positive, like strcmp.
int compareVersions(const QString &left, const QString &right);
