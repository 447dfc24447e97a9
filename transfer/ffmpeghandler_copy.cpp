#include "ffmpeghandler.h"

#include "applog.h"
#include "drivenames.h"
#include "ffmpeghandler_p.h"
#include "filecopy.h"
#include "m3ufile.h"
#include "removal.h"
#include "taglibbuilder.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace {

struct Claim {
    QString path;
    bool again = false;  // this run has put this very source there already
};

// The name this run gives `source` in `folder`: its own, unless this run already put another
// file there under that name (FAT does not tell letter cases apart), then "name (2).mp3", ...
Claim claimTarget(TransferRun &run, const QString &folder, const QString &name, const QString &source)
{
    const QString suffix = nameSuffix(name);
    Claim claim;
    uniqueName(name.left(name.size() - suffix.size()), suffix, run.nameUnits, [&](const QString &candidate) {
        claim.path = folder + QLatin1Char('/') + candidate;
        const QString key = claim.path.toCaseFolded();
        const auto it = run.written.constFind(key);
        if (it == run.written.constEnd()) {
            run.written.insert(key, source);
            return true;
        }
        claim.again = it.value() == source;
        return claim.again;
    });
    return claim;
}

// Whether a file already on the target gives way to the source, by the run's options. `target`
// is the one look at the file already there; the options need nothing more of it.
bool replaces(const transferDetail &detail, const QString &source, const QFileInfo &target)
{
    if (detail.overwriteall)
        return true;
    if (detail.overwritequality)
        return ffmpeghandler::readAudioBitrate(target.filePath()) < ffmpeghandler::readAudioBitrate(source);
    // FAT keeps modification times to two seconds.
    if (detail.overwritenewer)
        return target.lastModified().secsTo(QFileInfo(source).lastModified()) > 2;
    return false;
}

// Whether a name-class error is this file's name being refused, not the folder refusing writes:
// a plain name is tried in the same folder. Only runs once a write has failed.
bool nameRefusedIn(const QString &folder)
{
    const QString probe = platform::temporaryPath(folder, QStringLiteral("probe"));
    QFile file(probe);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    platform::removeFile(probe);
    return true;
}

}  // namespace

