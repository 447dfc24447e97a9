#include "ffmpeghandler.h"

#include "applog.h"
#include "drivenames.h"
#include "ffmpeghandler_p.h"
#include "filecopy.h"
#include "kivodb.h"
#include "m3ufile.h"
#include "taglibbuilder.h"
#include "textorder.h"
#include "transcodenames.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// Where one track goes, settled before any file is touched.
struct Planned {
    track t;
    QString folder;  // the track folder on the target
    QString folderName;
    QString playlistFile;
    QString cover;
    FolderOrder::Kind order = FolderOrder::Album;  // how the folder's entries are played
    // An album track's place, from the tags of its file: the copy carries the same tags, so a later
    // run that finds it on the target reads the same numbers.
    TagLibBuilder::PlayNumbers numbers;
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

// The walk in play order. Head units list folders by name and play a folder's files in the order
// they stand in it, so folders go by name ("Album 2" before "Album 10"), an album's files by disc,
// track number and file name, and a playlist's entries in the playlist's own order, after any
// album files that share their folder. Each folder's files are one stretch of the walk.
QList<Planned> orderWalk(const QList<Planned> &items)
{
    const QCollator collator = nameCollator();
    struct Key {
        QCollatorSortKey folderName;
        QString folder;  // case-folded: FAT takes both spellings for one folder
        bool entry;  // a playlist's entry
        QCollatorSortKey playlist;
        qint16 disc;
        qint16 number;
        QCollatorSortKey file;
    };
    std::vector<Key> keys;
    keys.reserve(std::size_t(items.size()));
    for (const Planned &item : items)
        keys.push_back({collator.sortKey(item.folderName), item.folder.toCaseFolded(),
            !item.t.playlist.isEmpty(), collator.sortKey(item.t.playlist), item.numbers.disc,
            item.numbers.track, collator.sortKey(QFileInfo(item.t.filepath).fileName())});
    std::vector<int> order(std::size_t(items.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int x, int y) {
        const Key &a = keys[std::size_t(x)], &b = keys[std::size_t(y)];
        if (const int c = a.folderName.compare(b.folderName))
            return c < 0;
        if (a.folder != b.folder)
            return a.folder < b.folder;
        if (a.entry != b.entry)
            return b.entry;
        // Entries of one playlist keep their order.
        if (a.entry)
            return a.playlist.compare(b.playlist) < 0;
        if (a.disc != b.disc)
            return a.disc < b.disc;
        if (a.number != b.number)
            return a.number < b.number;
        return a.file.compare(b.file) < 0;
    });
    QList<Planned> walk;
    walk.reserve(items.size());
    for (const int i : order)
        walk << items.at(i);
    // An album's folder merges earlier runs' files by their tags; one of a playlist's entries only
    // puts them last; one of videos alone goes by name.
    for (int begin = 0; begin < walk.size();) {
        int end = begin;
        bool album = false, entries = false;
        for (; end < walk.size()
             && keys[std::size_t(order[std::size_t(end)])].folder
                 == keys[std::size_t(order[std::size_t(begin)])].folder;
             ++end) {
            entries = entries || !walk.at(end).t.playlist.isEmpty();
            album = album || (walk.at(end).t.playlist.isEmpty() && !walk.at(end).t.isVideo);
        }
        const FolderOrder::Kind kind
            = album ? FolderOrder::Album : (entries ? FolderOrder::Playlist : FolderOrder::Names);
        for (; begin < end; ++begin)
            walk[begin].order = kind;
    }
    return walk;
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
    run.report.notices << name + QStringLiteral(": ")
            + ffmpeghandler::tr("the playlist could not be written (%1)").arg(error);
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
    run.nameUnits = nameUnitsOn(run.rootFolder());
    run.mediaRoot = root + QLatin1Char('/')
        + fatSafeName(system.vehicle + QStringLiteral(" Media"), QStringLiteral("Media"), run.nameUnits);
    run.transcodeRoot = kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media");
    run.volume = detail.destination.isEmpty() ? 0 : platform::volumeIdOf(run.rootFolder());
    run.maxFileSize = platform::maxFileSizeOn(root);
    run.keepsOrder = platform::keepsEntryOrder(run.rootFolder());
    run.rootOrder = FolderOrder(run.mediaRoot, FolderOrder::MediaRoot);
    run.fileSystem = std::make_unique<platform::FileSystemHold>(run.rootFolder());
    // What a killed or unplugged earlier transfer left half-written or half-arranged; only one
    // transfer runs at a time, so no file of this process is being written there now.
    if (run.volume != 0) {
        const FolderOrder::Recovery recovered = FolderOrder::recover(
            run.rootFolder(), [this](const QString &folder) { emit sgArranging(folder); });
        for (const QString &line : recovered.logLines)
            writeLog(appLogFile(), line);
        run.report.notices << recovered.notices;
        // Put back as they went out, into slots that may have been taken since. A record goes
        // only once its folder is in play order: a run killed before that leaves it to the next.
        for (const FolderOrder::Recovery::Mend &mend : recovered.restored) {
            run.unmended.insert(QDir::cleanPath(mend.folder.folder()).toCaseFolded(), mend);
            arrangeFolder(run, mend.folder);
            if (run.report.stop != TransferReport::Completed)
                break;
        }
        platform::removeStaleTemporaries(run.mediaRoot, platform::OwnTemporaries::Stale);
    }
    run.systemCodecs = loadSystemInfo(QString::fromStdString(system.name));
    for (const AudioCodec &codec : std::as_const(run.systemCodecs))
        run.playableCodecs.insert(QString::fromStdString(codec.name));
    const QString codec = QString::fromStdString(system.audio.codec);
    const QString extension = QString::fromStdString(system.audio.extension);

    // Probes and transcodes run ahead on their own pool (this job already holds a thread of the
    // global one); the copies below take their results strictly in the walk's order, waiting for
    // the next while later ones finish ahead, so files take their places in play order.
    QThreadPool pool;
    pool.setMaxThreadCount(parallelJobs > 0 ? parallelJobs : QThread::idealThreadCount());

    QList<Planned> items;
    items.reserve(list.size());
    for (const track &t : std::as_const(list)) {
        items << plan(run, t);
        if (!items.constLast().playlistFile.isEmpty())
            ++run.playlistEntriesLeft[items.constLast().playlistFile.toCaseFolded()];
    }
    QtConcurrent::blockingMap(&pool, items, [](Planned &item) {
        if (item.t.playlist.isEmpty() && !item.t.isVideo)
            item.numbers = TagLibBuilder::playNumbers(item.t.filepath);
    });
    items = orderWalk(items);

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
        // A folder is done once the walk leaves it.
        if (item.folder.toCaseFolded() != run.folderOrder.folder().toCaseFolded()) {
            arrangeFolder(run, run.folderOrder);
            // A drive found gone meanwhile is tried no more: the files left are not failures.
            if (run.report.stop != TransferReport::Completed) {
                walked = false;
                break;
            }
            run.folderOrder = FolderOrder(item.folder, item.order);
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
        run.disc = item.numbers.disc;
        run.trackNumber = item.numbers.track;
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
            run.playlistsDone << run.playlists.take(playlistKey);
    }
    run.sourceSize = -1;
    if (!walked && run.report.stop == TransferReport::Completed)
        run.report.stop = TransferReport::Cancelled;
    // Work still running ahead of the copies is not wanted any more.
    run.stop.raise();
    pool.waitForDone();
    finishRun(run);

    writeLog(appLogFile(), QStringLiteral("Copying to USB.. Completed"));
    emit sgTransferFinished(run.report);
    return run.report;
}

void ffmpeghandler::finishRun(TransferRun &run)
{
    const QString root = run.rootFolder();
    // A target that went away holds nothing more to write, nor does the disk now under its path;
    // one that went after the last file is told as gone, never as a transfer complete.
    if (run.volume == 0 || targetLost(run))
        return;
    arrangeFolder(run, run.folderOrder);
    if (targetLost(run))
        return;
    const QCollator collator = nameCollator();
    std::stable_sort(run.playlistsDone.begin(), run.playlistsDone.end(),
        [&collator](const M3uFile &a, const M3uFile &b) { return collator.compare(a.path(), b.path()) < 0; });
    for (const M3uFile &playlist : std::as_const(run.playlistsDone))
        writePlaylist(run, playlist);
    run.playlistsDone.clear();
    arrangeFolder(run, run.rootOrder);
    if (targetLost(run))
        return;

    // What the run wrote is on the device before the run says it ended: a stick pulled at the
    // end message would otherwise lose what the system still held back. Once, for every file.
    emit sgWritingToDrive();
    const QString where = QFileInfo(run.mediaRoot).isDir() ? run.mediaRoot : root;
    const platform::CopyOutcome flushed = flushTarget ? flushTarget(where) : run.fileSystem->flush();
    if (flushed.ok())
        return;
    writeLog(appLogFile(),
        QStringLiteral("Writing out to the drive failed: ") + where + QStringLiteral(": ") + flushed.message);
    writeFailed(run, flushed, false, run.mediaRoot, QFileInfo(where).fileName());
}

// The hidden folder an arrange goes through is made in the target's root, so no free slot is left
// among the media folder's entries.
bool ffmpeghandler::arrangeFolder(TransferRun &run, const FolderOrder &order)
{
    if (order.folder().isEmpty())
        return true;
    const QString key = QDir::cleanPath(order.folder()).toCaseFolded();
    // The records of a cut-short arrange go once the folder they name is in order.
    const auto release = [&run, &key] {
        const auto unmended = run.unmended.constFind(key);
        if (unmended == run.unmended.constEnd())
            return;
        for (const QString &line : FolderOrder::release(unmended->hidden))
            writeLog(appLogFile(), line);
        run.unmended.remove(key);
    };
    if (!run.keepsOrder) {
        release();
        return true;
    }
    FolderOrder layout = order;
    // A mend this run could not finish left its hidden folder, with the record that keeps the
    // folder's order: the arrange goes on in it rather than asking for another.
    if (const auto unmended = run.unmended.constFind(key);
        unmended != run.unmended.constEnd() && layout.goingOnIn().isEmpty())
        layout.goOnIn(unmended->folder.goingOnIn());
    const QString name = QFileInfo(layout.folder()).fileName();
    const FolderOrder::Outcome arranged
        = layout.arrange(run.rootFolder(), [this, &name] { emit sgArranging(name); });
    // What an earlier try of this run said of the folder's order no longer holds: the end message
    // says it once, as it stands last.
    for (const QString &notice : run.orderNotices.take(key))
        run.report.notices.removeOne(notice);
    if (!arranged.hiddenKept.isEmpty())
        writeLog(appLogFile(),
            QStringLiteral("Hidden folder not removed, the next transfer tries again: ")
                + arranged.hiddenKept);
    if (arranged.ok()) {
        if (arranged.moved)
            writeLog(appLogFile(), QStringLiteral("Put in play order: ") + layout.folder());
        release();
        // A stick pulled just after the arrange ends the run as one pulled during a copy does.
        return !targetLost(run);
    }
    writeLog(appLogFile(),
        QStringLiteral("Folder not put in play order: ") + layout.folder() + QStringLiteral(": ")
            + arranged.error.message
            + (arranged.parkedIn.isEmpty()
                    ? QString()
                    : QStringLiteral("; still in ") + arranged.parkedIn + QStringLiteral(": ")
                        + (arranged.parkedListed ? arranged.parked.join(QStringLiteral(", "))
                                                 : QStringLiteral("(not listed, the drive is gone)")))
            + (arranged.lost.isEmpty()
                    ? QString()
                    : QStringLiteral("; lost: ") + arranged.lost.join(QStringLiteral(", "))));
    // What happened to a folder is no file that failed: it stands apart from the count.
    QStringList notices;
    if (arranged.topFolderFull) {
        notices << name + QStringLiteral(": ")
                + tr("not in play order, as the top folder of the drive takes no more files or folders "
                     "(on a FAT16 drive it holds 512 entries at most, and a long name takes several); "
                     "remove a file or folder from the top of the drive and transfer again");
    } else if (arranged.tooFull) {
        notices << name + QStringLiteral(": ")
                + tr("not in play order, as the drive is too full to put it in order (%1); free some "
                     "room on the drive and transfer again")
                      .arg(arranged.error.message);
    } else if (arranged.parkedIn.isEmpty() && arranged.recordKept) {
        notices << name + QStringLiteral(": ")
                + tr("could not be put in play order (%1); the next transfer onto this drive tries again")
                      .arg(arranged.error.message);
    } else if (arranged.parkedIn.isEmpty()) {
        notices << name + QStringLiteral(": ")
                + tr("could not be put in play order (%1)").arg(arranged.error.message);
    } else if (!arranged.parkedListed) {
        notices << name + QStringLiteral(": ")
                + tr("files moved aside to put it in play order wait in the hidden folder “%1” on the "
                     "drive (%2); the next transfer onto this drive puts them back")
                      .arg(arranged.parkedIn, arranged.error.message);
    } else {
        const int parked = int(arranged.parked.size());
        notices << name + QStringLiteral(": ")
                + (parked == 1 ? tr("1 file waits") : tr("%1 files wait").arg(parked))
                + tr(" in the hidden folder “%1” on the drive (%2): %3; the next transfer onto this "
                     "drive puts them back")
                      .arg(arranged.parkedIn, arranged.error.message,
                          FolderOrder::namesShown(arranged.parked));
    }
    run.report.notices << notices;
    run.orderNotices.insert(key, notices);
    if (!arranged.lost.isEmpty())
        run.report.notices << name + QStringLiteral(": ")
                + tr("these files could not be put back and are no longer on the drive: %1; transfer "
                     "them again to bring them back")
                      .arg(FolderOrder::namesShown(arranged.lost));
    // A stick pulled meanwhile ends the run as one pulled during a copy does.
    targetLost(run);
    return false;
}

bool ffmpeghandler::targetLost(TransferRun &run)
{
    if (run.report.stop == TransferReport::DriveRemoved || run.report.stop == TransferReport::FolderGone)
        return true;
    if (platform::volumeIdOf(run.rootFolder()) == run.volume)
        return false;
    endRun(run, run.detail.ignoreSpaceLimit ? TransferReport::FolderGone : TransferReport::DriveRemoved, {},
        tr("it is no longer there"));
    return true;
}
