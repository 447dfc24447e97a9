#pragma once

#include "filecopy.h"

#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

// One file a run put in a folder, or found there and kept, with its place in an album.
struct PlacedEntry {
    QString name;
    qint16 disc = 0;
    qint16 number = 0;
};

// The play order of one folder on the target. Head units play a folder in the order of its
// entries, and on FAT that is the order of their slots in the folder: a new entry takes the first
// free slots that fit its name (left by a removed file or temporary, else at the end), and a file
// renamed over another keeps the other's slot. So the run writes each folder in play order, and a
// folder that gained an entry is listed once the run is done with it: when the listing is out of
// order, every entry is moved into a hidden folder beside it and back in play order. An emptied
// FAT folder fills from its start, so the entries then stand in that order; files are renamed,
// never copied.
class FolderOrder
{
public:
    enum Kind {
        Album,  // by disc, track number and name; files of earlier runs by their tags
        Playlist,  // as placed; files of earlier runs after them
        Names,  // folders by name, then files by name (the media folder, Videos)
    };

    FolderOrder() = default;
    FolderOrder(const QString &folder, Kind kind);

    const QString &folder() const { return m_folder; }
    // `added`: the entry is new in the folder, so it may have taken any free slot.
    void place(const PlacedEntry &entry, bool added);
    void setGrown() { m_grown = true; }
    bool grown() const { return m_grown; }

    // All entries of `listed` (the folder as listed, in its own order) as they should stand.
    QStringList wanted(const QFileInfoList &listed) const;
    // Puts the folder's entries in play order when the listing shows they are not, through a
    // hidden folder in `stagingParent` (above the folder, on the same volume): first those from
    // the first one out of place on, then, if free slots took some of them early, all. A failure
    // puts back what it moved; what it cannot put back waits in the hidden folder for `recover`.
    platform::CopyOutcome arrange(const QString &stagingParent) const;

    // Moves back into their folders the entries an arrange cut short (a killed run, a pulled
    // stick) left in hidden folders in `parent`. Returns how many hidden folders were emptied.
    static int recover(const QString &parent);

private:
    bool ordered(const QFileInfo &entry) const;
    // Moves `out` into a new hidden folder in `stagingParent`, then `back` into the folder.
    platform::CopyOutcome relay(
        const QString &stagingParent, const QStringList &out, const QStringList &back) const;

    QString m_folder;
    Kind m_kind = Album;
    QList<PlacedEntry> m_placed;
    bool m_grown = false;
};
