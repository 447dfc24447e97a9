#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "track_data.h"

#include <QDir>
#include <QDirIterator>
#include <QSet>

using namespace folderorder;

namespace {

// More than a folder's free slots ever take; a folder that takes more is left as it is.
constexpr int kMaxPlugs = 9999;

// The slots a name takes in a FAT folder: its short entry and a long-name entry per 13 units.
// exFAT takes a few more; the plugs find out what is really free.
int slotsOf(const QString &name)
{
    return 1 + int((name.size() + 12) / 13);
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

}  // namespace

// One trip of entries through a hidden folder and back.
struct FolderOrder::Relay {
    const FolderOrder &order;
    QString staging, parked, record;
    QStringList plugs;

    // Holds the folder's free slots with empty files until one lands after everything that
    // stayed: what comes back then goes in turn at the end. `estimate` is how many free slots
    // there are likely to be; names in `taken` are the user's.
    void plug(int estimate, const QSet<QString> &taken)
    {
        const QString &folder = order.m_folder;
        int batch = std::max(1, estimate), next = 1;
        while (next <= kMaxPlugs) {
            for (int made = 0; made < batch && next <= kMaxPlugs;) {
                const QString name = ParkingRecord::plugName(next++);
                if (taken.contains(name.toCaseFolded()))
                    continue;
                if (!platform::makeEmptyFile(folder + QLatin1Char('/') + name).ok())
                    return;
                plugs << name;
                ++made;
            }
            const QSet<QString> ours(plugs.cbegin(), plugs.cend());
            const QFileInfoList listed = listing(folder);
            qsizetype last = listed.size() - 1;
            while (last >= 0 && ours.contains(listed.at(last).fileName()))
                --last;
            if (last == listed.size() - 1) {
                batch = std::max(1, batch / 4);
                continue;
            }
            // Those after everything else hold no free slot among them.
            for (qsizetype i = last + 1; i < listed.size(); ++i) {
                if (QFile::remove(listed.at(i).filePath()))
                    plugs.removeOne(listed.at(i).fileName());
            }
            return;
        }
    }

    void unplug()
    {
        for (const QString &name : std::as_const(plugs))
            QFile::remove(order.m_folder + QLatin1Char('/') + name);
        plugs.clear();
    }
};

FolderOrder::Outcome FolderOrder::arrange(
    const QString &stagingParent, const std::function<void()> &moving) const
{
    Outcome outcome;
    QSet<QString> idle;  // folders of the media root that hold no media
    bool idleKnown = m_kind != MediaRoot;
    // First only what follows the first entry out of place, then, should the driver have put
    // some elsewhere, all that is played.
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
        if (now == order)
            return outcome;
        if (pass == 2) {
            outcome.error = {platform::CopyOutcome::Other,
                QStringLiteral("the drive does not keep the entries in the order they are written")};
            return outcome;
        }
        qsizetype same = 0;
        while (pass == 0 && same < now.size() && now.at(same) == order.at(same))
            ++same;
        if (!outcome.moved && moving)
            moving();
        outcome.moved = true;
        QStringList taken;
        for (const QFileInfo &entry : listed) {
            if (ParkingRecord::isPlugName(entry.fileName()))
                taken << entry.fileName();
        }
        Outcome relayed = relay(stagingParent, now.mid(same), order.mid(same), taken);
        if (!relayed.ok()) {
            relayed.moved = true;
            return relayed;
        }
    }
}

FolderOrder::Outcome FolderOrder::relay(const QString &stagingParent, const QStringList &out,
    const QStringList &back, const QStringList &taken) const
{
    Outcome outcome;
    Relay trip{*this, {}, {}, {}, {}};
    step(Step::Staging);
    // A name that is taken (by a folder of an earlier process of the same id) is passed over.
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        trip.staging = platform::temporaryPath(stagingParent, kStagingSuffix);
        outcome.error = platform::makeFolder(trip.staging, &made);
        if (!outcome.ok())
            return outcome;
    }
    if (!made) {
        outcome.error = {platform::CopyOutcome::Other, QStringLiteral("no hidden folder can be made")};
        return outcome;
    }
    trip.parked = trip.staging + QLatin1Char('/') + kParkedName;
    trip.record = trip.staging + QLatin1Char('/') + kRecordName;
    ParkingRecord record;
    record.folder = QDir(stagingParent).relativeFilePath(m_folder);
    record.kind = kindName(m_kind);
    record.back = back;
    record.taken = taken;
    // Where the entries belong, on the device before the first of them moves.
    outcome.error = platform::makeFolder(trip.parked);
    if (outcome.ok())
        outcome.error = platform::makeEmptyFile(trip.record);
    if (outcome.ok()) {
        step(Step::RecordOpened);
        outcome.error = platform::writeDurably(trip.record, record.text());
    }
    if (outcome.ok())
        outcome.error = platform::flushFolder(trip.staging);
    if (outcome.ok())
        outcome.error = platform::flushFolder(stagingParent);
    if (!outcome.ok()) {
        QFile::remove(trip.record);
        QDir().rmdir(trip.parked);
        QDir().rmdir(trip.staging);
        return outcome;
    }
    step(Step::Recorded);

    QSet<QString> gone;
    int freed = 0;
    for (const QString &entry : out) {
        outcome.error = move(m_folder, trip.parked, entry);
        // A folder may have gone in part.
        const platform::EntryKind there = platform::entryKindOf(trip.parked + QLatin1Char('/') + entry);
        if (outcome.ok() || there == platform::EntryKind::Folder || there == platform::EntryKind::File) {
            gone.insert(entry);
            freed += slotsOf(entry);
        }
        if (!outcome.ok())
            break;
        step(Step::MovedOut, int(gone.size()));
    }
    if (outcome.ok()) {
        // Plugs take two slots on drivers that give every name a long entry (fusefat), one on
        // the others; any too many land at the end and go again at once.
        QSet<QString> ours;
        for (const QString &name : taken)
            ours.insert(name.toCaseFolded());
        trip.plug((freed + 1) / 2, ours);
        step(Step::Plugged, int(trip.plugs.size()));
    }
    // Back in play order; after a failed move out, what went out goes back as it can.
    int returned = 0;
    for (const QString &entry : back) {
        if (!gone.contains(entry))
            continue;
        const platform::CopyOutcome moved = move(trip.parked, m_folder, entry);
        if (moved.ok()) {
            gone.remove(entry);
            step(Step::MovedBack, ++returned);
        } else if (outcome.ok()) {
            outcome.error = moved;
        }
    }
    trip.unplug();
    step(Step::Unplugged);
    if (gone.isEmpty()) {
        QFile::remove(trip.record);
        step(Step::Unrecorded);
        QDir().rmdir(trip.parked);
        QDir().rmdir(trip.staging);
        return outcome;
    }
    outcome.parkedIn = QFileInfo(trip.staging).fileName();
    for (const QString &entry : back) {
        if (gone.contains(entry))
            outcome.parked << entry;
    }
    return outcome;
}
