#pragma once

#include <QString>

#include <optional>

// The few file-system operations whose exact system semantics the saving of documents relies on:
// never following or replacing what is already at a name, and making a saved file durable. Their
// Linux system calls live in FileSystemLinux.cpp and nowhere else.
namespace FileSystem {

// Whether anything, even a dangling link, exists at the path.
bool isOccupied(const QString &path);
// The size of the regular file at the path, not following a link; nothing for anything else.
std::optional<qint64> regularFileSize(const QString &path);
// Gives the file at `from` the name `to` unless something exists there (then false, nothing
// changes). Never replaces. Throws PlatformError on any other failure.
bool moveWithoutReplacing(const QString &from, const QString &to);
// Forces the open file's bytes to disk. Throws PlatformError.
void syncFile(int descriptor);
// Gives the open file the permissions a new file of the user gets (0666 less the process's umask).
// Silent: a file left private is still the user's own.
void giveUsualPermissions(int descriptor);
// Forces the folder's entries (a completed move) to disk; a failure here changes nothing the user
// can act upon, so it is silent.
void syncFolder(const QString &folder);
// Creates the folder and its missing parents. Throws PlatformError with the system's reason.
void createFolder(const QString &path);
// Marks the open file as in use for as long as this process keeps it open (a lock the system drops
// when the process dies, however it dies). Silent: an unmarked file is only at risk from the sweep.
void markInUse(int descriptor);
// Removes the regular file at the path, never following a link, unless a live process marks it in
// use or it is no longer private to its owner (mode 0600, as temporary files are made): a file with
// the usual permissions was saved, not abandoned. True when it was removed.
bool removeUnlessInUse(const QString &path);

} // namespace FileSystem
