#pragma once

#include "filecopy.h"
#include "taglibbuilder.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct ParkingRecord;
namespace folderorder {
struct Hidden;
}

// One file a run put in a folder, or found there and kept, with its place in an album.
struct PlacedEntry {
    QString name;
    qint16 disc = 0;
    qint16 number = 0;
    // False when the file on the target may not be the one the numbers were read from (kept from
    // an earlier run and of another size): its own tags are read instead.
    bool known = true;
};

// The play order of one folder on the target. Head units play a folder in the order of its
// entries, and on FAT that is the order of their slots in the folder: a new entry takes the first
// free slots that fit its name (left by a removed file or temporary, else at the end), and a file
// renamed over another keeps the other's slot. So the run writes each folder in play order, then
// lists it: when what the car plays is out of order, those entries are parked in a hidden folder
// and moved back in play order, by renames only. Everything else (the user's notes, pictures and
// subfolders, Folder.png) keeps its slot; the free slots among them are held by empty files
// meanwhile, so what comes back goes after them, in turn.
class FolderOrder
{
public:
    enum Kind {
        Album,  // by disc, track number and name, as the files' tags give them
        Playlist,  // as placed; files of earlier runs after them, by name
        Names,  // files by name (Videos)
        MediaRoot,  // the album folders by name, then the playlist files
    };

    FolderOrder() = default;
    FolderOrder(const QString &folder, Kind kind);

    const QString &folder() const { return m_folder; }
    Kind kind() const { return m_kind; }
    void place(const PlacedEntry &entry);

    // The entries of `listed` that the car plays, in the order they should stand.
    QStringList wanted(const QFileInfoList &listed) const;

    struct Outcome {
        platform::CopyOutcome error;
        bool moved = false;  // entries were moved (the folder was out of order)
        // Nothing was moved: the drive has too little room to finish the arrange.
        bool tooFull = false;
        // Nothing was moved: the drive's top folder takes no more entries (the fixed top folder
        // of FAT12 and FAT16), though there is room on the drive.
        bool topFolderFull = false;
        QString parkedIn;  // the hidden folder that still holds `parked`, when a failure left some
        QStringList parked;  // what a listing of the hidden folder found there
        bool parkedListed = true;  // false when the hidden folder could no longer be listed
        QStringList lost;  // entries that went out and are neither there nor back in the folder
        // Not in play order, with every entry back in it, but the hidden folder's record kept:
        // the next transfer puts it in order.
        bool recordKept = false;
        // The hidden folder its clean-up could not remove, and why ("<path>: <why>"): the next
        // transfer removes it.
        QString hiddenKept;
        bool ok() const { return error.ok(); }
    };
    // Puts what the car plays in play order when the listing shows it is not, through a hidden
    // folder in `stagingParent` (on the same volume, outside the folder); a folder in order is not
    // touched, and so is one on a drive without room to finish (`tooFull`), counted before anything
    // is made. `moving` is called once before the first move. A failure puts back what it moved;
    // what it cannot put back waits in the hidden folder for `recover`, and the outcome names what a
    // listing finds there.
    Outcome arrange(const QString &stagingParent, const std::function<void()> &moving = {}) const;

    // The hidden folder a cut-short arrange of this folder left, all its entries put back: the
    // arrange goes on in it, so it takes no more room or top-folder entries than that one did.
    void goOnIn(const QString &hidden) { m_staging = hidden; }
    const QString &goingOnIn() const { return m_staging; }

    struct Recovery;
    // Puts back the entries that arranges cut short (a killed run, a pulled stick) left in hidden
    // folders in `root`, and hands back the folders to put in play order again; hidden folders
    // whose records no folder needs any more are removed. A record that names no folder
    // below `root`, or cannot be read, sends its files to a folder a person can see instead
    // (kRecoveredFolder), never outside `root`. `moving` is called with each folder name first.
    static Recovery recover(const QString &root, const std::function<void(const QString &)> &moving = {});
    // Removes hidden folders a recovery left for their records, once the folder they name is in
    // play order; one that holds anything but the program's own stays, and the log lines say why.
    static QStringList release(const QStringList &hidden);
    static const QString kRecoveredFolder;

    // `names` short enough for a message: the first ten, then how many more there are.
    static QString namesShown(const QStringList &names);

    // Where tests stop an arrange, as a kill or a pulled stick would: called at each step with
    // the step and, for moves, how many entries have moved so far.
    // Replaced: an entry that came back out of turn went out and back again; Plugged gives the
    // plugs of the trip so far.
    enum class Step {
        Staging,
        RecordOpened,
        Recorded,
        MovedOut,
        Plugged,
        MovedBack,
        Unplugged,
        Unrecorded,
        Replaced
    };
    static std::function<void(Step, int)> stepHook;

private:
    bool played(const QFileInfo &entry) const;
    struct Relay;
    ParkingRecord recordOf(const folderorder::Hidden &hidden, const Relay &trip) const;
    // Settles whether the whole arrange fits and makes or takes on its hidden folder; false, with
    // the outcome saying why, when it will not go ahead. Nothing moved then, and nothing is left
    // of the program's but a record it found.
    bool takeHidden(folderorder::Hidden &hidden, const Relay &first, Outcome &outcome) const;
    Outcome relay(folderorder::Hidden &hidden, Relay &trip) const;

    QString m_folder;
    Kind m_kind = Album;
    QString m_staging;
    QList<PlacedEntry> m_placed;
    QHash<QString, int> m_placedAt;  // case-folded name -> index in m_placed
    // The numbers read from files on the target, by case-folded name: moving a file does not
    // change them, and a read through a slow driver is worth doing once.
    mutable QHash<QString, TagLibBuilder::PlayNumbers> m_tagged;
};

struct FolderOrder::Recovery {
    // A folder whose entries went back, to be put in play order again; the hidden folders whose
    // records keep that order stay until it stands (release).
    struct Mend {
        FolderOrder folder;
        QStringList hidden;
    };
    QList<Mend> restored;
    // What the user must be told: files that could not go back, or that are gone.
    QStringList notices;
    QStringList logLines;
};
