#pragma once

#include "tempfiles.h"

#include <QString>
#include <QStringList>

#include <functional>

// Copying onto removable drives, where the reason a write fails decides what the user is told:
// a full drive stops a transfer, a vanished drive ends it, a refused name only skips one file.
namespace platform {

// How much a copy moves between two looks at its stop: small enough that a stop is honoured
// at once even on a slow stick, large enough that the looks cost nothing. FUSE hands writes on in
// pieces of 128 KiB whatever the buffer, and a larger one measured no faster (see bench/README).
constexpr qint64 kCopyChunkBytes = 128 * 1024;

struct CopyOutcome {
    // Cancelled: the caller's stop ended the copy; no failure of the drive or the file.
    enum Error { None, NoSpace, TooLarge, BadName, TargetGone, SourceUnreadable, ReadOnly, Other, Cancelled };
    Error error = None;
    QString message;  // the system's own words, for the log and the user
    bool ok() const { return error == None; }
};

// Copies `source` to `target`, which must not exist yet, kCopyChunkBytes at a time, asking
// `stopped` (when given) before each chunk. A failed or stopped copy leaves no file behind.
CopyOutcome copyFile(const QString &source, const QString &target, const std::function<bool()> &stopped = {});

// Makes the folder and every missing folder above it, telling why one cannot be made.
CopyOutcome makeFolders(const QString &path);

// Makes one folder in a parent that must exist already: a vanished parent is TargetGone, never
// made again. A folder that is there already is fine; `made` tells whether it is new.
CopyOutcome makeFolder(const QString &path, bool *made = nullptr);

// Whether files can be made in `folder`: ReadOnly when the volume or the folder refuses writes.
CopyOutcome writableFolder(const QString &folder);

// Moves `from` over `to` in one step: `to` is either the old file or the new one, never missing.
CopyOutcome replaceFile(const QString &from, const QString &to);

// An id of the volume that holds `path`; 0 when the path cannot be read. A drive that was
// unmounted leaves its mount folder on another volume, so the id tells the two apart.
quint64 volumeIdOf(const QString &path);

// The largest file the volume holding `folder` can store: 4 GiB - 1 on FAT, else -1 (no limit).
qint64 maxFileSizeOn(const QString &folder);

// A descriptor on a file system, taken when a run begins and held to its end. Its flush writes
// out to the device all that the file system still keeps back, of every file (syncfs): a stick or
// card is written back from memory seconds to minutes after a copy returns, and until then
// pulling it loses files. The flush reports a write-back error from any time since the hold was
// taken, which a descriptor opened at the end would not see (the kernel tells each open file only
// of errors after its opening).
class FileSystemHold
{
public:
    explicit FileSystemHold(const QString &path);
    ~FileSystemHold();
    FileSystemHold(const FileSystemHold &) = delete;
    FileSystemHold &operator=(const FileSystemHold &) = delete;
    // Writes out all that the file system still keeps back (syncfs).
    CopyOutcome flush() const;

private:
    int m_fd;
    int m_openError;
};

// Writes one open file's data out to its device (fsync), as before it is renamed over another.
CopyOutcome flushFile(int fd);

// Writes a folder's own entries out to its device, so a file made or renamed in it is there after
// a pulled stick. A file system that cannot flush a folder by itself is taken as done.
CopyOutcome flushFolder(const QString &folder);

// Makes an empty file that must not exist yet: a name taken already is BadName with EEXIST.
CopyOutcome makeEmptyFile(const QString &path);

// Writes `bytes` as the whole content of an existing file and writes it out to its device before
// returning.
CopyOutcome writeDurably(const QString &path, const QByteArray &bytes);

// Writes `bytes` zeros into the new file `path` and out to its device, then empties it while it is
// still open: on a drive that does not say how much room it has, whether that much is there. The
// empty file stays for the caller to remove later: a FUSE driver keeps a file removed just after it
// was closed under a name of its own, which a stick pulled then keeps.
CopyOutcome tryRoom(const QString &path, qint64 bytes);

// What is at `path` itself, a link not followed. For Unreadable, `why` (when given) tells why.
enum class EntryKind { Missing, Folder, File, Link, Other, Unreadable };
EntryKind entryKindOf(const QString &path, CopyOutcome *why = nullptr);

// The room left on the volume holding `folder` and its cluster, the least a new file or folder
// takes: the block the kernel's FAT drivers count in, and what fusefat's 1 KB blocks and its count
// of clusters tell. `free` is -1 where the file system does not tell (fusefat on FAT32); the unit
// is then the largest a FAT drive commonly has.
struct Room {
    qint64 free = -1;
    qint64 unit = 32 * 1024;
};
Room roomOn(const QString &folder);

// The names in `folder` in the file system's own order, nothing looked at but the names: on a
// slow driver a look at each entry costs more than the listing.
QStringList entryNames(const QString &folder);

// Whether the file system holding `folder` lists a folder's entries in the order of their
// places in the folder (FAT and exFAT, which cars read), rather than sorted (NTFS) or hashed
// (ext4). Only there does the order files are written in decide the order they are played in.
bool keepsEntryOrder(const QString &folder);

}  // namespace platform
