#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "track_data.h"

#include <QDir>
#include <QDirIterator>
#include <QSet>

#include <vector>

using namespace folderorder;

namespace {

// More than a folder's free slots ever take; a folder that takes more is left as it is.
constexpr int kMaxPlugs = 9999;
// How often an entry that came back ahead of its turn is taken out again, its slot held, and
// brought back, before the folder is left to the pass that holds every free slot.
constexpr int kPlaceTries = 3;
constexpr qint64 kSlotBytes = 32;
// Entries a parked folder takes before the next is begun.
constexpr int kBundleEntries = 64;
// How deep folders moved anew are looked into to tell what they take.
constexpr int kMaxDepth = 8;

// The slots a name takes in a FAT folder: its short entry and a long-name entry per 13 units.
// exFAT takes a few more; the plugs find out what is really free.
int slotsOf(const QString &name)
{
    return 1 + int((name.size() + 12) / 13);
}

qint64 unitsOf(qint64 bytes, qint64 unit)
{
    return (bytes + unit - 1) / unit;
}

// What a folder moved anew takes while it is made again: its own entries and the folders in it.
qint64 folderUnits(const QString &folder, qint64 unit, int depth = 0)
{
    qint64 bytes = 2 * kSlotBytes, units = 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bytes += slotsOf(it.fileName()) * kSlotBytes;
        if (depth < kMaxDepth && it.fileInfo().isDir() && !it.fileInfo().isSymLink())
            units += folderUnits(it.filePath(), unit, depth + 1);
    }
    return units + unitsOf(bytes, unit);
}

// A folder of the media root that holds nothing the car plays is the user's own: it stays.
bool holdsMedia(const QString &folder)
{
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        const QString suffix = it.fileInfo().suffix();
        if (!it.fileName().startsWith(QLatin1Char('.'))
            && (track_data::isAudioFile(suffix) || track_data::isVideoSuffix(suffix)))
            return true;
    }
    return false;
}

// What the user is told of a drive too full to arrange a folder on: what it had free before the run
// and what it must have, in the drive's units.
QString roomWanted(qint64 free, qint64 needed)
{
    return QStringLiteral("%1 KB free, %2 KB needed").arg(free / 1024).arg((needed + 1023) / 1024);
}

qsizetype indexIn(const QStringList &names, const QString &name)
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

}  // namespace

// One trip of entries through a hidden folder and back.
struct FolderOrder::Relay {
    Relay(const FolderOrder &folder, const QStringList &from, const QStringList &to,
        const QStringList &played, const QString &stays, bool all)
        : order(folder)
        , out(from)
        , back(to)
        , playOrder(played)
        , anchor(stays)
        , holdAll(all)
    { }

    const FolderOrder &order;
    QStringList out;  // as they stand
    QStringList back;  // in play order
    QStringList playOrder;  // all that is played, in play order
    QSet<QString> taken;  // case-folded names of the plug pattern that are the user's
    // The last played entry that stays: what comes back must follow it.
    QString anchor;
    // Every free slot among the entries that stay is held before anything comes back, rather
    // than only those an entry came back to out of turn.
    bool holdAll = false;

    QString staging, parked, record;
    int bundles = 1;  // parked folders: "parked", then "parked.2", ...
    QHash<QString, QString> parkedAt;  // entry -> the parked folder it went to
    QStringList plugs;
    int next = 1;

    QString in(const QString &folder, const QString &name) const { return folder + QLatin1Char('/') + name; }

    // What the trip may write, in the drive's units: the hidden folder and its record; each parked
    // folder with its entries; as many entries again where the folder grows while they come back,
    // and a unit to spare; the largest folder moved, made anew.
    qint64 needed(qint64 unit, qint64 recordBytes) const
    {
        qint64 entries = 0, largest = 0, parkedUnits = 0, bundleSlots = 0;
        for (qsizetype i = 0; i < out.size(); ++i) {
            const QString &name = out.at(i);
            entries += slotsOf(name);
            bundleSlots += slotsOf(name);
            if ((i + 1) % kBundleEntries == 0 || i + 1 == out.size()) {
                parkedUnits += unitsOf((2 + bundleSlots) * kSlotBytes, unit);
                bundleSlots = 0;
            }
            // Only the media folder parks folders.
            const QString path = in(order.m_folder, name);
            if (order.m_kind == MediaRoot && platform::entryKindOf(path) == platform::EntryKind::Folder)
                largest = std::max(largest, folderUnits(path, unit));
        }
        const qint64 bundleCount = (out.size() + kBundleEntries - 1) / kBundleEntries;
        // Its dot entries, the record, the room probe and the parked folders, each with a long name.
        const qint64 hiddenFolder = unitsOf((2 + 2 * (2 + bundleCount)) * kSlotBytes, unit);
        return unit
            * (hiddenFolder + unitsOf(recordBytes, unit) + parkedUnits + unitsOf(entries * kSlotBytes, unit)
                + 1 + largest);
    }

