#pragma once

// Files and folders that belong to the user alone: opened without following a link or waiting
// on a FIFO, used only when they are the user's own regular files, created with no access for
// anyone else.

#include <sys/stat.h>

#include <QString>

namespace tonvale::settings {

// Why an entry is not a regular file of this user with one name ("it is a FIFO", "it belongs
// to another user (uid 65534)", ...); empty when it is one.
QString NotOwnRegularFile(const struct stat& st);

// Opens `path` read-write when it is this user's regular file: no final link is followed, a
// FIFO or device is never opened. A missing file is created with mode 0600 and
// `createFlags` (O_CREAT, or O_CREAT | O_EXCL where it must be new); with createFlags 0 it
// stays missing. An existing file open to others is set to 0600. Returns the descriptor
// (close-on-exec), or -1 with what was found in *problem (empty when the file is missing),
// and *entryRefused true when the entry itself, not the folder, was the reason.
int OpenOwnFile(const QString& path, int createFlags, QString* problem,
                bool* entryRefused = nullptr);

// Creates `folder` and missing parents with mode 0700. True when it exists afterwards.
bool MakePrivateFolder(const QString& folder);

// Why `folder` is not private to this user: not a real folder (a link is not followed),
// someone else's, open to group or others, or in a folder where anyone may rename it.
// Empty when it is private.
QString FolderProblem(const QString& folder);

// Before a settings file is written: its folder becomes 0700 and the file exists with mode
// 0600 (QSettings keeps the mode of the file it replaces). Entries that are not the user's
// own are left alone.
void PrepareSettingsFile(const QString& file);

}  // namespace tonvale::settings
