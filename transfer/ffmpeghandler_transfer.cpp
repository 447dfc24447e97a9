#include "ffmpeghandler.h"

#include "applog.h"
#include "drivenames.h"
#include "ffmpeghandler_p.h"
#include "filecopy.h"
#include "kivodb.h"
#include "m3ufile.h"
#include "transcodenames.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

// Where one track goes, settled before any file is touched.
struct Planned {
    track t;
    QString folder;  // the track folder on the target
    QString folderName;
    QString playlistFile;
    QString cover;
};

// What the work ahead of the copies found for one track.
struct Prepared {
    enum Kind { Copy, Transcoded, Failed, Cancelled };
    Kind kind = Failed;
    QString path;  // the file to copy
    QString error;
    qint64 size = -1;  // of the file to copy
};

Planned plan(const TransferRun &run, const track &t)
{
    Planned item;
    item.t = t;
    QString name = t.isVideo ? QStringLiteral("Videos") : t.albumname.trimmed();
    if (!t.playlist.isEmpty()) {
        name = t.playlist;
        item.playlistFile
            = run.mediaRoot + QLatin1Char('/') + drivePlaylistFileName(t.playlist, run.nameUnits);
    }
    item.folderName = driveFolderName(name, run.nameUnits);
    item.folder = run.mediaRoot + QLatin1Char('/') + item.folderName;
    if (!t.albumname.contains(QLatin1String("Unknown")))
        item.cover = t.cover;
    return item;
}

void writePlaylist(TransferRun &run, const M3uFile &playlist)
{
    // None of its files reached the drive this time: what an earlier run wrote is kept.
    if (playlist.entries() == 0 && QFileInfo::exists(playlist.path()))
        return;
    QString error;
    if (playlist.write(&error))
        return;
    const QString name = QFileInfo(playlist.path()).fileName();
    writeLog(appLogFile(),
        QStringLiteral("Playlist not written: ") + playlist.path() + QStringLiteral(": ") + error);
    run.report.failures << name + QStringLiteral(": ") + error;
}

}  // namespace

