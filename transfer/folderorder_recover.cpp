#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
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

// A record is a few lines a parked entry; anything larger is not one of ours.
constexpr qint64 kMaxRecordRead = 8 << 20;

// One hidden folder left by an earlier run: what it holds and where that belongs. Only what the
// format marks is the program's: anything else found there is the user's and is never deleted.
struct Parking {
    QString staging;  // the hidden folder
    QString parked;  // the folder holding the parked entries
    QStringList entries;  // parked, in the order they go back
    QStringList loose;  // found where no record puts anything: the user's, shown to them
    std::optional<ParkingRecord> record;
    QString unusable;  // why the record cannot be followed
    QStringList ours;  // the record files of the program's own, removed once all is out
    bool current = false;  // a whole record of the present format
    QSet<QString> parkedNames;  // case-folded names found parked
    QStringList bundles;  // the folders of the program's that hold parked entries
};

QByteArray readBounded(const QString &path)
{
    if (platform::entryKindOf(path) != platform::EntryKind::File)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxRecordRead + 1);
}

Parking inspect(const QString &root, const QString &staging)
{
    Parking parking;
    parking.staging = staging;
    const QString recordPath = staging + QLatin1Char('/') + kRecordName;
    const QString oldRecord = staging + QLatin1Char('/') + kOldRecordName;
    const QString parkedPath = staging + QLatin1Char('/') + kParkedName;
    const bool recordFile = platform::entryKindOf(recordPath) == platform::EntryKind::File;
    const QByteArray recordBytes = recordFile ? readBounded(recordPath) : QByteArray();
    const std::optional<ParkingRecord> whole = recordFile ? ParkingRecord::parse(recordBytes) : std::nullopt;
    const platform::EntryKind parkedKind = platform::entryKindOf(parkedPath);
    const bool parkedFolder = parkedKind == platform::EntryKind::Folder;
    QSet<QString> own;  // names in the hidden folder that are the program's
    if (whole) {
        parking.record = whole;
        parking.current = true;
        parking.ours << recordPath;
        own << kRecordName;
    } else if (platform::entryKindOf(oldRecord) == platform::EntryKind::File) {
        // An earlier version kept every entry beside a record of one line, the folder; whatever
        // else is there, a "record" or "parked" of the user's included, is one of them.
        parking.parked = staging;
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
    } else if (recordFile && ParkingRecord::isRecordBegun(recordBytes)) {
        // Cut off while it was written, before anything moved.
        parking.ours << recordPath;
        own << kRecordName;
    }
    QStringList &bundles = parking.bundles;
    if (parking.parked.isEmpty() && parkedFolder) {
        parking.parked = parkedPath;
        own << kParkedName;
        bundles << parkedPath;
        for (int b = 1; parking.record && b < parking.record->bundles; ++b) {
            const QString path = bundlePath(parkedPath, b);
            if (platform::entryKindOf(path) == platform::EntryKind::Folder) {
                own << QFileInfo(path).fileName();
                bundles << path;
            }
        }
    }
    for (const QFileInfo &entry : listing(staging)) {
        if (!own.contains(entry.fileName()))
            (parking.parked == staging ? parking.entries : parking.loose) << entry.filePath();
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
    for (const QFileInfo &entry : listing(folder)) {
        if (ParkingRecord::isPlugName(entry.fileName()) && !theirs.contains(entry.fileName().toCaseFolded())
            && !entry.isSymLink() && entry.isFile() && entry.size() == 0)
            QFile::remove(entry.filePath());
    }
}

// Removes the hidden folder once it holds nothing parked: only the program's own files in it.
bool clear(const Parking &parking)
{
    for (const QString &path : parking.ours)
        QFile::remove(path);
    for (const QString &bundle : parking.bundles)
        QDir().rmdir(bundle);
    return QDir().rmdir(parking.staging);
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
    for (const QString &name : std::as_const(hidden)) {
        const QString staging = base + QLatin1Char('/') + name;
        const platform::EntryKind kind = platform::entryKindOf(staging);
        if (kind == platform::EntryKind::Link) {
            recovery.logLines << QStringLiteral("Not followed, a link: ") + staging;
            continue;
        }
        if (kind != platform::EntryKind::Folder)
            continue;
        const Parking parking = inspect(base, staging);
        QStringList left = parking.loose;
        if (!parking.loose.isEmpty())
            recovery.logLines << QStringLiteral("Not of the program's, shown to the user: ")
                    + parking.loose.join(QStringLiteral(", "));
        if (!parking.unusable.isEmpty()) {
            left += parking.entries;
            if (!parking.entries.isEmpty())
                recovery.logLines << QStringLiteral("Hidden folder not put back, ") + parking.unusable
                        + QStringLiteral(": ") + staging;
        } else {
            const ParkingRecord &record = *parking.record;
            const QString folder = base + QLatin1Char('/') + record.folder;
            QStringList parked = parking.entries;
            if (!parked.isEmpty() && moving)
                moving(QFileInfo(folder).fileName());
            if (!parked.isEmpty() && platform::makeFolders(folder).ok()) {
                QStringList stayed;
                for (const QString &path : std::as_const(parked)) {
                    if (!move(QFileInfo(path).path(), folder, QFileInfo(path).fileName()).ok())
                        stayed << path;
                }
                if (stayed.size() < parked.size())
                    recovery.logLines << QStringLiteral("Put back in its folder, %1 of %2 entries: ")
                                             .arg(parked.size() - stayed.size())
                                             .arg(parked.size())
                            + folder;
                parked = stayed;
            }
            left += parked;
            // Only a run whose record says so held free slots with plugs: elsewhere a file of that
            // pattern is the user's.
            if (parking.current && record.plugs)
                unplug(folder, record);
            // A recorded entry found neither parked nor back in its folder is gone, and said so.
            QStringList missing;
            for (const QString &name : record.back) {
                if (!parking.parkedNames.contains(name.toCaseFolded())
                    && platform::entryKindOf(folder + QLatin1Char('/') + name)
                        == platform::EntryKind::Missing)
                    missing << name;
            }
            if (!missing.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer was putting in play order in “%1” are no longer on the "
                    "drive: %2; %3")
                                        .arg(QFileInfo(folder).fileName(), FolderOrder::namesShown(missing),
                                            againFor(record.kind));
                recovery.logLines << QStringLiteral("Recorded but no longer on the drive, in %1: %2")
                                         .arg(folder, missing.join(QStringLiteral(", ")));
            }
            FolderOrder restored(folder, *kindNamed(record.kind));
            // The whole order the cut-short arrange wanted, where its record has it.
            for (const QString &entry : record.order.isEmpty() ? record.back : record.order)
                restored.place({entry, 0, 0, false});
            if (QFileInfo(folder).isDir())
                recovery.restored << restored;
        }
        // What cannot go where it belongs goes where a person sees it, never left unsaid.
        if (!left.isEmpty()) {
            // A file or link of the user's by that name is left alone.
            const QString shelterName = freeNameIn(base, kRecoveredFolder, true);
            const QString shelter = base + QLatin1Char('/') + shelterName;
            QStringList sheltered, stayed;
            const bool open = !shelterName.isEmpty() && platform::makeFolders(shelter).ok();
            for (const QString &path : std::as_const(left)) {
                const QString name = open ? freeNameIn(shelter, QFileInfo(path).fileName()) : QString();
                if (!name.isEmpty()
                    && move(QFileInfo(path).path(), shelter, QFileInfo(path).fileName(), name).ok())
                    sheltered << name;
                else
                    stayed << QFileInfo(path).fileName();
            }
            if (!sheltered.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer left hidden on the drive are now in the folder “%1”: %2")
                                        .arg(shelterName, FolderOrder::namesShown(sheltered));
                recovery.logLines << QStringLiteral("Moved to %1 from %2: %3")
                                         .arg(shelter, staging, sheltered.join(QStringLiteral(", ")));
            }
            if (!stayed.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer left on the drive in the hidden folder “%1” could not be "
                    "moved out of it: %2")
                                        .arg(name, FolderOrder::namesShown(stayed));
                recovery.logLines
                    << QStringLiteral("Still in %1: %2").arg(staging, stayed.join(QStringLiteral(", ")));
                continue;
            }
        }
        if (clear(parking))
            recovery.logLines << QStringLiteral("Hidden folder of an earlier transfer removed: ") + staging;
    }
    return recovery;
}