    // An empty file of the plug pattern, `length` long, in the folder: false when none can be made.
    bool plugOne(int length)
    {
        while (next <= kMaxPlugs) {
            const QString name = ParkingRecord::plugName(next++, length);
            if (taken.contains(name.toCaseFolded()))
                continue;
            const QString path = in(order.m_folder, name);
            if (platform::makeEmptyFile(path).ok()) {
                plugs << name;
                return true;
            }
            if (platform::entryKindOf(path) == platform::EntryKind::Missing)
                return false;
        }
        return false;
    }

    // Holds the folder's free slots with empty files until one lands after everything that
    // stayed: what comes back then goes in turn at the end. `estimate` is how many free slots
    // there are likely to be. One listing a batch.
    void holdFreeSlots(int estimate)
    {
        int batch = std::max(1, estimate);
        while (next <= kMaxPlugs) {
            for (int made = 0; made < batch; ++made) {
                if (!plugOne(0))
                    return;
            }
            const QSet<QString> ours(plugs.cbegin(), plugs.cend());
            const QStringList listed = platform::entryNames(order.m_folder);
            qsizetype last = listed.size() - 1;
            while (last >= 0 && ours.contains(listed.at(last)))
                --last;
            if (last == listed.size() - 1) {
                batch = std::max(1, batch / 4);
                continue;
            }
            // Those after everything else hold no free slot among them.
            for (qsizetype i = last + 1; i < listed.size(); ++i) {
                if (QFile::remove(in(order.m_folder, listed.at(i))))
                    plugs.removeOne(listed.at(i));
            }
            return;
        }
    }

    void unplug()
    {
        for (const QString &name : std::as_const(plugs))
            QFile::remove(in(order.m_folder, name));
        plugs.clear();
    }

    // Whether `entry`, just back, stands after `after` (the entry it follows in play order).
    bool inTurn(const QString &entry, const QString &after) const
    {
        if (after.isEmpty())
            return true;
        const QStringList listed = platform::entryNames(order.m_folder);
        return indexIn(listed, entry) > indexIn(listed, after);
    }

    // An entry that came back ahead of its turn took a free slot among those before: that slot
    // is held by a plug as long as its name, and the entry comes back again. Only where that
    // happens is a plug made.
    platform::CopyOutcome placeInTurn(const QString &entry, const QString &after)
    {
        for (int tries = 0; tries < kPlaceTries && !inTurn(entry, after); ++tries) {
            const QString bundle = parkedAt.value(entry, parked);
            if (!move(order.m_folder, bundle, entry).ok())
                break;
            const bool held = plugOne(int(entry.size()));
            if (held)
                step(FolderOrder::Step::Plugged, int(plugs.size()));
            const platform::CopyOutcome moved = move(bundle, order.m_folder, entry);
            step(FolderOrder::Step::Replaced);
            if (!moved.ok() || !held)
                return moved;
        }
        return {};
    }

    // The parked folder of the n-th entry out. A driver that looks through a folder's every
    // entry to make one more makes a few small folders faster than one large one.
    QString bundleOf(int n) const { return bundlePath(parked, n / kBundleEntries); }

    QStringList bundlePaths() const
    {
        QStringList paths;
        for (int b = 0; b < bundles; ++b)
            paths << bundlePath(parked, b);
        return paths;
    }

    // Once nothing is parked.
    void clear() const { removeHidden(staging, bundlePaths(), {record}); }
};

FolderOrder::Outcome FolderOrder::arrange(
    const QString &stagingParent, const std::function<void()> &moving) const
{
    Outcome outcome;
    QSet<QString> idle;  // folders of the media root that hold no media
    bool idleKnown = m_kind != MediaRoot;
    // Trips whose entries are all back: their records stay until the listing shows the folder in
    // play order, so a run killed before that is mended by the next.
    std::vector<Relay> back;
    // First only what follows the first entry out of place, holding free slots only where an
    // entry comes back out of turn; then, should the driver have put some elsewhere, all that is
    // played, with every free slot among what stays held.
    for (int pass = 0;; ++pass) {
        const QFileInfoList listed = listing(m_folder);
        QStringList now, order = wanted(listed);
        for (const QFileInfo &entry : listed) {
            if (played(entry))
                now << entry.fileName();
        }
        if (now != order && !idleKnown) {
            idleKnown = true;
            for (const QFileInfo &entry : listed) {
                if (entry.isDir() && played(entry) && !holdsMedia(entry.filePath()))
                    idle.insert(entry.fileName());
            }
        }
        for (const QString &name : std::as_const(idle)) {
            now.removeOne(name);
            order.removeOne(name);
        }
        if (now == order) {
            for (const Relay &trip : back)
                trip.clear();
            return outcome;
        }
        if (pass == 2) {
            outcome.error = {platform::CopyOutcome::Other,
                QStringLiteral("the drive does not keep the entries in the order they are written")};
            return outcome;
        }
        qsizetype same = 0;
        while (pass == 0 && same < now.size() && now.at(same) == order.at(same))
            ++same;
        Relay trip(
            *this, now.mid(same), order.mid(same), order, same > 0 ? now.at(same - 1) : QString(), pass > 0);
        for (const QFileInfo &entry : listed) {
            if (ParkingRecord::isPlugName(entry.fileName()))
                trip.taken.insert(entry.fileName().toCaseFolded());
        }
        if (!outcome.moved && moving)
            moving();
        Outcome relayed = relay(stagingParent, trip);
        relayed.moved = outcome.moved || !(relayed.tooFull || relayed.topFolderFull);
        if (!relayed.ok())
            return relayed;
        back.push_back(trip);
        outcome.moved = true;
    }
}

