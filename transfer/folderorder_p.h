#pragma once

#include "filecopy.h"
#include "folderorder.h"

#include <QFileInfoList>
#include <QString>

#include <optional>

// What the parts of FolderOrder share: how a hidden folder is laid out and how entries move.
namespace folderorder {

// ".kivo-<pid>-<n>.order" in the target's root: its record, and the parked entries in a folder of
// their own, so no name of the user's can meet the record's.
inline const QString kStagingSuffix = QStringLiteral("order");
// A pass, or the mend of a cut-short arrange, writes its record beside the one that keeps the order
// until then, which goes once the new one is on the device: the two names take turns.
inline const QString kRecordName = QStringLiteral("record");
inline const QString kSecondRecordName = QStringLiteral("record.2");
inline const QString kParkedName = QStringLiteral("parked");
// Written full of zeros and emptied again, where a drive does not say how much room it has; it goes
// with the hidden folder, long after it was closed.
inline const QString kRoomProbeName = QStringLiteral("room");
// Entries a parked folder takes before the next is begun.
inline constexpr int kBundleEntries = 64;
// The record of the hidden folders of earlier versions, beside the entries.
inline const QString kOldRecordName = QStringLiteral(".kivo-origin");

// The b-th folder parked entries go to (from 0): `parked` itself, then "parked.2", ...
inline QString bundlePath(const QString &parked, int b)
{
    return b == 0 ? parked : parked + QStringLiteral(".%1").arg(b + 1);
}

QString kindName(FolderOrder::Kind kind);
std::optional<FolderOrder::Kind> kindNamed(const QString &name);

// The folder's entries in the file system's own order, links not followed.
QFileInfoList listing(const QString &folder);

// Moves the entry `name` of `from` into `to` as `newName` (the same when empty), never over
// anything there. A folder is made anew there and its entries moved one by one (fusefat loses
// the contents of a folder that is itself renamed); one already there takes in what it does not
// hold yet, and what it does stays behind.
platform::CopyOutcome move(
    const QString &from, const QString &to, const QString &name, const QString &newName = {});

// `name`, or it with " (2)", " (3)", ... before its suffix (its stem shortened so the whole
// fits 255 bytes), that nothing in `folder` has, or, with `folderWelcome`, nothing but a folder.
// Empty when a hundred tries find none.
QString freeNameIn(const QString &folder, const QString &name, bool folderWelcome = false);

// Removes a hidden folder once nothing is parked in it: the program's `others`, then its parked
// folders, then its record files last of all, so a run killed meanwhile leaves a hidden folder whose
// every entry is still known as the program's. The records stay while anything else is left in it,
// what a driver keeps of removed files included once the wait for it is over. Empty when the hidden
// folder itself went; else why it stays.
QString removeHidden(const QString &staging, const QStringList &bundles, const QStringList &records,
    const QStringList &others = {});

// The hidden folder an arrange goes through: made by its first pass, or left by an arrange that was
// cut short, whose mend goes on in it.
struct Hidden {
    QString parent;  // the folder that holds it: the target's root
    QString path;  // empty until made or taken on
    QString record;  // the name of the record that keeps the order now; empty for none
    bool made = false;  // made by this arrange
};

// The room an arrange takes on the drive, in whole clusters, counted once before its first move:
// the hidden folder; two records, as each pass or mend writes its own before the last goes; the
// parked folders of a pass that moves every played entry; the folder's growth while entries come
// back, over both passes; what putting back a cut-short pass may grow it by; and, for the media
// folder, the largest folder moved, made anew.
struct RoomAccount {
    qint64 unit = 0;
    qint64 hidden = 0;
    qint64 record = 0;
    qint64 parked = 0;
    qint64 growth = 0;
    qint64 putBack = 0;
    qint64 moved = 0;

    // What must be free before anything is made.
    qint64 fresh() const { return unit * (hidden + 2 * record + parked + growth + putBack + moved); }
    // What must be free to go on in the hidden folder of a cut-short arrange, which holds one record
    // and nothing else, its entries put back.
    qint64 goingOn() const { return unit * (record + parked + growth + moved); }
};
// `played`: all the car plays in the folder; `out`: what the first pass moves; `recordBytes`: the
// largest record a pass writes.
RoomAccount countRoom(const QString &folder, FolderOrder::Kind kind, const QStringList &played,
    const QStringList &out, qint64 recordBytes, qint64 unit);

// The slots a name takes in a FAT folder: its short entry and a long-name entry per 13 units.
// exFAT takes a few more; the plugs find out what is really free.
inline int slotsOf(const QString &name)
{
    return 1 + int((name.size() + 12) / 13);
}

void step(FolderOrder::Step at, int count = 0);

// The first bytes of a file, as many as a record may have and one more.
QByteArray readBounded(const QString &path);
// The room probe: emptied by the run that wrote it, or, where that run was killed while it wrote
// it, a file that holds nothing but zeros. An empty one is not opened, as it is removed next.
bool isRoomProbe(const QString &path);
// A probe or record of the program's in a hidden folder that a FUSE driver kept under a name of its
// own, as it was removed just after it was closed, and still holds, the stick pulled meanwhile.
bool isFuseKept(const QFileInfo &entry);

}  // namespace folderorder
