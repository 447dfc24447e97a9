#pragma once

#include "folderorder.h"
#include "m3ufile.h"
#include "namefit.h"
#include "systeminfo.h"
#include "toolhealth.h"
#include "transferdetail.h"
#include "transferstop.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

// The state of one transfer run, owned by the run: nothing here is shared with another run or
// with the library conversion.
struct TransferRun {
    explicit TransferRun(const transferDetail &request)
        : detail(request)
        , stop(request.stop)
        , spaceRemaining(request.availableSpace)
    { }

    const transferDetail detail;
    StopToken stop;
    QString transferRoot;  // the destination without trailing separators ("" for "/")
    // The destination as a folder to open, look at or flush.
    QString rootFolder() const { return transferRoot.isEmpty() ? QStringLiteral("/") : transferRoot; }
    QString mediaRoot;  // "<transferRoot>/<vehicle> Media"
    QString transcodeRoot;  // "<library>/Transcoded Media"
    quint64 volume = 0;  // the volume the destination was on when the run began
    qint64 maxFileSize = -1;
    NameUnits nameUnits = NameUnits::Utf16Units;  // how the target counts a name's length
    qint64 spaceRemaining;
    QList<AudioCodec> systemCodecs;
    QSet<QString> playableCodecs;
    // The playlist files of this run, by case-folded path: each is built here and is complete
    // once its last entry of the run is handled; `playlistEntriesLeft` counts down to that.
    // Complete ones wait in `playlistsDone` and are written whole after the folders, so the
    // media folder lists its folders first.
    QHash<QString, M3uFile> playlists;
    QHash<QString, int> playlistEntriesLeft;
    QList<M3uFile> playlistsDone;
    // Held from the run's start, so the flush at its end reports a write error from any time.
    std::unique_ptr<platform::FileSystemHold> fileSystem;
    // Whether the target lists entries in the order they were placed (FAT): then each folder the
    // walk leaves, and the media folder at the end, are put in play order where they are not.
    bool keepsOrder = false;
    FolderOrder folderOrder;
    FolderOrder rootOrder;
    // Mends of cut-short arranges this run could not finish, by case-folded folder: a later arrange
    // of the same folder goes on in their hidden folder, and removes them once it is in order.
    QHash<QString, FolderOrder::Recovery::Mend> unmended;
    // What the end message says of each folder's order, by case-folded folder: once a folder.
    QHash<QString, QStringList> orderNotices;
    QHash<QString, QString> written;  // case-folded target path -> the source this run put there
    QSet<QString> artDone;  // folders whose album art is settled
    QSet<QString> foldersMade;  // folders this run made or found, taken as there from then on
    // Of those, the ones this run made: they hold only what the run put there, which `written`
    // knows, so their files need no look on the drive.
    QSet<QString> foldersNew;
    // Covers made into Folder.png ahead of the copies; each is taken when first used, so a
    // library of many albums never holds them all.
    QSet<QString> artRequested;
    QHash<QString, QFuture<QByteArray>> albumArt;

    // The track in hand.
    M3uFile *playlist = nullptr;  // null when the track is in no playlist
    QString playlistFolder;  // the folder part of its playlist entry
    QString currentCoverPath;  // the cover for the folder's album art; empty for none
    qint64 sourceSize = -1;  // the size of the file to copy when already known; -1 to look
    bool converting = false;  // the file to copy was converted for the car
    // Its disc and track number, read from the tags of the file that goes to the target.
    qint16 disc = 0;
    qint16 trackNumber = 0;

    TransferReport report;
    platform::ToolHealth tools;  // ffmpeg found broken twice is not tried again in this run
};