// Why no hidden folder can be made in `stagingParent`, where the drive is there and writable.
void FolderOrder::noHiddenFolder(
    const Relay &trip, const platform::Room &before, qint64 recordBytes, Outcome &outcome) const
{
    // The top folder of a FAT12 or FAT16 drive has a fixed number of entries. Where a folder below
    // it still takes an entry and a unit of room, that is what is full: room freed would not help.
    const QString probe = platform::temporaryPath(m_folder, QStringLiteral("tmp"));
    platform::CopyOutcome room = platform::makeEmptyFile(probe);
    if (room.ok())
        room = platform::writeDurably(probe, QByteArray(1, '\0'));
    QFile::remove(probe);
    if (room.ok()) {
        outcome.topFolderFull = true;
        return;
    }
    if (room.error == platform::CopyOutcome::TargetGone)
        return;
    outcome.tooFull = true;
    if (before.free >= 0)
        outcome.error = {
            platform::CopyOutcome::NoSpace, roomWanted(before.free, trip.needed(before.unit, recordBytes))};
}

FolderOrder::Outcome FolderOrder::relay(const QString &stagingParent, Relay &trip) const
{
    Outcome outcome;
    step(Step::Staging);
    ParkingRecord record;
    record.folder = QDir(stagingParent).relativeFilePath(m_folder);
    record.kind = kindName(m_kind);
    record.back = trip.back;
    for (const QString &name : std::as_const(trip.taken))
        record.taken << name;
    record.order = trip.playOrder;
    record.plugs = true;
    trip.bundles = std::max(1, int((trip.out.size() + kBundleEntries - 1) / kBundleEntries));
    record.bundles = trip.bundles;
    const QByteArray recordText = record.text();

    // What the drive has free before anything is written: what the need is measured against, and
    // what the user is told.
    const platform::Room before = platform::roomOn(stagingParent);
    // A name that is taken (by a folder of an earlier process of the same id) is passed over.
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        trip.staging = platform::temporaryPath(stagingParent, kStagingSuffix);
        outcome.error = platform::makeFolder(trip.staging, &made);
        if (!outcome.ok())
            break;
    }
    if (!made) {
        if (outcome.ok())
            outcome.error = {platform::CopyOutcome::Other, QStringLiteral("no hidden folder can be made")};
        if (outcome.error.error != platform::CopyOutcome::TargetGone
            && outcome.error.error != platform::CopyOutcome::ReadOnly)
            noHiddenFolder(trip, before, recordText.size(), outcome);
        return outcome;
    }
    trip.parked = trip.staging + QLatin1Char('/') + kParkedName;
    trip.record = trip.staging + QLatin1Char('/') + kRecordName;

    // Room before anything moves: a move back that finds none loses the entry on some drivers. A
    // new folder takes one unit of the drive, whatever size its driver gives its blocks: what the
    // parked folder took is the unit.
    const platform::Room middle = platform::roomOn(trip.staging);
    outcome.error = platform::makeFolder(trip.parked);
    const platform::Room parkedMade = platform::roomOn(trip.staging);
    qint64 unit = before.unit;
    if (middle.free >= 0 && parkedMade.free >= 0 && middle.free > parkedMade.free)
        unit = middle.free - parkedMade.free;
    else if (before.free >= 0 && middle.free >= 0 && before.free > middle.free)
        unit = before.free - middle.free;
    const qint64 needed = trip.needed(unit, recordText.size());
    if (before.free >= 0 && before.free < needed
        && outcome.error.error != platform::CopyOutcome::TargetGone) {
        outcome.error = {platform::CopyOutcome::NoSpace, roomWanted(before.free, needed)};
    } else if (outcome.ok() && before.free < 0) {
        // The drive does not say: what the rest of the trip takes is written once, then let go.
        const QString probe = trip.staging + QLatin1Char('/') + kRoomProbeName;
        outcome.error = platform::makeEmptyFile(probe);
        if (outcome.ok())
            outcome.error = platform::writeDurably(
                probe, QByteArray(qsizetype(std::max<qint64>(0, needed - 2 * unit)), '\0'));
        QFile::remove(probe);
    }
    if (!outcome.ok()) {
        outcome.tooFull = outcome.error.error != platform::CopyOutcome::TargetGone;
        trip.clear();
        return outcome;
    }

    // Where the entries belong, on the device before the first of them moves.
    outcome.error = platform::makeEmptyFile(trip.record);
    if (outcome.ok()) {
        step(Step::RecordOpened);
        outcome.error = platform::writeDurably(trip.record, recordText);
    }
    if (outcome.ok())
        outcome.error = platform::flushFolder(trip.staging);
    if (outcome.ok())
        outcome.error = platform::flushFolder(stagingParent);
    if (!outcome.ok()) {
        trip.clear();
        return outcome;
    }
    step(Step::Recorded);

    QSet<QString> gone;
    int freed = 0;
    for (const QString &entry : std::as_const(trip.out)) {
        const QString bundle = trip.bundleOf(int(gone.size() + outcome.lost.size()));
        trip.parkedAt.insert(entry, bundle);
        outcome.error = platform::makeFolder(bundle);
        if (outcome.ok())
            outcome.error = move(m_folder, bundle, entry);
        // A folder may have gone in part.
        const platform::EntryKind there = outcome.ok()
            ? platform::EntryKind::File
            : platform::entryKindOf(bundle + QLatin1Char('/') + entry);
        if (there == platform::EntryKind::Folder || there == platform::EntryKind::File) {
            gone.insert(entry);
            freed += slotsOf(entry);
        } else if (there == platform::EntryKind::Missing
            && platform::entryKindOf(m_folder + QLatin1Char('/') + entry) == platform::EntryKind::Missing) {
            outcome.lost << entry;
        }
        if (!outcome.ok())
            break;
        step(Step::MovedOut, int(gone.size()));
    }
    if (outcome.ok() && trip.holdAll) {
        // Plugs take two slots on drivers that give every name a long entry (fusefat), one on
        // the others; any too many land at the end and go again at once.
        trip.holdFreeSlots((freed + 1) / 2);
        step(Step::Plugged, int(trip.plugs.size()));
    }
    // Back in play order; after a failed move out, what went out goes back as it can.
    int returned = 0;
    QString after = trip.anchor;
    for (const QString &entry : std::as_const(trip.back)) {
        if (!gone.contains(entry))
            continue;
        const QString bundle = trip.parkedAt.value(entry);
        platform::CopyOutcome moved = move(bundle, m_folder, entry);
        if (!moved.ok() && moved.error != platform::CopyOutcome::TargetGone && !trip.plugs.isEmpty()) {
            // The slots the plugs hold are room the folder has without growing.
            trip.unplug();
            moved = move(bundle, m_folder, entry);
        }
        if (moved.ok() && outcome.ok() && !trip.holdAll)
            moved = trip.placeInTurn(entry, after);
        // Where it is now, looked at after a failure: a driver may drop an entry whose move failed.
        if (moved.ok()
            || platform::entryKindOf(bundle + QLatin1Char('/') + entry) == platform::EntryKind::Missing) {
            gone.remove(entry);
            if (!moved.ok()
                && platform::entryKindOf(m_folder + QLatin1Char('/') + entry) == platform::EntryKind::Missing)
                outcome.lost << entry;
            else
                step(Step::MovedBack, ++returned);
        }
        if (!moved.ok() && outcome.ok())
            outcome.error = moved;
        after = entry;
    }
    trip.unplug();
    step(Step::Unplugged);
    // What waits is what a listing finds, never what was believed moved.
    QStringList waiting;
    outcome.parkedListed = platform::entryKindOf(trip.parked) == platform::EntryKind::Folder;
    if (outcome.parkedListed) {
        QStringList there;
        for (const QString &path : trip.bundlePaths())
            there += platform::entryNames(path);
        for (const QString &entry : std::as_const(trip.back)) {
            if (indexIn(there, entry) >= 0)
                waiting << entry;
        }
        for (const QString &name : there) {
            if (indexIn(waiting, name) < 0)
                waiting << name;
        }
    }
    if (!outcome.parkedListed && gone.isEmpty())
        return outcome;
    if (outcome.parkedListed && waiting.isEmpty()) {
        // The record stays until the folder is seen in play order.
        for (const QString &path : trip.bundlePaths())
            QDir().rmdir(path);
        return outcome;
    }
    outcome.parkedIn = QFileInfo(trip.staging).fileName();
    outcome.parked = waiting;
    return outcome;
}
