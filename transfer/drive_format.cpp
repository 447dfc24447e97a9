#include "drive.h"

#include "applog.h"
#include "apppaths.h"
#include "systeminfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QtConcurrent>

#include <iostream>

void Drive::ContinueDrive(
    const QString &drive, int format, int overwriteall, int overwritenewer, int overwritequality)
{
    m_chosenFolder.clear();
    m_drive = drive;
    m_overwriteall = overwriteall;
    m_overwritenewer = overwritenewer;
    m_overwritequality = overwritequality;
    if (drive.isEmpty() || drive == QLatin1String("No Drive"))
        return;
    if (!QFileInfo::exists(drive)) {
        const DriveData *gone = listedEntry(drive);
        emit showMessageBox(gone && gone->isSystem() == 1
                ? m_messages.folderGone.arg(drive).arg(0).arg(transferMap().size())
                : m_messages.diskRemoved);
        return;
    }
    // One format or transfer at a time: a second press while one runs is not a new request.
    if (isBusy())
        return;
    // A new request, with its own stop: a Stop pressed from now on (during the format too)
    // reaches this transfer and no earlier one.
    m_request = transferDetail();
    m_request.systemInfo = systemInfoCopy();
    FormatJob job;
    const DriveData *entry = listedEntry(drive);
    job.listedDrive = entry && entry->isSystem() == 0;
    job.mountPath = drive;
    // A chosen folder is never formatted; anything else must pass the guard, in the job, since
    // it reads the mount table and sysfs.
    job.format = format != 0 && !(entry && entry->isSystem() == 1);
    job.keptPaths = {QStringLiteral("/"), AppPaths().dataDir, QCoreApplication::applicationDirPath()};
    job.kind
        = platform::fileSystemFor(QString::fromStdString(m_request.systemInfo.filingSystems.filingSystem));
    m_formatPending = true;
    emit sgShowFormatWait();
    m_formatWatcher.setFuture(QtConcurrent::run([this, job] { return formatDrive(job); }));
}

QString Drive::formatRefusal(FormatJob *job) const
{
    const QString &drive = job->mountPath;
    if (!job->listedDrive)
        return tr("%1 is not a listed drive.").arg(drive);
    const platform::MountedVolume volume = m_provider.volumeAt(drive);
    if (volume.device.isEmpty() || volume.readOnly)
        return tr("%1 is not a writable USB stick or SD card.").arg(drive);
    // The mount table's text may name another device than the one mounted here; only a block
    // device standing for the device number under the mount path is formatted.
    const std::optional<platform::FileIdentity> mounted = m_provider.identity(drive);
    if (!mounted || !m_provider.isMountedFrom(volume.device, drive))
        return tr("The device mounted at %1 cannot be told.").arg(drive);
    const QStringList disks = m_provider.disksOf(mounted->device);
    if (disks.isEmpty())
        return tr("The disk of %1 cannot be told.").arg(drive);
    if (!m_provider.onRemovableDisks(mounted->device))
        return tr("%1 is not a writable USB stick or SD card.").arg(drive);
    // A disk that cannot be told might be the target's: the format is refused.
    for (const QString &kept : std::as_const(job->keptPaths)) {
        const QStringList keptDisks = m_provider.disksHolding(kept);
        if (keptDisks.isEmpty())
            return tr("The disk that holds %1 cannot be told.").arg(kept);
        for (const QString &disk : keptDisks) {
            if (disks.contains(disk))
                return tr("%1 lies on the disk that holds %2.").arg(drive, kept);
        }
    }
    job->device = volume.device;
    job->label = volume.label;
    return {};
}

FormatOutcome Drive::formatDrive(FormatJob job) const
{
    FormatOutcome outcome;
    outcome.mountPath = job.mountPath;
    if (job.format) {
        outcome.refusal = formatRefusal(&job);
        if (!outcome.refusal.isEmpty())
            return outcome;
        std::cout << "formattig drive ........" << qPrintable(job.device) << std::endl;
        const platform::FormatResult result
            = formatter.format(job.device, job.mountPath, job.kind, job.label);
        std::cout << "format completed drive ........" << qPrintable(job.mountPath) << std::endl;
        outcome.formatted = result.ok;
        outcome.error = result.ok ? QString() : result.error;
        if (!result.ok)
            return outcome;
        // The volume may come back under another path; take it from the mount table anew.
        outcome.mountPath.clear();
        for (const platform::MountedVolume &v : m_provider.removableVolumes()) {
            if (v.device == job.device)
                outcome.mountPath = v.rootPath;
        }
    }
    // Free space now, not when the drive was first listed: it may have been formatted or
    // written to since. Read here, since a slow drive must not hold the window.
    if (job.listedDrive && !outcome.mountPath.isEmpty())
        outcome.bytesFree = m_provider.volumeAt(outcome.mountPath).bytesFree;
    return outcome;
}

void Drive::finishFormatDrive()
{
    m_formatPending = false;
    emit sgHideFormatWait();
    const FormatOutcome outcome = m_formatWatcher.result();
    if (!outcome.refusal.isEmpty()) {
        writeLog(appLogFile(), QStringLiteral("Format refused: "),
            m_drive + QStringLiteral(": ") + outcome.refusal);
        emit showMessageBox(m_messages.formatRefused + QLatin1Char('\n') + outcome.refusal);
        return;
    }
    if (!outcome.error.isEmpty()) {
        writeLog(appLogFile(), QStringLiteral("Format failed: "), outcome.error);
        emit showMessageBox(m_messages.formatFailed + QLatin1Char('\n') + outcome.error);
        return;
    }
    if (outcome.formatted) {
        const QString &mounted = outcome.mountPath;
        if (DriveData *entry = listedEntry(m_drive); entry && !mounted.isEmpty()) {
            entry->setDriveletter(mounted);
            for (QString &path : m_drivePaths) {
                if (path == m_drive)
                    path = mounted;
            }
        }
        m_drive = mounted;
    }

    const TrackMap tracks = transferMap();
    qDebug() << "Selected Drive" << m_drive;
    std::cout << "trackMap....." << tracks.size() << std::endl;
    qint64 total = 0;
    for (const track &t : tracks)
        total += t.filesize;
    transferDetail detail = m_request;
    if (const DriveData *entry = listedEntry(m_drive)) {
        detail.ignoreSpaceLimit = entry->isSystem() == 1;
        detail.availableSpace = detail.ignoreSpaceLimit ? total + 1 : outcome.bytesFree;
    }
    detail.destination = m_drive;
    detail.overwriteall = m_overwriteall != 0;
    detail.overwritenewer = m_overwritenewer != 0;
    detail.overwritequality = m_overwritequality != 0;
    if (m_drive.isEmpty() || detail.availableSpace == 0) {
        qDebug() << "Drive Not Selected";
        emit showMessageBox(m_messages.noDriveSelected);
        return;
    }
    m_transferDone = 0;
    m_transferTotal = int(tracks.size());
    emit sgShowTransferProgress();
    m_transferWatcher.setFuture(QtConcurrent::run(
        &ffmpeghandler::transferTracks, &m_transferHandler, tracks, detail, QList<track>()));
}
