#pragma once

#include <QString>

// How a name sent by the phone becomes a file name in the target folder, and how a storage path
// becomes part of a request path. Pure text work: nothing here touches the file system.
namespace FileNaming {

// The longest file name, in UTF-8 bytes, that common Linux file systems accept.
constexpr int maxNameBytes = 255;

// Normalised to NFC; separators, control characters (NUL included), bidirectional marks and unpaired
// surrogates each become one "_"; nothing else changes.
QString cleanName(const QString &original);

struct NameParts {
    QString base; // never empty, never starting with "."
    QString extension; // never empty
};
// Splits at the last "."; an empty extension becomes "jpg". Leading dots of the base are dropped,
// and a base left empty becomes "evrak" (".pdf" gives "evrak.pdf").
NameParts splitName(const QString &cleaned);

// The n-th candidate: 1 is the plain name, 2 and up carry "_n" before the extension. A name that
// would not fit in maxBytes is shortened at the end of its base (and its extension, if that alone
// would crowd out the base), so every candidate fits and candidates stay distinct.
QString candidateName(const NameParts &parts, int number, int maxBytes = maxNameBytes);

// Percent-escapes each non-empty piece of a "/"-separated storage path and joins them with "/".
QString escapedStoragePath(const QString &storagePath);

} // namespace FileNaming
