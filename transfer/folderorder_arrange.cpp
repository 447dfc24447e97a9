#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "removal.h"
#include "track_data.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

using namespace folderorder;

namespace {

// More than a folder's free slots ever take; a folder that takes more is left as it is.
constexpr int kMaxPlugs = 9999;
// How often an entry that came back ahead of its turn is taken out again, its slot held, and
// brought back, before the folder is left to the pass that holds every free slot.
constexpr int kPlaceTries = 3;

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
            // Those after everything else hold no free slot among them. They are gone, what the
            // driver kept of them included, before anything comes back in their place.
            QStringList after;
            for (qsizetype i = last + 1; i < listed.size(); ++i)
                after << in(order.m_folder, listed.at(i));
            platform::removeFiles(after);
            const QStringList left = platform::entryNames(order.m_folder);
            for (qsizetype i = last + 1; i < listed.size(); ++i) {
                if (indexIn(left, listed.at(i)) < 0)
                    plugs.removeOne(listed.at(i));
            }
            return;
        }
    }

    void unplug()
    {
        QStringList paths;
        for (const QString &name : std::as_const(plugs))
            paths << in(order.m_folder, name);
        platform::removeFiles(paths);
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
};

namespace {

bool isBundleName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^parked(\\.\\d{1,6})?$"));
    return pattern.match(name).hasMatch();
}

// What an arrange's hidden folder holds, by one listing: the program's records, parked folders and
// other files of its own (a room probe, what a FUSE driver kept of a file removed), and whether
// anything else. Only the program writes there while an arrange goes through it: nothing is opened
// to be told, as it is removed next.
struct HiddenEntries {
    QStringList records, bundles, others;
    bool foreign = false;
};

HiddenEntries entriesOf(const QString &hidden)
{
    HiddenEntries found;
    for (const QFileInfo &entry : listing(hidden)) {
        const QString name = entry.fileName();
        if ((name == kRecordName || name == kSecondRecordName) && entry.isFile() && !entry.isSymLink())
            found.records << entry.filePath();
        else if (isBundleName(name) && entry.isDir() && !entry.isSymLink())
            found.bundles << entry.filePath();
        else if ((name == kRoomProbeName && isRoomProbe(entry.filePath()))
            || (platform::isDriverKept(name) && entry.isFile() && !entry.isSymLink()))
            found.others << entry.filePath();
        else
            found.foreign = true;
    }
    return found;
}

// Removes the hidden folder once the folder is in play order: what is in it is all the program's
// own while an arrange goes through it; anything else keeps it, and its records, there. Empty when
// it went; else the folder and why it stays.
QString clearHidden(const Hidden &hidden)
{
    const HiddenEntries found = entriesOf(hidden.path);
    const QString why = removeHidden(hidden.path, found.bundles, found.records, found.others);
    return why.isEmpty() ? why : hidden.path + QStringLiteral(": ") + why;
}

// Frees what the hidden folder of a cut-short arrange holds beyond the record that keeps the
// order, before its mend asks for room: its room probe, its parked folders (empty, all put back),
// a record cut off while it was written, and the shorter of two whole ones. False when no whole
// record is there to go on from, or it holds anything else (an entry that could not go back),
// which is left to the recovery.
bool tidyHidden(Hidden &hidden)
{
    const HiddenEntries found = entriesOf(hidden.path);
    if (found.foreign)
        return false;
    for (const QString &bundle : found.bundles) {
        if (!platform::entryNames(bundle).isEmpty())
            return false;
    }
    QString kept;
    qsizetype keptOrder = -1;
    QStringList spare;  // begun, or whole but keeping less of the order
    for (const QString &path : found.records) {
        const QByteArray bytes = readBounded(path);
        const std::optional<ParkingRecord> record = ParkingRecord::parse(bytes);
        if (!record) {
            if (ParkingRecord::isRecordBegun(bytes))
                spare << path;
            continue;
        }
        const qsizetype order = std::max(record->order.size(), record->back.size());
        if (order > keptOrder) {
            if (!kept.isEmpty())
                spare << kept;
            kept = path;
            keptOrder = order;
        } else {
            spare << path;
        }
    }
    if (kept.isEmpty())
        return false;
    for (const QString &path : std::as_const(spare)) {
        if (platform::removeFile(path).ok())
            step(FolderOrder::Step::Unrecorded);
    }
    platform::removeFiles(found.others);
    for (const QString &path : found.bundles)
        platform::removeFolder(path);
    hidden.record = QFileInfo(kept).fileName();
    return true;
}

}  // namespace

