#pragma once

#include "tempfiles.h"

#include <QString>

// Copying onto removable drives, where the reason a write fails decides what the user is told:
// a full drive stops a transfer, a vanished drive ends it, a refused name only skips one file.
namespace platform {

struct CopyOutcome {
    enum Error { None, NoSpace, TooLarge, BadName, TargetGone, SourceUnreadable, Other };
    Error error = None;
    QString message;  // the system's own words, for the log and the user
    bool ok() const { return error == None; }
};

// Copies `source` to `target`, which must not exist yet. A failed copy leaves no file behind.
CopyOutcome copyFile(const QString &source, const QString &target);

// Makes the folder and every missing folder above it, telling why one cannot be made.
CopyOutcome makeFolders(const QString &path);

// Moves `from` over `to` in one step: `to` is either the old file or the new one, never missing.
CopyOutcome replaceFile(const QString &from, const QString &to);

// An id of the volume that holds `path`; 0 when the path cannot be read. A drive that was
// unmounted leaves its mount folder on another volume, so the id tells the two apart.
quint64 volumeIdOf(const QString &path);

// The largest file the volume holding `folder` can store: 4 GiB - 1 on FAT, else -1 (no limit).
qint64 maxFileSizeOn(const QString &folder);

}  // namespace platform
