#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"

#include <QDirIterator>

#include <algorithm>

namespace folderorder {

namespace {

constexpr qint64 kSlotBytes = 32;
// How deep folders moved anew are looked into to tell what they take.
constexpr int kMaxDepth = 8;

qint64 unitsOf(qint64 bytes, qint64 unit)
{
    return (bytes + unit - 1) / unit;
}

qint64 slotUnits(qint64 count, qint64 unit)
{
    return unitsOf(count * kSlotBytes, unit);
}

// What a folder moved anew takes while it is made again: its own entries and the folders in it.
qint64 folderUnits(const QString &folder, qint64 unit, int depth = 0)
{
    qint64 count = 2, units = 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        count += slotsOf(it.fileName());
        if (depth < kMaxDepth && it.fileInfo().isDir() && !it.fileInfo().isSymLink())
            units += folderUnits(it.filePath(), unit, depth + 1);
    }
    return units + slotUnits(count, unit);
}

}  // namespace

RoomAccount countRoom(const QString &folder, FolderOrder::Kind kind, const QStringList &played,
    const QStringList &out, qint64 recordBytes, qint64 unit)
{
    RoomAccount room;
    room.unit = std::max<qint64>(1, unit);
    qint64 count = 0, bundleSlots = 0;
    for (qsizetype i = 0; i < played.size(); ++i) {
        const QString &name = played.at(i);
        count += slotsOf(name);
        bundleSlots += slotsOf(name);
        if ((i + 1) % kBundleEntries == 0 || i + 1 == played.size()) {
            room.parked += slotUnits(2 + bundleSlots, room.unit);
            bundleSlots = 0;
        }
        // Only the media folder parks folders; each is made anew and the old one goes, in turn.
        const QString path = folder + QLatin1Char('/') + name;
        if (kind == FolderOrder::MediaRoot && platform::entryKindOf(path) == platform::EntryKind::Folder)
            room.moved = std::max(room.moved, folderUnits(path, room.unit));
    }
    const qint64 bundles = (played.size() + kBundleEntries - 1) / kBundleEntries;
    // Its dot entries, two records, the room probe and the parked folders, each with a long name.
    room.hidden = slotUnits(2 + 2 * (3 + bundles), room.unit);
    room.record = unitsOf(recordBytes, room.unit);
    // Entries come back after the last entry that stays, and plugs too many are made there and
    // removed again: the folder reaches at most that far past its end, whichever pass it is in.
    room.growth = slotUnits(count, room.unit);
    qint64 outSlots = 0;
    for (const QString &name : out)
        outSlots += slotsOf(name);
    room.putBack = slotUnits(outSlots, room.unit);
    return room;
}

}  // namespace folderorder
