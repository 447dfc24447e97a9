#pragma once

#include <QList>
#include <QPair>
#include <QString>

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

    static QList<QPair<QString, QString>> displayTexts();
};
