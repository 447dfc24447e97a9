#pragma once

#include <QString>

// The messages the drive code shows; the program's message texts take theirs from here.
struct DriveMessages {
    QString driveFull = QStringLiteral("Drive is Full");
    QString diskRemoved = QStringLiteral("Disk is Removed");
    QString noDriveSelected = QStringLiteral("No destination drive selected.");
    QString transferDone = QStringLiteral("Transfer complete: %1 of %2 files are on the drive.");
    QString transferStopped = QStringLiteral("Transfer stopped: %1 of %2 files are on the drive.");
    QString filesFailed = QStringLiteral("These files could not be transferred:");
    QString formatRefused = QStringLiteral("Only a USB stick or SD card listed here can be formatted.");
    QString formatFailed = QStringLiteral("The drive could not be formatted; nothing was transferred.");
};
