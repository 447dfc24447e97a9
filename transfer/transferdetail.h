#pragma once

#include "systeminfo.h"
#include "transferstop.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

// One transfer request: where the media go, how much room there is, how files already on the
// target are treated, and which in-car system they are prepared for.
struct transferDetail {
    QString destination;  // the target root: a drive's mount path or a chosen folder
    qint64 availableSpace = 0;  // bytes the copies may use
    bool ignoreSpaceLimit = false;  // a folder target: copy past availableSpace
    bool overwriteall = false;
    bool overwritenewer = false;
    bool overwritequality = false;
    // The job's own copy, taken when it was asked for: choosing another vehicle meanwhile refills
    // the shared record, which a running job must not see half-made.
    SystemInfo systemInfo;
    // The job's stop; copies of the request share it. A stop raised once the request exists
    // reaches its job, even one not started yet, and no other job.
    JobStop stop = std::make_shared<StopToken>();
};

// How a transfer run ended, and what became of its files.
struct TransferReport {
    // ReadOnly: the target cannot be written at all. FolderGone: the media folder, or the chosen
    // folder holding it, vanished mid-run; it is not made again. WriteError: a write failed for a
    // reason that is not this one file's own.
    enum Stop { Completed, Cancelled, DiskFull, DriveRemoved, ReadOnly, FolderGone, WriteError };
    Stop stop = Completed;
    QString stopReason;  // the system's words for a stop that was not asked for
    QString stopPath;  // the folder the stop concerns
    int handled = 0;  // files reported through incrementProgress, skipped ones included
    int copied = 0;  // files written to the target, converted and replacing ones included
    // Of the files written: those converted first that were new on the target, and those that
    // took the place of a file already there (converted or not). The rest were plain new copies.
    int transcoded = 0;
    int replaced = 0;
    int kept = 0;  // already on the target and left as they were
    QStringList failures;  // "<file>: <reason>" for each file that did not reach the target
    // What else the user must know of the drive: files an earlier transfer left hidden there and
    // that could not go back where they belong, and where they are now.
    QStringList notices;
};

Q_DECLARE_METATYPE(TransferReport)