TransferReport ffmpeghandler::transferTracks(
    const TrackMap &tracks, const transferDetail &detail, QList<track> list)
{
    TransferRun run(detail);
    for (const track &t : tracks)
        list << t;

    QString root = QDir::cleanPath(detail.destination);
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    run.transferRoot = root;
    const SystemInfo &system = detail.systemInfo;
    run.nameUnits = nameUnitsOn(root.isEmpty() ? QStringLiteral("/") : root);
    run.mediaRoot = root + QLatin1Char('/')
        + fatSafeName(system.vehicle + QStringLiteral(" Media"), QStringLiteral("Media"), run.nameUnits);
    run.transcodeRoot = kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media");
    run.volume = detail.destination.isEmpty()
        ? 0
        : platform::volumeIdOf(root.isEmpty() ? QStringLiteral("/") : root);
    run.maxFileSize = platform::maxFileSizeOn(root);
    // What a killed or unplugged earlier transfer left half-written; only one transfer runs at a
    // time, so no file of this process is being written there now.
    if (run.volume != 0)
        platform::removeStaleTemporaries(run.mediaRoot, platform::OwnTemporaries::Stale);
    run.systemCodecs = loadSystemInfo(QString::fromStdString(system.name));
    for (const AudioCodec &codec : std::as_const(run.systemCodecs))
        run.playableCodecs.insert(QString::fromStdString(codec.name));
    const QString codec = QString::fromStdString(system.audio.codec);
    const QString extension = QString::fromStdString(system.audio.extension);

    QList<Planned> items;
    items.reserve(list.size());
    for (const track &t : std::as_const(list)) {
        items << plan(run, t);
        if (!items.constLast().playlistFile.isEmpty())
            ++run.playlistEntriesLeft[items.constLast().playlistFile.toCaseFolded()];
    }

    // Probes and transcodes run ahead on their own pool (this job already holds a thread of the
    // global one); the copies below take their results strictly in the walk's order.
    const auto prepare = [this, &run, codec, extension](const Planned &item) {
        if (run.stop.stopped())
            return Prepared{Prepared::Cancelled, {}, {}};
        const QString &source = item.t.filepath;
        const QFileInfo info(source);
        if (!info.isFile())
            return Prepared{Prepared::Failed, {}, tr("the file is no longer there")};
        if (item.t.isVideo || run.playableCodecs.contains(audioCodecOf(source)))
            return Prepared{Prepared::Copy, source, {}, info.size()};
        // Cached under the library, named on the computer's own terms, not the target's.
        QString nameError;
        const QString base = TranscodeNames::claim(run.transcodeRoot,
            driveFolderName(item.t.playlist.isEmpty() ? item.t.albumname.trimmed() : item.t.playlist,
                NameUnits::Utf8Bytes),
            transcodeTitle(item.t), source, &nameError);
        if (base.isEmpty())
            return Prepared{Prepared::Failed, {}, tr("it cannot be converted (%1)").arg(nameError)};
        const TranscodeResult made
            = fileTrancodinMethod(source, base, codec, extension, run.systemCodecs, run.stop, &run.tools);
        if (made.ok())
            return Prepared{Prepared::Transcoded, made.path, {}, QFileInfo(made.path).size()};
        if (made.cancelled)
            return Prepared{Prepared::Cancelled, {}, {}};
        return Prepared{Prepared::Failed, {},
            tr("it cannot be converted to a format the car plays (%1)").arg(made.error)};
    };
    QThreadPool pool;
    pool.setMaxThreadCount(parallelJobs > 0 ? parallelJobs : QThread::idealThreadCount());
    const int ahead = 2 * pool.maxThreadCount();
    QList<QFuture<Prepared>> futures;
    futures.reserve(items.size());

    bool walked = true;
    if (run.volume == 0) {
        endRun(run, detail.ignoreSpaceLimit ? TransferReport::FolderGone : TransferReport::DriveRemoved, {},
            tr("it is no longer there"));
        walked = false;
    } else if (!items.isEmpty()) {
        // The media folder is made once, in a target that must be there: a chosen folder that
        // vanished is reported, never made again.
        platform::CopyOutcome made = platform::makeFolder(run.mediaRoot);
        if (made.ok())
            made = platform::writableFolder(run.mediaRoot);
        if (!made.ok()) {
            endRun(run,
                made.error == platform::CopyOutcome::ReadOnly ? TransferReport::ReadOnly
                    : made.error == platform::CopyOutcome::TargetGone
                    ? (detail.ignoreSpaceLimit ? TransferReport::FolderGone : TransferReport::DriveRemoved)
                    : TransferReport::WriteError,
                {}, made.message);
            walked = false;
        }
    }
    for (int i = 0; walked && i < items.size(); ++i) {
        if (run.stop.stopped()) {
            walked = false;
            break;
        }
        while (futures.size() < items.size() && futures.size() <= i + ahead) {
            const Planned &next = items.at(futures.size());
            if (!next.cover.isEmpty() && !run.artRequested.contains(next.cover)
                && !QFileInfo::exists(next.folder + QStringLiteral("/Folder.png"))) {
                run.artRequested.insert(next.cover);
                run.albumArt.insert(
                    next.cover, QtConcurrent::run(&pool, &ffmpeghandler::albumArtPng, next.cover));
            }
            futures << QtConcurrent::run(&pool, prepare, next);
        }
        const Planned &item = items.at(i);
        const Prepared prepared = futures.at(i).result();
        futures[i] = {};
        if (prepared.kind == Prepared::Cancelled) {
            walked = false;
            break;
        }
        const QString playlistKey = item.playlistFile.toCaseFolded();
        // A playlist is begun once per run, so coming back to it later never loses its entries.
        run.playlist = nullptr;
        if (!item.playlistFile.isEmpty()) {
            auto it = run.playlists.find(playlistKey);
            if (it == run.playlists.end())
                it = run.playlists.insert(playlistKey, M3uFile(item.playlistFile));
            run.playlist = &it.value();
        }
        run.playlistFolder = item.folderName;
        run.currentCoverPath = item.cover;
        run.sourceSize = prepared.size;
        run.converting = prepared.kind == Prepared::Transcoded;
        const QString sourceName = QFileInfo(item.t.filepath).fileName();
        switch (prepared.kind) {
        case Prepared::Copy:
            copyToUsb(run, prepared.path, item.folder);
            break;
        case Prepared::Transcoded:
            OnProcessOutputReady(run, prepared.path, item.folder,
                transcodeTitle(item.t) + QLatin1Char('.') + QFileInfo(prepared.path).suffix());
            break;
        default:
            UnableToProcess(run, sourceName, prepared.error);
            break;
        }
        run.playlist = nullptr;
        // The playlist's file replaces the old one only once every entry of this run is handled;
        // a run that ends before leaves the old file as it was.
        if (!item.playlistFile.isEmpty() && --run.playlistEntriesLeft[playlistKey] == 0
            && run.report.stop == TransferReport::Completed)
            writePlaylist(run, run.playlists.take(playlistKey));
    }
    run.sourceSize = -1;
    if (!walked && run.report.stop == TransferReport::Completed)
        run.report.stop = TransferReport::Cancelled;
    // Work still running ahead of the copies is not wanted any more.
    run.stop.raise();
    pool.waitForDone();

    writeLog(appLogFile(), QStringLiteral("Copying to USB.. Completed"));
    emit sgTransferFinished(run.report);
    return run.report;
}
