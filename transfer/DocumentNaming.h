#pragma once

#include <QByteArray>
#include <QString>

// Where a document goes in the target folder, and whether it may be saved at all.

struct DocumentDigest {
    qint64 size = 0;
    QByteArray sha256; // raw digest bytes
};

struct Destination {
    QString path; // absolute path inside the target folder
    bool identicalExists; // a file with exactly these bytes is already there
};

// The file the document goes to: the phone's name made safe, numbered until it names nothing in
// `folder`, or an earlier file that already holds exactly these bytes. Never a name that something
// else occupies; unreadable files and anything but regular files count as different.
Destination uniqueDestination(
    const QString &folder, const QString &originalName, const DocumentDigest &digest);

// Throws CompanionError::server when the leading bytes are not the kind the phone's name promises:
// a PDF for a name ending in ".pdf" in any letter case, a JPEG for every other name.
void validateDocument(const QByteArray &leadingBytes, const QString &originalName);

// Whether the path is a regular file of exactly `size` bytes whose SHA-256 is `sha256`. Sizes are
// compared first, so files of another size are never read; unreadable files count as different.
bool fileHoldsDigest(const QString &path, qint64 size, const QByteArray &sha256);
