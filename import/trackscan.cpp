#include "track_data.h"
#include "track_data_p.h"

#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "taglibbuilder.h"
#include "videometadata.h"

#include <QDirIterator>
#include <QTime>
#include <QtConcurrent>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

// Library copies live below this folder; the scan never offers them a second time.
const QString kLibraryFolder = QStringLiteral("/Corvane Zorad Urizaderi/");
// iTunes' own media folder belongs to the iTunes import.
const QString kItunesMediaFolder = QStringLiteral("/iTunes/iTunes Media/");
// Smaller media files are sounds and snippets, not tracks.
constexpr qint64 kMinimumTrackBytes = 102400;
// Files read ahead together on the thread pool. Big enough to keep every core busy, small enough
// that little is read in vain after a stop request.
constexpr int kChunkSize = 96;

void printTimeLine(const char *label)
{
    const QByteArray line
        = QByteArray(label) + QTime::currentTime().toString(Qt::TextDate).toLatin1() + QByteArray("\n");
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
}

bool isUrl(const QString &entry)
{
    return entry.contains(QLatin1String("://"));
}

void logSkipped(const QString &why, const QString &path)
{
    writeLog(appLogFile(), QStringLiteral("Scan skipped ") + why + QStringLiteral(": "), path);
}

// One media file the walk accepted, or one playlist entry. The slow part (protection test, tags,
// a video's length and thumbnail) is read on the thread pool; tracks are then built one by one in
// walk order, so keys and ids follow the walk whatever order the reads finished in.
struct ScanJob {
    QString path;  // the absolute path in the tree; the entry text for a playlist entry
    QFileInfo info;
    QString playlistName;  // trimmed
    bool fromPlaylist = false;
    bool isVideo = false;
    bool isAudio = false;
    bool isLocal = true;

    bool isProtected = false;
    bool tagsRead = false;
    tagInfo tags;
    bool videoRead = false;
    track video{};
};

// Whether a playlist entry is taken at all, once it is known not to be protected.
bool entryWanted(const ScanJob &job)
{
    return job.isLocal && job.info.size() >= kMinimumTrackBytes && (job.isAudio || job.isVideo);
}

}  // namespace

TrackMap track_data::scanFolder(const QDir &folder)
{
    trackdata::SharedState &shared = trackdata::state();
    clearScanTrackMap();
    trackdata::resetAlbumMemos();
    AppPaths paths;
    paths.resetFolderAlbumCounts();
    protectedFileList.clear();
    printTimeLine("Start Time.....");

    kivoDB store;
    std::vector<ScanJob> jobs;
    jobs.reserve(kChunkSize);
    QList<track> repoRows;

    // Reads the pending jobs on the pool, then builds their tracks in walk order and caches them.
    auto processJobs = [&]() {
        if (jobs.empty())
            return;
        QtConcurrent::blockingMap(jobs, [this](ScanJob &job) {
            if (!job.isLocal)
                return;
            job.isProtected = isProtectedFile(job.path);
            if (job.isProtected || (job.fromPlaylist && !entryWanted(job)))
                return;
            job.tagsRead = readFileTags(job.tags, job.path);
            if (job.tagsRead && job.isVideo) {
                job.video = trackdata::videoReader().readVideoInfo(job.info.filePath(), 1);
                job.videoRead = true;
            }
        });
        for (ScanJob &job : jobs) {
            if (job.isProtected) {
                protectedFileList.append(job.path);
                writeLog(appLogFile(), QStringLiteral("Protected media file: "), job.path);
                continue;
            }
            if (job.fromPlaylist && !entryWanted(job)) {
                if (!job.isLocal)
                    logSkipped(QStringLiteral("a playlist entry that is no local file"), job.path);
                else if (!job.info.exists())
                    logSkipped(QStringLiteral("a playlist entry whose file is missing"), job.path);
                else if (!job.isAudio && !job.isVideo)
                    logSkipped(QStringLiteral("a playlist entry that is no media file"), job.path);
                else
                    logSkipped(QStringLiteral("a playlist entry too small to be a track"), job.path);
                continue;
            }
            if (!job.tagsRead)
                continue;  // the tag reader has logged why
            track t = paths.clearTrack(track{});
            t.filepath = job.path;
            t.originalPath = job.path;
            BuildOptions options;
            options.video = job.videoRead ? &job.video : nullptr;
            options.repoBatch = &repoRows;
            buildTrackWith(shared.nextTrackKey, t, job.tags, job.info, job.fromPlaylist, job.playlistName,
                job.isVideo, job.isAudio, options);
        }
        jobs.clear();
        if (Database::storeIsOpen()) {
            for (const track &row : std::as_const(repoRows))
                store.saveToRepo(row);
        }
        repoRows.clear();
    };
    auto addJob = [&](ScanJob job) {
        jobs.push_back(std::move(job));
        if (int(jobs.size()) >= kChunkSize)
            processJobs();
    };

    const QString root = folder.absolutePath();
    if (!folder.exists())
        logSkipped(QStringLiteral("a folder that does not exist"), root);
    // Links to folders are listed but never followed, so a link loop cannot trap the walk.
    QDirIterator it(root, QDirIterator::Subdirectories);
    while (!cancelSearch && it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = info.fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QString path = info.absoluteFilePath();
        if (info.isDir()) {
            if (!info.isSymLink() && (!info.isReadable() || !info.isExecutable()))
                logSkipped(QStringLiteral("a folder that cannot be read"), path);
            continue;
        }
        const QString suffix = info.suffix().toLower();
        const bool audio = isAudioFile(suffix);
        const bool video = isVideoFile(suffix);
        if (audio || video) {
            if (path.contains(kLibraryFolder, Qt::CaseInsensitive))
                continue;
            if (info.size() <= kMinimumTrackBytes) {
                if (info.isSymLink() && !info.exists())
                    logSkipped(QStringLiteral("a link that leads nowhere"), path);
                else
                    logSkipped(QStringLiteral("a media file too small to be a track"), path);
                continue;
            }
            if (path.contains(kItunesMediaFolder, Qt::CaseInsensitive))
                continue;
            ScanJob job;
            job.path = path;
            job.info = info;
            job.isAudio = audio;
            job.isVideo = video;
            addJob(std::move(job));
        } else if (isPlaylistFile(suffix)) {
            if (path.contains(kLibraryFolder, Qt::CaseInsensitive))
                continue;
            const QStringList entries = trackdata::tagBuilder().readPlaylistFile(info);
            if (entries.isEmpty()) {
                logSkipped(QStringLiteral("a playlist without entries it can read"), path);
                continue;
            }
            QString playlistName = name;
            playlistName.remove(QLatin1Char('.') + suffix, Qt::CaseSensitive);
            playlistName = playlistName.trimmed();
            // A playlist is read to its end even when a stop request comes meanwhile.
            for (const QString &entry : entries) {
                ScanJob job;
                job.path = entry;
                job.fromPlaylist = true;
                job.playlistName = playlistName;
                job.isLocal = !isUrl(entry);
                if (job.isLocal)
                    job.info = QFileInfo(entry);
                const QString entrySuffix = QFileInfo(entry).suffix().toLower();
                job.isAudio = isAudioFile(entrySuffix);
                job.isVideo = job.isAudio ? false : isVideoFile(entrySuffix);
                addJob(std::move(job));
            }
        }
    }
    // What was found before a stop request is still built and cached.
    processJobs();

    printTimeLine("end search and insertion time...");
    TrackMap result = paths.assignTrackArtwork(scanTrackMap(), true);
    {
        QMutexLocker lock(&shared.mutex);
        shared.scanTracks = result;
    }
    return result;
}
