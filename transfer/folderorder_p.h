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
inline const QString kRecordName = QStringLiteral("record");
inline const QString kParkedName = QStringLiteral("parked");
// Written full of zeros and removed again, where a drive does not say how much room it has.
inline const QString kRoomProbeName = QStringLiteral("room");
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
// every entry is still known as the program's. True when the hidden folder itself went.
bool removeHidden(const QString &staging, const QStringList &bundles, const QStringList &records,
    const QStringList &others = {});

void step(FolderOrder::Step at, int count = 0);

}  // namespace folderorder
