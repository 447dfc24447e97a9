#pragma once

#include <QList>
#include <QPair>
#include <QString>

struct ScanSkips;

// The texts the user reads: the eight messages of the message box and the display texts the
// front end shows, each published under its key.
class MessageHandler
{
public:
    MessageHandler();

    QString driveFull;
    QString diskRemoved;
    QString noDriveSelected;
    QString noMediaSelected;
    QString databaseFailed;
    QString protectedMedia;
    QString copyFailed;
    QString chooseVehicle;
    QString readOnlyLibrary;
    QString libraryLoadFailed;
    QString libraryOpening;
    QString addCancelled;  // "%1 of %2 ..."
    QString videosSetAside;
    QString noMediaFound;
    QString noFolder;  // "%1": the folder
    QString noItunesLibrary;  // "%1": where the library file was looked for
    QString noVideo;  // "%1": the vehicle
    QString searchCancelled;  // "%1": files found until then

    // "4 files under 100 KB, 1 unreadable — see the log"; empty when nothing was left out.
    static QString leftOut(const ScanSkips &skipped);
    // The browser's line after a scan of `found` files: a cancel, why nothing was found (`reason`,
    // when known), and what was left out.
    QString scanNote(const ScanSkips &skipped, int found, bool stopped, const QString &reason) const;
    // "21 tracks, 2 videos and 2 playlists added to the library."; the parts that are 0 are left
    // out, and "0 tracks" stands when all are.
    static QString added(int tracks, int videos = 0, int playlists = 0);
    // "12 tracks ticked" for the library's line of ticks; empty when none is.
    static QString ticked(int tracks);
    // The question before `tracks` tracks, `files` of them copies in the library folder, go.
    static QString removalQuestion(int tracks, int files);

    static QList<QPair<QString, QString>> displayTexts();
};
