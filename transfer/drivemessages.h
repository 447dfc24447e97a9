#pragma once

#include "transferdetail.h"

#include <QString>

// The messages the drive code shows; the program's message texts take theirs from here.
struct DriveMessages {
    QString driveFull = QStringLiteral("Drive is Full");
    QString diskRemoved = QStringLiteral("Disk is Removed");
    QString noDriveSelected = QStringLiteral("No destination drive selected.");
    QString transferDone = QStringLiteral("Transfer complete: %1 files — %2.");
    QString transferStopped = QStringLiteral("Transfer stopped: %1 of %2 files handled — %3.");
    // Shown while the files are written out to the drive, before the end message.
    QString writingToDrive = QStringLiteral("Writing to the drive…");
    // Shown while a folder's files are moved into the order the car plays them in.
    QString arranging = QStringLiteral("Putting “%1” in play order…");
    // What became of the files so far, in every end message.
    QString counts
        = QStringLiteral("%1 copied, %2 converted, %3 kept (already on the drive), %4 replaced; %5 failed");
    QString filesArrived = QStringLiteral("%1 of %2 files were written");
    QString readOnly = QStringLiteral("%1 cannot be written (%2).");
    QString folderGone = QStringLiteral("The folder %1 disappeared; %2 of %3 files were written.");
    QString writeError = QStringLiteral("Transfer stopped: %1 could not be written to the drive (%2).");
    QString filesFailed = QStringLiteral("These files could not be transferred:");
    // Above what became of folders and playlists on the drive, which are not counted as files.
    QString aboutTheDrive = QStringLiteral("On the drive:");
    QString moreInLog = QStringLiteral("… %1 more. See the log: %2");
    QString seeLog = QStringLiteral("See the log: %1");
    QString formatRefused = QStringLiteral("Only a USB stick or SD card listed here can be formatted.");
    QString formatFailed = QStringLiteral("The drive could not be formatted; nothing was transferred.");

    // The message that ends a transfer of `total` files, whatever ended it, with what became of
    // each file and, when some failed, where the log that lists them is.
    QString endOfTransfer(const TransferReport &report, int total, const QString &logPath) const;
};
