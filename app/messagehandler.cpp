#include "messagehandler.h"

#include "drivemessages.h"

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
{ }

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
        {QStringLiteral("Copy_txtadding"), QStringLiteral("Adding to the library:")},
        {QStringLiteral("Copy_txtconverting"), QStringLiteral("Converted for the car:")},
        {QStringLiteral("Copy_txtoptimising"), QStringLiteral("Optimising videos for the car:")},
        {QStringLiteral("Copy_txttimeleft"), QStringLiteral("Time left:")},
        {QStringLiteral("MediaLibrary_txtsearch"), QStringLiteral("Search the library")},
        {QStringLiteral("MediaLibrary_txtremove"), QStringLiteral("Remove selected")},
        {QStringLiteral("MediaLibrary_txtrepairing"), QStringLiteral("Completing tags and covers:")},
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
        {QStringLiteral("TransferandSync_overwriteall"), QStringLiteral("Overwrite all duplicates")},
        {QStringLiteral("TransferandSync_overwritenewer"), QStringLiteral("Overwrite only with newer")},
        {QStringLiteral("TransferandSync_overwritequality"),
            QStringLiteral("Overwrite only with higher quality/contain more data")},
        {QStringLiteral("TransferandSync_continue"), QStringLiteral("Transfer")},
        {QStringLiteral("TransferandSync_formatting"), QStringLiteral("Formatting the drive…")},
        {QStringLiteral("TransferandSync_progress"), QStringLiteral("Transferring:")},
        {QStringLiteral("TransferandSync_stop"), QStringLiteral("Stop")},
    };
}