FolderOrder::Outcome FolderOrder::arrange(
    const QString &stagingParent, const std::function<void()> &moving) const
{
    Outcome outcome;
    Hidden hidden;
    hidden.parent = stagingParent;
    hidden.path = m_staging;
    QSet<QString> idle;  // folders of the media root that hold no media
    bool idleKnown = m_kind != MediaRoot;
    // First only what follows the first entry out of place, holding free slots only where an
    // entry comes back out of turn; then, should the driver have put some elsewhere, all that is
    // played, with every free slot among what stays held. Both go through one hidden folder, whose
    // record stays until the listing shows the folder in play order, so a run killed before that
    // is mended by the next.
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
            if (!hidden.path.isEmpty() && platform::entryKindOf(hidden.path) == platform::EntryKind::Folder)
                outcome.hiddenKept = clearHidden(hidden);
            return outcome;
        }
        if (pass == 2) {
            outcome.error = {platform::CopyOutcome::Other,
                QStringLiteral("the drive does not keep the entries in the order they are written")};
            outcome.recordKept = !hidden.record.isEmpty();
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
        // Whether the whole arrange fits is settled here, before anything moves.
        if (pass == 0 && !takeHidden(hidden, trip, outcome))
            return outcome;
        if (!outcome.moved && moving)
            moving();
        Outcome relayed = relay(hidden, trip);
        relayed.moved = true;
        if (!relayed.ok())
            return relayed;
        outcome.moved = true;
    }
}

// The record of a trip through `hidden`.
ParkingRecord FolderOrder::recordOf(const Hidden &hidden, const Relay &trip) const
{
    ParkingRecord record;
    record.folder = QDir(hidden.parent).relativeFilePath(m_folder);
    record.kind = kindName(m_kind);
    record.back = trip.back;
    for (const QString &name : std::as_const(trip.taken))
        record.taken << name;
    record.order = trip.playOrder;
    record.plugs = true;
    record.bundles = std::max(1, int((trip.back.size() + kBundleEntries - 1) / kBundleEntries));
    return record;
}

bool FolderOrder::takeHidden(Hidden &hidden, const Relay &first, Outcome &outcome) const
{
    // What is taken on is the hidden folder of a cut-short arrange of this folder: its room goes
    // to the mend first.
    bool goingOn
        = !hidden.path.isEmpty() && platform::entryKindOf(hidden.path) == platform::EntryKind::Folder;
    if (goingOn && !tidyHidden(hidden))
        goingOn = false;
    if (!goingOn) {
        hidden.path.clear();
        hidden.record.clear();
    }
    // The largest record is that of a pass that moves every played entry.
    Relay every(*this, first.playOrder, first.playOrder, first.playOrder, QString(), true);
    every.taken = first.taken;
    const qint64 recordBytes = recordOf(hidden, every).text().size();
    const platform::Room before = platform::roomOn(goingOn ? hidden.path : hidden.parent);
    const RoomAccount room
        = countRoom(m_folder, m_kind, first.playOrder, first.out, recordBytes, before.unit);
    const qint64 needed = goingOn ? room.goingOn() : room.fresh();
    if (before.free >= 0 && before.free < needed) {
        outcome.tooFull = true;
        outcome.recordKept = goingOn;
        outcome.error = {platform::CopyOutcome::NoSpace, roomWanted(before.free, needed)};
        return false;
    }
    if (!goingOn) {
        step(Step::Staging);
        // A name that is taken (by a folder of an earlier process) is passed over.
        bool made = false;
        for (int attempt = 0; attempt < 100 && !made; ++attempt) {
            hidden.path = platform::temporaryPath(hidden.parent, kStagingSuffix);
            outcome.error = platform::makeFolder(hidden.path, &made);
            if (!outcome.ok())
                break;
        }
        if (!made) {
            if (outcome.ok())
                outcome.error
                    = {platform::CopyOutcome::Other, QStringLiteral("no hidden folder can be made")};
            const platform::CopyOutcome::Error error = outcome.error.error;
            // With the room there, what is full is the top folder (the fixed one of FAT12 and
            // FAT16): a file or folder taken out of it makes room for the hidden folder.
            if (error != platform::CopyOutcome::TargetGone && error != platform::CopyOutcome::ReadOnly) {
                if (before.free >= 0)
                    outcome.topFolderFull = true;
                else
                    outcome.tooFull = true;
            }
            hidden.path.clear();
            return false;
        }
        hidden.made = true;
    }
    if (before.free >= 0)
        return true;
    // The drive does not say: what the rest of the arrange takes is written once, then let go.
    const qint64 probe = needed - (goingOn ? 0 : room.unit * room.hidden);
    outcome.error = platform::tryRoom(hidden.path + QLatin1Char('/') + kRoomProbeName, probe);
    if (outcome.ok())
        return true;
    outcome.tooFull = outcome.error.error != platform::CopyOutcome::TargetGone;
    outcome.recordKept = goingOn;
    if (!goingOn)
        outcome.hiddenKept = clearHidden(hidden);
    return false;
}