bool ffmpeghandler::createFolder(const QString &folder)
{
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

QByteArray ffmpeghandler::albumArtPng(const QString &coverImage)
{
    QFile file(coverImage);
    if (coverImage.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    // The car shows the same cover the library does, made the same way.
    return TagLibBuilder::makeCover(file.readAll()).png;
}

bool ffmpeghandler::saveAlbumArt(const QString &coverImage, const QString &targetImage)
{
    return !QFileInfo::exists(targetImage) && writeAlbumArt(albumArtPng(coverImage), targetImage);
}

bool ffmpeghandler::writeAlbumArt(const QByteArray &png, const QString &targetImage)
{
    if (png.isEmpty())
        return false;
    const QString temporary
        = platform::temporaryPath(QFileInfo(targetImage).absolutePath(), QStringLiteral("part"));
    QFile file(temporary);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.flush();
    file.close();
    if (!written || !platform::replaceFile(temporary, targetImage).ok()) {
        platform::removeFile(temporary);
        return false;
    }
    return true;
}

bool ffmpeghandler::copyToUsb(
    TransferRun &run, const QString &source, const QString &folder, const QString &name)
{
    const QString fileName = fatSafeName(
        name.isEmpty() ? QFileInfo(source).fileName() : name, QStringLiteral("Track"), run.nameUnits);
    const Claim claim = claimTarget(run, folder, fileName, source);
    const QString &target = claim.path;
    const QString targetName = QFileInfo(target).fileName();
    // Each folder is made once per run and then taken as there. It is made in the media folder,
    // which the run made at its start: a vanished media folder is reported, never made again.
    if (!run.foldersMade.contains(folder)) {
        bool isNew = false;
        const platform::CopyOutcome made = platform::makeFolder(folder, &isNew);
        if (!made.ok()) {
            run.written.remove(target.toCaseFolded());
            writeFailed(run, made, true, folder, targetName);
            return false;
        }
        run.foldersMade.insert(folder);
        if (isNew)
            run.foldersNew.insert(folder);
    }
    const bool newFolder = run.foldersNew.contains(folder);
    // The one look at the target this file needs: whether it is there, its size and time. In a
    // folder this run made, only a file this run wrote can be there.
    const QFileInfo existing(target);
    const bool present = newFolder ? claim.again : existing.exists();

    // A file this run put there already, or one that stays by the options, is kept as it is.
    const bool keep = present && (claim.again || !replaces(run.detail, source, existing));
    const qint64 size
        = keep && claim.again ? -1 : (run.sourceSize >= 0 ? run.sourceSize : QFileInfo(source).size());
    if (keep) {
        ++run.report.kept;
    } else {
        const qint64 credit = present ? existing.size() : 0;
        if (run.maxFileSize >= 0 && size > run.maxFileSize) {
            UnableToProcess(
                run, targetName, tr("the file is larger than the drive's file system allows (4 GB)"));
            return false;
        }
        if (size >= run.spaceRemaining + credit && !run.detail.ignoreSpaceLimit) {
            endRun(run, TransferReport::DiskFull, targetName, tr("there is no room left on the drive"));
            return false;
        }
        writeLog(appLogFile(), QStringLiteral("Copying to USB.. ") + target);
        // Into a hidden name first: a drive pulled or full mid-copy never leaves a cut-off song
        // under the real name, and a replaced file goes only once its successor is complete.
        const QString temporary = platform::temporaryPath(folder, QStringLiteral("part"));
        platform::CopyOutcome outcome = platform::copyFile(source, temporary, run.stop.check());
        // A failed create of the hidden name is never about the file's own name.
        bool creating = false;
        // A failed copy has removed its own file; a failed rename leaves it to remove here.
        if (outcome.ok()) {
            outcome = platform::replaceFile(temporary, target);
            creating = true;
            if (!outcome.ok())
                platform::removeFile(temporary);
        }
        if (outcome.error == platform::CopyOutcome::Cancelled) {
            // Stopped inside the file: nothing of it is left, and the walk ends at its next look.
            run.written.remove(target.toCaseFolded());
            if (run.report.stop == TransferReport::Completed)
                run.report.stop = TransferReport::Cancelled;
            return false;
        }
        if (!outcome.ok()) {
            run.written.remove(target.toCaseFolded());
            writeFailed(run, outcome, creating, folder, targetName);
            return false;
        }
        run.spaceRemaining += credit - size;
        ++run.report.copied;
        if (present)
            ++run.report.replaced;
        else if (run.converting)
            ++run.report.transcoded;
    }

    const QString art = folder + QStringLiteral("/Folder.png");
    if (!source.endsWith(QLatin1String(".mp4")) && !run.artDone.contains(folder)
        && ((!newFolder && QFileInfo::exists(art))
            || writeAlbumArt(run.albumArt.contains(run.currentCoverPath)
                    ? run.albumArt.take(run.currentCoverPath).result()
                    : albumArtPng(run.currentCoverPath),
                art)))
        run.artDone.insert(folder);
    if (run.playlist)
        run.playlist->appendM3uEntry(run.playlistFolder + QLatin1Char('/') + targetName);
    // A file kept from an earlier run is taken for this one only when it is as large: otherwise
    // its own tags tell its place, as they will when a later run finds it there.
    if (folder.compare(run.folderOrder.folder(), Qt::CaseInsensitive) == 0)
        run.folderOrder.place({targetName, run.disc, run.trackNumber,
            !keep || claim.again || (!newFolder && existing.size() == size)});
    ++run.report.handled;
    emit incrementProgress(QStringLiteral("Copying ") + targetName);
    return true;
}

void ffmpeghandler::writeFailed(TransferRun &run, const platform::CopyOutcome &outcome, bool creating,
    const QString &folder, const QString &targetName)
{
    using platform::CopyOutcome;
    switch (outcome.error) {
    case CopyOutcome::NoSpace:
        endRun(run, TransferReport::DiskFull, targetName, outcome.message);
        return;
    case CopyOutcome::ReadOnly:
        endRun(run, TransferReport::ReadOnly, targetName, outcome.message);
        return;
    case CopyOutcome::SourceUnreadable:
        UnableToProcess(run, targetName, tr("it cannot be read (%1)").arg(outcome.message));
        return;
    case CopyOutcome::TooLarge:
        UnableToProcess(
            run, targetName, tr("the drive does not take a file this large (%1)").arg(outcome.message));
        return;
    case CopyOutcome::TargetGone:
        if (run.volume == 0 || platform::volumeIdOf(run.rootFolder()) != run.volume) {
            endRun(run,
                run.detail.ignoreSpaceLimit ? TransferReport::FolderGone : TransferReport::DriveRemoved,
                targetName, outcome.message);
            return;
        }
        if (!QFileInfo(run.mediaRoot).isDir()) {
            endRun(run, TransferReport::FolderGone, targetName, outcome.message);
            return;
        }
        break;
    case CopyOutcome::BadName:
        // Only this file's name is refused when a plain name is taken in the same place.
        if (creating && nameRefusedIn(run.foldersMade.contains(folder) ? folder : run.mediaRoot)) {
            // A folder not made yet is the name refused; the file's own name was never tried.
            UnableToProcess(run, targetName,
                run.foldersMade.contains(folder)
                    ? tr("the drive does not accept the name (%1)").arg(outcome.message)
                    : tr("the drive does not accept the folder name \"%1\" (%2)")
                          .arg(QFileInfo(folder).fileName(), outcome.message));
            return;
        }
        break;
    default:
        break;
    }
    endRun(run, TransferReport::WriteError, targetName, outcome.message);
}

bool ffmpeghandler::OnProcessOutputReady(
    TransferRun &run, const QString &transcoded, const QString &folder, const QString &name)
{
    emit sgFiletranscoded(QFileInfo(transcoded).fileName());
    return copyToUsb(run, transcoded, folder, name);
}

void ffmpeghandler::UnableToProcess(TransferRun &run, const QString &fileName, const QString &reason)
{
    qDebug() << "Unable to process this file.." << fileName << reason;
    writeLog(appLogFile(),
        QStringLiteral("Unable to process this file.. ") + fileName + QStringLiteral(": ") + reason);
    run.report.failures << fileName + QStringLiteral(": ") + reason;
    ++run.report.handled;
    emit incrementProgress(QStringLiteral("Skip File ") + fileName);
    emit sgFileFailed(fileName, reason);
}

void ffmpeghandler::endRun(
    TransferRun &run, TransferReport::Stop why, const QString &fileName, const QString &reason)
{
    run.stop.raise();
    if (run.report.stop == TransferReport::Completed) {
        run.report.stop = why;
        run.report.stopReason = reason;
        // A chosen folder that vanished is named itself; otherwise the media folder in it.
        run.report.stopPath = why == TransferReport::FolderGone && QFileInfo::exists(run.transferRoot)
            ? run.mediaRoot
            : run.transferRoot;
    }
    if (!fileName.isEmpty())
        run.report.failures << fileName + QStringLiteral(": ") + reason;
    if (why == TransferReport::DiskFull)
        emit sgDiskFull();
    else if (why == TransferReport::DriveRemoved || why == TransferReport::FolderGone)
        emit sgDriveRemoved();
    if (!fileName.isEmpty())
        writeLog(
            appLogFile(), QStringLiteral("Transfer stopped at ") + fileName + QStringLiteral(": ") + reason);
}
