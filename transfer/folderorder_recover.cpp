#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "tempfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

using namespace folderorder;

const QString FolderOrder::kRecoveredFolder = QStringLiteral("KiVO recovered files");

namespace {

// A record is a few lines a parked entry; anything larger is not one of ours.
constexpr qint64 kMaxRecordRead = 8 << 20;

// How many names a message lists before it says how many more there are.
constexpr int kNamesShown = 10;

QString namesOf(const QStringList &names)
{
    QString text = names.mid(0, kNamesShown).join(QStringLiteral(", "));
    if (names.size() > kNamesShown)
        text += QStringLiteral(" and %1 more").arg(names.size() - kNamesShown);
    return text;
}

// One hidden folder left by an earlier run: what it holds and where that belongs.
struct Parking {
    QString staging;  // the hidden folder
    QString parked;  // the folder holding the parked entries
    QStringList entries;  // in the order they go back
    std::optional<ParkingRecord> record;
    QString unusable;  // why the record cannot be followed
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
    QSet<QString> own{kRecordName, kParkedName};
    if (platform::entryKindOf(recordPath) == platform::EntryKind::Missing
        && platform::entryKindOf(oldRecord) == platform::EntryKind::File) {
        // An earlier version kept the entries beside a record of one line, the folder.
        parking.parked = staging;
        own = {kOldRecordName};
        const QString folder = QString::fromUtf8(readBounded(oldRecord)).trimmed();
        if (!folder.isEmpty()) {
            ParkingRecord record;
            record.folder = folder;
            record.kind
                = kindName(folder.contains(QLatin1Char('/')) ? FolderOrder::Album : FolderOrder::MediaRoot);
            parking.record = record;
        }
    } else {
        parking.parked = staging + QLatin1Char('/') + kParkedName;
        parking.record = ParkingRecord::parse(readBounded(recordPath));
    }
    QStringList found;
    for (const QFileInfo &entry : listing(staging)) {
        if (!own.contains(entry.fileName()))
            found << staging + QLatin1Char('/') + entry.fileName();
    }
    if (parking.parked != staging && platform::entryKindOf(parking.parked) == platform::EntryKind::Folder) {
        for (const QFileInfo &entry : listing(parking.parked))
            found << entry.filePath();
    }
    // Entries found beside the parked folder are not where a record would put them.
    QStringList loose;
    QSet<QString> parkedHere;
    for (const QString &path : std::as_const(found)) {
        if (QFileInfo(path).path() == parking.parked)
            parkedHere.insert(QFileInfo(path).fileName());
        else
            loose << path;
    }
    if (!loose.isEmpty()
        || (parking.parked != staging && platform::entryKindOf(parking.parked) == platform::EntryKind::Link))
        parking.unusable = QStringLiteral("the hidden folder holds what no record names");
    else if (!parking.record)
        parking.unusable = QStringLiteral("its record is missing or damaged");
    else if (!kindNamed(parking.record->kind))
        parking.unusable = QStringLiteral("its record names no known order");
    else
        parking.unusable = ParkingRecord::refusal(root, parking.record->folder);
    if (parking.record) {
        for (const QString &name : std::as_const(parking.record->back)) {
            if (parkedHere.remove(name))
                parking.entries << parking.parked + QLatin1Char('/') + name;
        }
    }
    QStringList rest(parkedHere.cbegin(), parkedHere.cend());
    rest.sort();
    for (const QString &name : std::as_const(rest))
        parking.entries << parking.parked + QLatin1Char('/') + name;
    parking.entries += loose;
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

// Removes the hidden folder once it holds nothing parked.
bool clear(const Parking &parking)
{
    QFile::remove(parking.staging + QLatin1Char('/') + kRecordName);
    QFile::remove(parking.staging + QLatin1Char('/') + kOldRecordName);
    if (parking.parked != parking.staging
        && platform::entryKindOf(parking.parked) == platform::EntryKind::Link)
        QFile::remove(parking.parked);
    QDir().rmdir(parking.staging + QLatin1Char('/') + kParkedName);
    return QDir().rmdir(parking.staging);
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
        QStringList left = parking.entries;
        if (!parking.unusable.isEmpty() && !left.isEmpty()) {
            recovery.logLines << QStringLiteral("Hidden folder not put back, ") + parking.unusable
                    + QStringLiteral(": ") + staging;
        } else if (parking.unusable.isEmpty()) {
            const ParkingRecord &record = *parking.record;
            const QString folder = base + QLatin1Char('/') + record.folder;
            if (!left.isEmpty() && moving)
                moving(QFileInfo(folder).fileName());
            if (!left.isEmpty() && platform::makeFolders(folder).ok()) {
                QStringList stayed;
                for (const QString &path : std::as_const(left)) {
                    if (!move(QFileInfo(path).path(), folder, QFileInfo(path).fileName()).ok())
                        stayed << path;
                }
                if (stayed.size() < left.size())
                    recovery.logLines << QStringLiteral("Put back in its folder, %1 of %2 entries: ")
                                             .arg(left.size() - stayed.size())
                                             .arg(left.size())
                            + folder;
                left = stayed;
            }
            unplug(folder, record);
            FolderOrder restored(folder, *kindNamed(record.kind));
            for (const QString &entry : record.back)
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
            const bool open = platform::makeFolders(shelter).ok();
            for (const QString &path : std::as_const(left)) {
                const QString name = open ? freeNameIn(shelter, QFileInfo(path).fileName()) : QString();
                if (open && move(QFileInfo(path).path(), shelter, QFileInfo(path).fileName(), name).ok())
                    sheltered << name;
                else
                    stayed << QFileInfo(path).fileName();
            }
            if (!sheltered.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer left hidden on the drive are now in the folder “%1”: %2")
                                        .arg(shelterName, namesOf(sheltered));
                recovery.logLines << QStringLiteral("Moved to %1 from %2: %3")
                                         .arg(shelter, staging, sheltered.join(QStringLiteral(", ")));
            }
            if (!stayed.isEmpty()) {
                recovery.notices << QStringLiteral(
                    "Files an earlier transfer left on the drive in the hidden folder “%1” could not be "
                    "moved out of it: %2")
                                        .arg(name, namesOf(stayed));
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
