#pragma once

#include <QString>

// Unpacks the zip archive into `destination`, an existing empty folder, writing nothing outside it:
// absolute names, ".." components, links at the top or pointing out of their top folder, writes
// through links, special files, damaged entries, entries longer than they declare and archives that
// would unpack to far more than their own size (a zip bomb) are refused; set-uid and set-gid bits are never
// restored. Throws CompanionError::server("Güncelleme paketi açılamadı.") when the archive is unreadable or
// anything in it is refused; entries before the failing one stay written, so the caller discards the
// folder. libarchive is loaded from `archiveLibrary` for the unpack alone; when it cannot be loaded,
// the same error is thrown before anything is written and the reason logged.
void unpackUpdateArchive(const QString &archivePath, const QString &destination,
    const QString &archiveLibrary = QStringLiteral("libarchive.so.13"));