FolderOrder::Outcome FolderOrder::relay(Hidden &hidden, Relay &trip) const
{
    Outcome outcome;
    trip.staging = hidden.path;
    trip.parked = trip.staging + QLatin1Char('/') + kParkedName;
    const ParkingRecord record = recordOf(hidden, trip);
    trip.bundles = record.bundles;

    // Where the entries belong, on the device before the first of them moves; the record that kept
    // the order until now goes only after.
    const QString name = hidden.record == kRecordName ? kSecondRecordName : kRecordName;
    trip.record = trip.staging + QLatin1Char('/') + name;
    // The first parked folder is made before the record is written: some drivers (fusefat) bring
    // their count of free clusters up to date on a file's write, not on a new folder.
    outcome.error = platform::makeFolder(trip.parked);
    if (outcome.ok())
        outcome.error = platform::makeEmptyFile(trip.record);
    if (outcome.ok()) {
        step(Step::RecordOpened);
        outcome.error = platform::writeDurably(trip.record, record.text());
    }
    if (outcome.ok())
        outcome.error = platform::flushFolder(trip.staging);
    if (outcome.ok() && hidden.made && hidden.record.isEmpty())
        outcome.error = platform::flushFolder(hidden.parent);
    if (!outcome.ok()) {
        if (hidden.record.isEmpty()) {
            // Nothing moved and nothing keeps an order: the folder stands as it did.
            outcome.hiddenKept = clearHidden(hidden);
        } else {
            platform::removeFile(trip.record);
            platform::removeFolder(trip.parked);
            outcome.recordKept = true;
        }
        return outcome;
    }
    if (!hidden.record.isEmpty()) {
        if (platform::removeFile(trip.staging + QLatin1Char('/') + hidden.record).ok())
            step(Step::Unrecorded);
        platform::flushFolder(trip.staging);
    }
    hidden.record = name;
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
        // Nor what a driver said came back: an entry it dropped on a failed move is gone.
        const QStringList listed = platform::entryNames(m_folder);
        const bool folderListed = platform::entryKindOf(m_folder) == platform::EntryKind::Folder;
        for (const QString &entry : folderListed ? trip.out : QStringList()) {
            if (indexIn(listed, entry) < 0 && indexIn(waiting, entry) < 0 && indexIn(outcome.lost, entry) < 0)
                outcome.lost << entry;
        }
        if (!outcome.lost.isEmpty() && outcome.ok())
            outcome.error = {platform::CopyOutcome::Other, QStringLiteral("the drive lost files it moved")};
    }
    if ((!outcome.parkedListed && gone.isEmpty()) || (outcome.parkedListed && waiting.isEmpty())) {
        // The record stays until the folder is seen in play order.
        for (const QString &path : trip.bundlePaths())
            platform::removeFolder(path);
        outcome.recordKept = !outcome.ok();
        return outcome;
    }
    // What still waits is told in this run, even where every move said it went well.
    if (outcome.ok())
        outcome.error = {platform::CopyOutcome::Other, QStringLiteral("not every file came back")};
    outcome.parkedIn = QFileInfo(trip.staging).fileName();
    outcome.parked = waiting;
    return outcome;
}
