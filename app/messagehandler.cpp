#include "messagehandler.h"

#include "drivemessages.h"
#include "track_data.h"

#include <QStringList>

namespace {

QString counted(int n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

MessageHandler::MessageHandler()
    : driveFull(DriveMessages().driveFull)
    , diskRemoved(DriveMessages().diskRemoved)
    , noDriveSelected(DriveMessages().noDriveSelected)
    , noMediaSelected(QStringLiteral("No media selected."))
    , databaseFailed(QStringLiteral("The media library could not be opened."))
    , protectedMedia(QStringLiteral("Protected media cannot be added to the library:"))
    , copyFailed(QStringLiteral("Some files could not be added to the library."))
    , chooseVehicle(QStringLiteral("Please select your vehicle and model year."))
    , readOnlyLibrary(
          QStringLiteral("The media library file cannot be written: it can be viewed and transferred, "
                         "but nothing can be added to it or removed from it."))
    , libraryLoadFailed(QStringLiteral("The media library could not be read:"))
    , libraryOpening(QStringLiteral("The media library is still being opened; please try again in a moment."))
    , addCancelled(QStringLiteral("Adding was cancelled: %1 of %2 added."))
    , videosSetAside(QStringLiteral(
          "These videos have more than two sound channels, which the car cannot play; they were not added:"))
    , noMediaFound(QStringLiteral("No media found."))
    , noFolder(QStringLiteral("No media found: the folder %1 does not exist."))
    , noItunesLibrary(QStringLiteral("No media found: there is no iTunes library at %1."))
    , noVideo(QStringLiteral("No media found: the %1 plays no video."))
    , searchCancelled(QStringLiteral("Search cancelled: these are the %1 found until then."))
{ }

QString MessageHandler::leftOut(const ScanSkips &skipped)
{
    QStringList parts;
    if (skipped.tooSmall > 0)
        parts << counted(skipped.tooSmall, "file", "files") + QStringLiteral(" under 100 KB");
    if (skipped.unreadable > 0)
        parts << QString::number(skipped.unreadable) + QStringLiteral(" unreadable");
    if (skipped.protectedFiles > 0)
        parts << QString::number(skipped.protectedFiles) + QStringLiteral(" protected");
    if (skipped.videosNotPlayed > 0)
        parts << counted(skipped.videosNotPlayed, "video", "videos") + QStringLiteral(" the car cannot play");
    if (skipped.missingEntries > 0)
        parts << counted(skipped.missingEntries, "playlist entry", "playlist entries")
                + QStringLiteral(" not found");
    if (skipped.unreadableFolders > 0)
        parts << counted(skipped.unreadableFolders, "folder", "folders")
                + QStringLiteral(" that cannot be read");
    return parts.isEmpty() ? QString() : parts.join(QStringLiteral(", ")) + QStringLiteral(" — see the log");
}

QString MessageHandler::scanNote(
    const ScanSkips &skipped, int found, bool stopped, const QString &reason) const
{
    QStringList lines;
    if (stopped)
        lines << searchCancelled.arg(counted(found, "file", "files"));
    else if (found == 0)
        lines << (reason.isEmpty() ? noMediaFound : reason);
    const QString out = leftOut(skipped);
    if (!out.isEmpty())
        lines << QStringLiteral("Left out: ") + out + QLatin1Char('.');
    return lines.join(QLatin1Char(' '));
}

QString MessageHandler::added(int tracks, int videos, int playlists)
{
    QStringList parts;
    if (tracks > 0 || (videos == 0 && playlists == 0))
        parts << counted(tracks, "track", "tracks");
    if (videos > 0)
        parts << counted(videos, "video", "videos");
    if (playlists > 0)
        parts << counted(playlists, "playlist", "playlists");
    const QString last = parts.takeLast();
    const QString list
        = parts.isEmpty() ? last : parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    return list + QStringLiteral(" added to the library.");
}

QString MessageHandler::ticked(int tracks)
{
    return tracks > 0 ? counted(tracks, "track", "tracks") + QStringLiteral(" ticked") : QString();
}

QString MessageHandler::removalQuestion(int tracks, int files)
{
    return QStringLiteral("Remove %1 from the library? %2 will be deleted from the library folder; "
                          "your own files stay where they are.")
        .arg(counted(tracks, "track", "tracks"), counted(files, "file", "files"));
}

QList<QPair<QString, QString>> MessageHandler::displayTexts()
{
    return {
        {QStringLiteral("MediaLibrary_txtwelcometitle"), QStringLiteral("Welcome")},
        {QStringLiteral("MediaLibrary_txtwelcome"),
            QStringLiteral("This application will help you select and optimise music and media files to "
                           "transfer to your vehicle.")},
        {QStringLiteral("MediaLibrary_txtwelcome2"),
            QStringLiteral(
                "Files can be transferred using your portable media such as a USB stick or SD Card.")},
        {QStringLiteral("Welcome_txtvehicle"), QStringLiteral("Vehicle")},
        {QStringLiteral("Welcome_txtmodelyear"), QStringLiteral("Model year")},
        {QStringLiteral("Welcome_txtselect"), QStringLiteral("Select")},
        {QStringLiteral("Welcome_txtcontinue"), QStringLiteral("Continue")},
        {QStringLiteral("ChangeVehicle_txt"), QStringLiteral("Change vehicle")},
        {QStringLiteral("StartPage_txttitle"), QStringLiteral("Your media library is empty")},
        {QStringLiteral("StartPage_txtadd"),
            QStringLiteral(
                "Add music, podcasts, audio books and videos from your folders or your iTunes library.")},
        {QStringLiteral("MediaLibrary_txttitle"), QStringLiteral("Media Library")},
        {QStringLiteral("MediaLibrary_txtartists"), QStringLiteral("Artists")},
        {QStringLiteral("MediaLibrary_txtalbums"), QStringLiteral("Albums")},
        {QStringLiteral("MediaLibrary_txttracks"), QStringLiteral("Tracks")},
        {QStringLiteral("MediaLibrary_txtplaylists"), QStringLiteral("Playlists")},
        {QStringLiteral("MessageBox_txtok"), QStringLiteral("OK")},
        {QStringLiteral("Common_txtcancel"), QStringLiteral("Cancel")},
        {QStringLiteral("Common_txttrack"), QStringLiteral("track")},
        {QStringLiteral("Common_txtback"), QStringLiteral("Back")},
        {QStringLiteral("Header_txtaddmedia"), QStringLiteral("Add media")},
        {QStringLiteral("StartPage_txtaddtitle"), QStringLiteral("Add media to your library")},
        {QStringLiteral("Source_txtmusic"), QStringLiteral("My Music")},
        {QStringLiteral("Source_txtvideos"), QStringLiteral("My Videos")},
        {QStringLiteral("Source_txtpictures"), QStringLiteral("My Pictures")},
        {QStringLiteral("Source_txtbrowse"), QStringLiteral("Choose a folder…")},
        {QStringLiteral("Source_txtitunes"), QStringLiteral("iTunes library")},
        {QStringLiteral("Browser_txttitle"), QStringLiteral("Media found")},
        {QStringLiteral("Browser_txtselectall"), QStringLiteral("Select all")},
        {QStringLiteral("Browser_txtselectnone"), QStringLiteral("Select none")},
        {QStringLiteral("Browser_txtfiles"), QStringLiteral("files")},
        {QStringLiteral("Browser_txtaddselected"), QStringLiteral("Add selected")},
        {QStringLiteral("Browser_txtaddall"), QStringLiteral("Add all")},
        {QStringLiteral("Browser_txtempty"), QStringLiteral("No media found.")},
        {QStringLiteral("Browser_txtinlibrary"), QStringLiteral("In library")},
        {QStringLiteral("Copy_txtadding"), QStringLiteral("Adding to the library:")},
        {QStringLiteral("Copy_txtconverting"), QStringLiteral("Converted for the car:")},
        {QStringLiteral("Copy_txtoptimising"), QStringLiteral("Optimising videos for the car:")},
        {QStringLiteral("Copy_txttimeleft"), QStringLiteral("Time left:")},
        {QStringLiteral("Copy_txtconvertingaudio"), QStringLiteral("Converting audio for the car:")},
        {QStringLiteral("MediaLibrary_txtsearch"), QStringLiteral("Search the library")},
        {QStringLiteral("MediaLibrary_txtremove"), QStringLiteral("Remove selected")},
        {QStringLiteral("MediaLibrary_txtconfirmremove"), QStringLiteral("Remove")},
        {QStringLiteral("MediaLibrary_txtnoresults"), QStringLiteral("No results")},
        {QStringLiteral("MediaLibrary_txtemptytab"), QStringLiteral("No %1 in the library yet.")},
        {QStringLiteral("MediaLibrary_txtrepairing"), QStringLiteral("Completing tags and covers:")},
        {QStringLiteral("Repair_txtpause"), QStringLiteral("Pause")},
        {QStringLiteral("Repair_txtresume"), QStringLiteral("Resume")},
        {QStringLiteral("Repair_txtstop"), QStringLiteral("Stop")},
        {QStringLiteral("Repair_txtadvanced"), QStringLiteral("Complete tags and covers…")},
        {QStringLiteral("Repair_txttitle"), QStringLiteral("Complete tags and covers")},
        {QStringLiteral("Repair_txtchoose"),
            QStringLiteral("Tick the tracks whose missing artist, album, title or cover should be looked up. "
                           "Tags that are there already are kept.")},
        {QStringLiteral("Repair_txtstart"), QStringLiteral("Repair")},
        {QStringLiteral("Repair_txtselectall"), QStringLiteral("Select all")},
        {QStringLiteral("Repair_txtlacks"), QStringLiteral("lacks")},
        {QStringLiteral("Repair_txtlacktitle"), QStringLiteral("title")},
        {QStringLiteral("Repair_txtlackartist"), QStringLiteral("artist")},
        {QStringLiteral("Repair_txtlackalbum"), QStringLiteral("album")},
        {QStringLiteral("Repair_txtlackcover"), QStringLiteral("cover")},
        {QStringLiteral("MediaLibrary_txtpodcasts"), QStringLiteral("Podcasts")},
        {QStringLiteral("MediaLibrary_txtaudiobooks"), QStringLiteral("Audio books")},
        {QStringLiteral("MediaLibrary_txtvideos"), QStringLiteral("Videos")},
        {QStringLiteral("MediaLibrary_txttransfer"), QStringLiteral("Transfer to vehicle")},
        {QStringLiteral("TransferandSync_title"), QStringLiteral("Transfer and sync")},
        {QStringLiteral("TransferandSync_choose"),
            QStringLiteral("Choose the USB stick, SD card or folder to transfer to:")},
        {QStringLiteral("TransferandSync_nodrive"),
            QStringLiteral("No USB stick or SD card found. Insert one, or choose a folder.")},
        {QStringLiteral("TransferandSync_opendirectory"), QStringLiteral("Open Directory")},
        {QStringLiteral("TransferandSync_folder"), QStringLiteral("Folder")},
        {QStringLiteral("TransferandSync_free"), QStringLiteral("GB free of")},
        {QStringLiteral("TransferandSync_format"),
            QStringLiteral("Format the drive first (everything on it is erased)")},
        {QStringLiteral("TransferandSync_overwritenever"), QStringLiteral("Never overwrite")},
        {QStringLiteral("TransferandSync_overwriteall"), QStringLiteral("Overwrite all duplicates")},
        {QStringLiteral("TransferandSync_overwritenewer"), QStringLiteral("Overwrite only with newer")},
        {QStringLiteral("TransferandSync_overwritequality"),
            QStringLiteral("Overwrite only with higher quality/contain more data")},
        {QStringLiteral("TransferandSync_noformatfolder"), QStringLiteral("A folder is not formatted.")},
        {QStringLiteral("TransferandSync_noformatdrive"),
            QStringLiteral("Choose a USB stick or SD card to format it.")},
        {QStringLiteral("TransferandSync_continue"), QStringLiteral("Transfer")},
        {QStringLiteral("TransferandSync_formatting"), QStringLiteral("Formatting the drive…")},
        {QStringLiteral("TransferandSync_progress"), QStringLiteral("Transferring:")},
        {QStringLiteral("TransferandSync_stop"), QStringLiteral("Stop")},
    };
}
