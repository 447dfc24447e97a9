#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "removal.h"
#include "tempfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>

using namespace folderorder;

const QString FolderOrder::kRecoveredFolder = QStringLiteral("KiVO recovered files");

QString FolderOrder::namesShown(const QStringList &names)
{
    constexpr int kShown = 10;
    QString text = names.mid(0, kShown).join(QStringLiteral(", "));
    if (names.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(names.size() - kShown);
    return text;
}

namespace {

// One hidden folder left by an earlier run: what it holds and where that belongs. Only what the
// format marks is the program's: anything else found there is the user's and is never deleted.
struct Parking {
    QString staging;  // the hidden folder
    QStringList entries;  // parked, in the order they go back
    QStringList loose;  // found where no record puts anything: the user's, shown to them
    std::optional<ParkingRecord> record;
    QString unusable;  // why the record cannot be followed
    QStringList ours;  // the record files of the program's own
    QStringList probes;  // the room probe a killed run left
    bool current = false;  // a whole record of the present format
    QSet<QString> parkedNames;  // case-folded names found parked
    QStringList bundles;  // the folders of the program's that hold parked entries
    QStringList left;  // what cannot go where it belongs: shown to the user
};

// Two whole records of one hidden folder: the one that keeps the longer order, with what the other
// knows of parked entries, the user's names and parked folders.
ParkingRecord merged(const QList<ParkingRecord> &records)
{
    ParkingRecord whole = records.first();
    for (qsizetype i = 1; i < records.size(); ++i) {
        const ParkingRecord &other = records.at(i);
        ParkingRecord first = other.order.size() > whole.order.size() ? other : whole;
        const ParkingRecord &second = other.order.size() > whole.order.size() ? whole : other;
        for (const QString &name : second.back) {
            if (!first.back.contains(name))
                first.back << name;
        }
        for (const QString &name : second.taken) {
            if (!first.taken.contains(name, Qt::CaseInsensitive))
                first.taken << name;
        }
        first.plugs = first.plugs || second.plugs;
        first.bundles = std::max(first.bundles, second.bundles);
        whole = first;
    }
    return whole;
}

Parking inspect(const QString &root, const QString &staging)
{
    Parking parking;
    parking.staging = staging;
    const QString oldRecord = staging + QLatin1Char('/') + kOldRecordName;
    const QString parkedPath = staging + QLatin1Char('/') + kParkedName;
    // A pass or a mend killed between writing its record and removing the one before leaves two.
    QList<ParkingRecord> wholes;
    QStringList begun;
    for (const QString &name : {kRecordName, kSecondRecordName}) {
        const QString path = staging + QLatin1Char('/') + name;
        if (platform::entryKindOf(path) != platform::EntryKind::File)
            continue;
        const QByteArray bytes = readBounded(path);
        if (const std::optional<ParkingRecord> record = ParkingRecord::parse(bytes)) {
            wholes << *record;
            parking.ours << path;
        } else if (ParkingRecord::isRecordBegun(bytes)) {
            begun << path;
        }
    }
    QSet<QString> own;  // names in the hidden folder that are the program's
    for (const QString &path : std::as_const(parking.ours))
        own << QFileInfo(path).fileName();
    bool earlier = false;  // the format of earlier versions, entries beside the record
    if (!wholes.isEmpty()) {
        parking.record = merged(wholes);
        parking.current = true;
    } else if (platform::entryKindOf(oldRecord) == platform::EntryKind::File) {
        // An earlier version kept every entry beside a record of one line, the folder; whatever
        // else is there, a "record" or "parked" of the user's included, is one of them.
        earlier = true;
        parking.ours << oldRecord;
        own << kOldRecordName;
        const QString folder = QString::fromUtf8(readBounded(oldRecord)).trimmed();
        if (!folder.isEmpty()) {
            ParkingRecord record;
            record.folder = folder;
            record.kind
                = kindName(folder.contains(QLatin1Char('/')) ? FolderOrder::Album : FolderOrder::MediaRoot);
            parking.record = record;
        }
    }
    if (!earlier) {
        // Cut off while it was written, before anything moved under it.
        for (const QString &path : std::as_const(begun)) {
            parking.ours << path;
            own << QFileInfo(path).fileName();
        }
    }
    QStringList &bundles = parking.bundles;
    if (!earlier) {
        // Each parked folder the record names is known by it, whichever others are gone.
        const int count = parking.record ? parking.record->bundles : 1;
        for (int b = 0; b < count; ++b) {
            const QString path = bundlePath(parkedPath, b);
            if (platform::entryKindOf(path) == platform::EntryKind::Folder) {
                own << QFileInfo(path).fileName();
                bundles << path;
            }
        }
        const QString probe = staging + QLatin1Char('/') + kRoomProbeName;
        if (isRoomProbe(probe)) {
            own << kRoomProbeName;
            parking.probes << probe;
        }
        // A probe or record of the program's that a FUSE driver kept under a name of its own, as
        // it was removed just after it was closed.
        for (const QFileInfo &entry : listing(staging)) {
            if (isFuseKept(entry)) {
                own << entry.fileName();
                parking.probes << entry.filePath();
            }
        }
    }
    for (const QFileInfo &entry : listing(staging)) {
        if (!own.contains(entry.fileName()))
            (earlier ? parking.entries : parking.loose) << entry.filePath();
    }
    if (!bundles.isEmpty()) {
        QHash<QString, QString> found;  // name -> path
        for (const QString &bundle : std::as_const(bundles)) {
            for (const QFileInfo &entry : listing(bundle)) {
                found.insert(entry.fileName(), entry.filePath());
                parking.parkedNames.insert(entry.fileName().toCaseFolded());
            }
        }
        // In the order the record gives, then those it does not name, by name.
        if (parking.record) {
            for (const QString &name : std::as_const(parking.record->back)) {
                if (const auto it = found.constFind(name); it != found.constEnd()) {
                    parking.entries << it.value();
                    found.erase(it);
                }
            }
        }
        QStringList rest = found.keys();
        rest.sort();
        for (const QString &name : std::as_const(rest))
            parking.entries << found.value(name);
    }
    if (!parking.record)
        parking.unusable = QStringLiteral("its record is missing or damaged");
    else if (!kindNamed(parking.record->kind))
        parking.unusable = QStringLiteral("its record names no known order");
    else
        parking.unusable = ParkingRecord::refusal(root, parking.record->folder);
    return parking;
}

// The empty files that held free slots: empty files of their pattern that the record does not
// name as the user's.
void unplug(const QString &folder, const ParkingRecord &record)
{
    QSet<QString> theirs;
    for (const QString &name : record.taken)
        theirs.insert(name.toCaseFolded());
    QStringList plugs;
    for (const QFileInfo &entry : listing(folder)) {
        if (ParkingRecord::isPlugName(entry.fileName()) && !theirs.contains(entry.fileName().toCaseFolded())
            && !entry.isSymLink() && entry.isFile() && entry.size() == 0)
            plugs << entry.filePath();
    }
    platform::removeFiles(plugs);
}

// Removes the hidden folder once it holds nothing parked: only the program's own files in it. The
// log says which one stays, and why.
bool clear(const Parking &parking, QStringList &logLines)
{
    const QString why = removeHidden(parking.staging, parking.bundles, parking.ours, parking.probes);
    if (why.isEmpty()) {
        logLines << QStringLiteral("Hidden folder of an earlier transfer removed: ") + parking.staging;
        return true;
    }
    logLines << QStringLiteral(
                    "Hidden folder of an earlier transfer not removed, the next transfer tries again: ")
            + parking.staging + QStringLiteral(": ") + why;
    return false;
}

// What the user can do about files of `kind` that are gone.
QString againFor(const QString &kind)
{
    if (kind == kindName(FolderOrder::Playlist))
        return QStringLiteral("transfer that playlist again to bring them back");
    if (kind == kindName(FolderOrder::Album))
        return QStringLiteral("transfer that album again to bring them back");
    return QStringLiteral("transfer them again to bring them back");
}

// Moves what cannot go where it belongs to a folder a person sees, and says so. False when some
// of it could not be moved out of the hidden folder, which then stays.
bool shelter(const QString &base, const Parking &parking, FolderOrder::Recovery &recovery)
{
    if (parking.left.isEmpty())
        return true;
    // A file or link of the user's by that name is left alone.
    const QString shelterName = freeNameIn(base, FolderOrder::kRecoveredFolder, true);
    const QString shelter = base + QLatin1Char('/') + shelterName;
    QStringList sheltered, stayed;
    const bool open = !shelterName.isEmpty() && platform::makeFolders(shelter).ok();
    for (const QString &path : parking.left) {
        const QString name = open ? freeNameIn(shelter, QFileInfo(path).fileName()) : QString();
        if (!name.isEmpty() && move(QFileInfo(path).path(), shelter, QFileInfo(path).fileName(), name).ok())
            sheltered << name;
        else
            stayed << QFileInfo(path).fileName();
    }
    if (!sheltered.isEmpty()) {
        recovery.notices << QStringLiteral(
            "Files an earlier transfer left hidden on the drive are now in the folder “%1”: %2")
                                .arg(shelterName, FolderOrder::namesShown(sheltered));
        recovery.logLines << QStringLiteral("Moved to %1 from %2: %3")
                                 .arg(shelter, parking.staging, sheltered.join(QStringLiteral(", ")));
    }
    if (stayed.isEmpty())
        return true;
    recovery.notices << QStringLiteral(
        "Files an earlier transfer left on the drive in the hidden folder “%1” could not be moved out "
        "of it: %2")
                            .arg(QFileInfo(parking.staging).fileName(), FolderOrder::namesShown(stayed));
    recovery.logLines
        << QStringLiteral("Still in %1: %2").arg(parking.staging, stayed.join(QStringLiteral(", ")));
    return false;
}

}  // namespace

FolderOrder::Recovery FolderOrder::recover(
    const QString &root, const std::function<void(const QString &)> &moving)
{
    Recovery recovery;
    const QString base = root.endsWith(QLatin1Char('/')) ? root.chopped(1) : root;
    QStringList hidden;
    QDirIterator it(root.isEmpty() ? QStringLiteral("/") : root,
        {QStringLiteral(".kivo-*.") + kStagingSuffix},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (platform::isStaleTemporary(it.fileName(), platform::OwnTemporaries::Stale))
            hidden << it.fileName();
    }
    hidden.sort();
    QList<Parking> parkings;
    for (const QString &name : std::as_const(hidden)) {
        const QString staging = base + QLatin1Char('/') + name;
        const platform::EntryKind kind = platform::entryKindOf(staging);
        if (kind == platform::EntryKind::Link)
            recovery.logLines << QStringLiteral("Not followed, a link: ") + staging;
        else if (kind == platform::EntryKind::Folder)
            parkings << inspect(base, staging);
    }

    // Every parked entry goes back before any record is weighed: a mend that was cut short itself
    // leaves a folder's entries under a second record, and the first must not take them for gone.
    struct Folder {
        QString path;
        FolderOrder::Kind kind = FolderOrder::Album;
        QStringList order;  // the longest play order any of its records keeps
        QStringList hidden;  // the hidden folders whose records keep it
        QSet<QString> parked;  // case-folded names found parked under any of them
        // One of them that holds only the program's own, all its entries back: the mend goes on in it.
        QString goOnIn;
    };
    QList<Folder> folders;
    const auto folderOf = [&folders](const QString &path) -> Folder & {
        for (Folder &folder : folders) {
            if (folder.path.compare(path, Qt::CaseInsensitive) == 0)
                return folder;
        }
        folders.append({path, FolderOrder::Album, {}, {}, {}, {}});
        return folders.last();
    };
    for (Parking &parking : parkings) {
        parking.left = parking.loose;
        if (!parking.loose.isEmpty())
            recovery.logLines << QStringLiteral("Not of the program's, shown to the user: ")
                    + parking.loose.join(QStringLiteral(", "));
        if (!parking.unusable.isEmpty()) {
            parking.left += parking.entries;
            if (!parking.entries.isEmpty())
                recovery.logLines << QStringLiteral("Hidden folder not put back, ") + parking.unusable
                        + QStringLiteral(": ") + parking.staging;
            continue;
        }
        const ParkingRecord &record = *parking.record;
        const QString path = base + QLatin1Char('/') + record.folder;
        QStringList parked = parking.entries;
        if (!parked.isEmpty() && moving)
            moving(QFileInfo(path).fileName());
        if (!parked.isEmpty() && platform::makeFolders(path).ok()) {
            QStringList stayed;
            for (const QString &entry : std::as_const(parked)) {
                if (!move(QFileInfo(entry).path(), path, QFileInfo(entry).fileName()).ok())
                    stayed << entry;
            }
            if (stayed.size() < parked.size())
                recovery.logLines << QStringLiteral("Put back in its folder, %1 of %2 entries: ")
                                         .arg(parked.size() - stayed.size())
                                         .arg(parked.size())
                        + path;
            parked = stayed;
        }
        parking.left += parked;
        // Only a run whose record says so held free slots with plugs: elsewhere a file of that
        // pattern is the user's.
        if (parking.current && record.plugs)
            unplug(path, record);
        Folder &folder = folderOf(path);
        folder.parked.unite(parking.parkedNames);
        const QStringList order = record.order.isEmpty() ? record.back : record.order;
        if (folder.hidden.isEmpty() || order.size() > folder.order.size()) {
            folder.kind = *kindNamed(record.kind);
            folder.order = order;
        }
        folder.hidden << parking.staging;
        if (folder.goOnIn.isEmpty() && parking.current && parking.left.isEmpty())
            folder.goOnIn = parking.staging;
    }

    QSet<QString> awaiting;  // hidden folders that stay until the folder they name is in order
    for (const Folder &folder : std::as_const(folders)) {
        if (!QFileInfo(folder.path).isDir())
            continue;
        FolderOrder restored(folder.path, folder.kind);
        for (const QString &entry : folder.order)
            restored.place({entry, 0, 0, false});
        restored.goOnIn(folder.goOnIn);
        recovery.restored << Recovery::Mend{restored, folder.hidden};
        for (const QString &staging : folder.hidden)
            awaiting.insert(staging);
    }
    for (const Parking &parking : std::as_const(parkings)) {
        if (parking.unusable.isEmpty()) {
            // A recorded entry found neither parked nor back in its folder is gone, and said so.
            const ParkingRecord &record = *parking.record;
            const QString path = base + QLatin1Char('/') + record.folder;
            const Folder &folder = folderOf(path);
            QStringList missing;
            for (const QString &name : record.back) {
                if (!folder.parked.contains(name.toCaseFolded())
                    && platform::entryKindOf(path + QLatin1Char('/') + name) == platform::EntryKind::Missing)
                    missing << name;
            }
            if (!missing.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer was putting in play order in “%1” are no longer on the "
                    "drive: %2; %3")
                                        .arg(QFileInfo(path).fileName(), FolderOrder::namesShown(missing),
                                            againFor(record.kind));
                recovery.logLines << QStringLiteral("Recorded but no longer on the drive, in %1: %2")
                                         .arg(path, missing.join(QStringLiteral(", ")));
            }
        }
        // What cannot go where it belongs goes where a person sees it, never left unsaid.
        if (!shelter(base, parking, recovery))
            continue;
        if (!awaiting.contains(parking.staging))
            clear(parking, recovery.logLines);
    }
    return recovery;
}

QStringList FolderOrder::release(const QStringList &hidden)
{
    QStringList logLines;
    for (const QString &staging : hidden) {
        // The mend that went on in it removed it already.
        if (platform::entryKindOf(staging) == platform::EntryKind::Missing)
            continue;
        const Parking parking = inspect(QFileInfo(staging).path(), staging);
        if (parking.entries.isEmpty() && parking.loose.isEmpty())
            clear(parking, logLines);
        else
            logLines << QStringLiteral("Hidden folder of an earlier transfer kept, as it holds files: ")
                    + staging;
    }
    return logLines;
}
