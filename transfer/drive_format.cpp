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
        emit showMessageBox(m_messages.diskRemoved);
        return;
    }
    // One format or transfer at a time: a second press while one runs is not a new request.
    if (isBusy())
        return;
    m_systemInfo = ::systemInfo();
    FormatJob job;
    const DriveData *entry = listedEntry(drive);
    // A chosen folder is never formatted; anything else must pass the guard.
    if (format != 0 && !(entry && entry->isSystem() == 1)) {
        const QString refusal = formatRefusal(drive, &job);
        if (!refusal.isEmpty()) {
            writeLog(
                appLogFile(), QStringLiteral("Format refused: "), drive + QStringLiteral(": ") + refusal);
            emit showMessageBox(m_messages.formatRefused + QLatin1Char('\n') + refusal);
            return;
        }
        job.format = true;
    }
    m_formatJob = job;
    emit sgShowFormatWait();
    m_formatWatcher.setFuture(QtConcurrent::run([this, job] { return formatDrive(job); }));
}

QString Drive::formatRefusal(const QString &drive, FormatJob *job) const
{
    const DriveData *entry = listedEntry(drive);
    if (!entry || entry->isSystem() != 0)
        return tr("%1 is not a listed drive.").arg(drive);
    const platform::MountedVolume volume = m_provider.volumeAt(drive);
    if (volume.device.isEmpty() || volume.readOnly || !m_provider.isRemovable(volume.device))
        return tr("%1 is not a writable USB stick or SD card.").arg(drive);
    const QString disk = m_provider.diskOf(volume.device);
    if (disk.isEmpty())
        return tr("The disk of %1 cannot be told.").arg(drive);
    for (const QString &kept :
        {QStringLiteral("/"), AppPaths().dataDir, QCoreApplication::applicationDirPath()}) {
        if (m_provider.diskOf(m_provider.volumeHolding(kept).device) == disk)
            return tr("%1 lies on the disk that holds %2.").arg(drive, kept);
    }
    job->device = volume.device;
    job->mountPath = drive;
    job->label = volume.label;
    job->kind = platform::fileSystemFor(
        m_systemInfo ? QString::fromStdString(m_systemInfo->filingSystems.filingSystem) : QString());
    return {};
}

FormatOutcome Drive::formatDrive(const FormatJob &job) const
{
    FormatOutcome outcome;
    if (!job.format)
        return outcome;
    std::cout << "formattig drive ........" << qPrintable(job.device) << std::endl;
    const platform::FormatResult result = formatter.format(job.device, job.mountPath, job.kind, job.label);
    std::cout << "format completed drive ........" << qPrintable(job.mountPath) << std::endl;
    outcome.formatted = result.ok;
    outcome.error = result.ok ? QString() : result.error;
    outcome.mountPath = result.mountPath;
    return outcome;
}

void Drive::finishFormatDrive()
{
    emit sgHideFormatWait();
    const FormatOutcome outcome = m_formatWatcher.result();
    if (!outcome.error.isEmpty()) {
        writeLog(appLogFile(), QStringLiteral("Format failed: "), outcome.error);
        emit showMessageBox(m_messages.formatFailed + QLatin1Char('\n') + outcome.error);
        return;
    }
    if (outcome.formatted) {
        // The volume may come back under another path; take it from the mount table anew.
        QString mounted;
        for (const platform::MountedVolume &v : m_provider.removableVolumes()) {
            if (v.device == m_formatJob.device)
                mounted = v.rootPath;
        }
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
    transferDetail detail;
    if (const DriveData *entry = listedEntry(m_drive)) {
        detail.ignoreSpaceLimit = entry->isSystem() == 1;
        // Free space now, not when the drive was first listed: it may have been formatted or
        // written to since.
        detail.availableSpace = detail.ignoreSpaceLimit ? total + 1 : m_provider.volumeAt(m_drive).bytesFree;
    }
    detail.destination = m_drive;
    detail.overwriteall = m_overwriteall != 0;
    detail.overwritenewer = m_overwritenewer != 0;
    detail.overwritequality = m_overwritequality != 0;
    detail.systemInfo = m_systemInfo;
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
