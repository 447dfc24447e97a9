#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What a hidden folder on the target holds while a folder's entries are parked in it to be put
// back in play order: which folder they belong to (relative to the folder holding the hidden
// one), how that folder is ordered, and the order they go back in. It is written whole before
// anything moves, so a record without its end line is damaged, never half-believed.
//
// The empty files that hold free slots meanwhile take names of one pattern (isPlugName); the
// record names those of the pattern that were in the folder before, which are not ours.
struct ParkingRecord {
    QString folder;  // relative, "/"-separated
    QString kind;  // "album", "playlist", "names" or "root"
    QStringList back;  // the parked entries in the order they go back
    QStringList taken;  // names of the plug pattern in the folder before: the user's own
    // Every entry the car plays in the folder, in the order the arrange wanted: a playlist's order
    // is known nowhere else once the run that had it is gone.
    QStringList order;
    // The run may hold free slots with plugs: only then are empty files of their pattern its own.
    bool plugs = false;
    // How many folders hold the parked entries: "parked", then "parked.2", ...
    int bundles = 1;

    QByteArray text() const;
    // The record in `bytes`; none when they are not a whole record of this kind.
    static std::optional<ParkingRecord> parse(const QByteArray &bytes);

    // The n-th name a plug may take: upper-case 8.3 ("KIVO0001.TMP"), a single slot where the
    // driver can (vfat), so the plugs fill every free slot, however small; with `length`, dashes
    // before the suffix make it that long ("KIVO0001---.TMP"), so it takes the slots of an entry of
    // that length whatever the driver.
    static QString plugName(int n, int length = 0);
    static bool isPlugName(const QString &name);
    // Whether `bytes` are the beginning of a record (or nothing): what a run killed while writing
    // its record leaves.
    static bool isRecordBegun(const QByteArray &bytes);

    // Why `folder` cannot be taken as a folder below `root` without leaving it: an absolute path,
    // an empty, "." or ".." part, a part that is a link or not a folder, or one that is a hidden
    // folder of the program's own (".kivo-"). Parts not there yet are fine. Empty when it can.
    static QString refusal(const QString &root, const QString &folder);
};
