#pragma once

#include <QString>
#include <QStringList>

// A FAT image file as a drive, written through a real FAT driver: fusefat, which needs root and
// /dev/fuse. Tests that need one skip with kSkipReason where canMount() says no.
namespace fatimage {

inline constexpr char kSkipReason[] = "needs root, /dev/fuse and fusefat to mount a FAT image";

bool canMount();
// A fresh image of `size` ("160M") made by mkfs.vfat with `mkfsArguments` ("-F", "32", ...).
bool make(const QString &image, const QString &size, const QStringList &mkfsArguments);
// Mounts the image at `folder` (made if missing) with fusefat's `options`.
bool mount(const QString &image, const QString &folder, const QStringList &options = {"-o", "rw+"});
void unmount(const QString &folder);
// Kills the fusefat serving `image`, as pulling the stick would: its mount stays, dead, until
// unmount() clears it. False when no fusefat serves it.
bool pull(const QString &image);

// One directory entry of a FAT32 image where it stands: the index of its short entry among the
// folder's slots, so an entry that was moved and came back (even to the same place in mdir's
// listing) is told from one left alone by its start cluster.
struct Slot {
    QString name;
    int index = 0;
    quint32 cluster = 0;
    bool folder = false;
};
// The entries of `folder` ("Example Media/Album"; "" for the root) of a FAT16 or FAT32 image that
// is not mounted, in slot order; empty when the image or folder cannot be read.
QList<Slot> slotsOf(const QString &image, const QString &folder);

// The names of `folder` of a FAT16 or FAT32 image in slot order, as the car reads them.
QStringList namesIn(const QString &image, const QString &folder);

// All a person or the car sees of an image that the program may have left there: its hidden
// folders, its plugs and the folder it shows the user's left-overs in; "" when none.
QString leftOvers(const QString &image);
// The names of the songs and videos of `folder` in slot order; those mtools wrote are 8.3 names,
// whose case the drivers show otherwise.
QStringList playedIn(const QString &image, const QString &folder);

// Runs an mtools command (mcopy, mmd, mdel, ...); true when it ended well.
bool mtool(const QString &tool, const QStringList &arguments);
// What mdir says an image that is not mounted has free, in bytes; -1 when it cannot tell.
qint64 bytesFree(const QString &image);
// Leaves exactly `free` bytes free on an image that is not mounted, with a file of the user's,
// "FILLER", in its top folder (made anew each time).
bool leaveFree(const QString &image, qint64 free);

// What fsck.fat finds wrong with the image; "" when nothing. A stick pulled mid-run never gets its
// count of free clusters written, a hint that drivers recount and fsck corrects; with `pulled`
// only that may be wrong.
QString fsckProblems(const QString &image, bool pulled = false);

}  // namespace fatimage
