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
    enum Stop { Completed, Cancelled, DiskFull, DriveRemoved };
    Stop stop = Completed;
    int handled = 0;  // files reported through incrementProgress, skipped ones included
    int copied = 0;  // files written to the target, transcoded ones included
    int transcoded = 0;
    int kept = 0;  // already on the target and left as they were
    QStringList failures;  // "<file>: <reason>" for each file that did not reach the target
};

Q_DECLARE_METATYPE(TransferReport)
