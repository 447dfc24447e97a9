#include "track_data.h"
#include "track_data_p.h"

#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "mediaprobe.h"
#include "taglibbuilder.h"
#include "textorder.h"
#include "videometadata.h"

#include <QCollator>
#include <QDirIterator>
#include <QMutex>
#include <QThread>
#include <QThreadPool>
#include <QTime>
#include <QWaitCondition>
#include <QtConcurrent>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Library copies live below this folder; the scan never offers them a second time.
const QString kLibraryFolder = QStringLiteral("/Corvane Zorad Urizaderi/");
// iTunes' own media folder belongs to the iTunes import.
const QString kItunesMediaFolder = QStringLiteral("/iTunes/iTunes Media/");
// Smaller media files are sounds and snippets, not tracks.
constexpr qint64 kMinimumTrackBytes = 102400;
// Files read ahead together on the thread pool: enough to keep every core busy, few enough that
// little is read in vain after a stop request.
constexpr size_t kChunkSize = 128;
// Chunks read at once before the walk waits for the oldest: the pool has the next one at hand
// when a chunk's last files finish.
constexpr size_t kChunksReading = 2;
// Chunks that may wait for their album covers before the walk waits for them.
constexpr size_t kChunksAwaitingCovers = 4;

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

// One media file the walk accepted, or one playlist entry.
struct ScanJob {
    QString path;  // the absolute path in the tree; the entry text for a playlist entry
    QFileInfo info;
    QString playlistName;  // trimmed
    bool fromPlaylist = false;
    bool isVideo = false;
    bool isAudio = false;
    bool isLocal = true;
    // The first file the walk met in its folder since it left another folder.
    bool firstInFolder = false;

    // Filled on the thread pool.
    bool isProtected = false;
    bool tagsRead = false;
    tagInfo tags;
    bool videoRead = false;
    track video{};
    // Where the album's cover goes, worked out once the tags are read.
    QString coverPath;
    // Whether the file carries a picture, asked in the same parse as the tags while its album's
    // cover was neither given to a file nor in place.
    bool hasPicture = false;
    // The cover made from that picture by the first file of a folder, which nearly always is the
    // one chosen to give the album its cover. Kept only by the chosen file; another file chosen
    // is read again for it.
    TagLibBuilder::Cover cover;
    // A file with a video suffix in which ffprobe finds no stream at all: no video.
    bool noStreams = false;
    // The album cover this file is the first to be asked for, in walk order.
    QString coverTarget;
};

using Chunk = std::vector<ScanJob>;

// Whether a playlist entry is taken at all, once it is known not to be protected.
bool entryWanted(const ScanJob &job)
{
    return job.isLocal && job.info.size() >= kMinimumTrackBytes && (job.isAudio || job.isVideo);
}

// Stores built tracks in the repository cache on a thread of its own, batch after batch in the
// order they were built, so the walk never waits for the database. finish() returns once all
// are stored.
class RepoWriter
{
public:
    RepoWriter()
        : m_thread(QThread::create([this] { run(); }))
    {
        m_thread->start();
    }
    ~RepoWriter() { finish(); }
    RepoWriter(const RepoWriter &) = delete;
    RepoWriter &operator=(const RepoWriter &) = delete;

    void add(QList<track> rows)
    {
        if (rows.isEmpty())
            return;
        QMutexLocker lock(&m_mutex);
        m_queue.append(std::move(rows));
        m_wake.wakeOne();
    }

    void finish()
    {
        if (!m_thread)
            return;
        {
            QMutexLocker lock(&m_mutex);
            m_done = true;
            m_wake.wakeOne();
        }
        m_thread->wait();
        m_thread.reset();
    }

private:
    void run()
    {
        // The thread's own connection to the library file; closed when the thread ends.
        kivoDB store;
        for (;;) {
            QList<track> rows;
            {
                QMutexLocker lock(&m_mutex);
                while (m_queue.isEmpty() && !m_done)
                    m_wake.wait(&m_mutex);
                if (m_queue.isEmpty())
                    return;
                rows = m_queue.takeFirst();
            }
            if (!store.saveToRepoBatch(rows)) {
                // One bad row must not cost the others their place in the cache.
                for (const track &row : std::as_const(rows))
                    store.saveToRepo(row);
            }
        }
    }

    QMutex m_mutex;
    QWaitCondition m_wake;
    QList<QList<track>> m_queue;
    bool m_done = false;
    std::unique_ptr<QThread> m_thread;
};

}  // namespace

// Walks the tree on the scan's thread and reads the files on the thread pool, a chunk at a time,
// while the walk goes on; a few chunks are read at once, so the pool never waits for the walk.
// Once a chunk is read (oldest first), the first file of each album, in walk order, is chosen to
// give the album its cover, and those covers are written, mostly from the pictures the reads took,
// on a pool of their own (writing an image waits on the disk, not on a core). The chunk is then
// built one track after the other, in walk order, so keys, ids and the file that gives an album
// its picture follow the walk whatever order the reads finish in.
class track_data::FolderScan
{
public:
    explicit FolderScan(track_data &owner)
        : m_owner(owner)
    {
        m_coverPool.setMaxThreadCount(qMax(4, 2 * QThread::idealThreadCount()));
        if (Database::storeIsOpen())
            m_writer = std::make_unique<RepoWriter>();
    }
    ~FolderScan()
    {
        // After finish() nothing is in flight; should anything be (an exception on the way), no
        // pool thread may go on touching jobs freed here.
        for (const auto &pending : m_reading)
            pending->reading.waitForFinished();
        for (const auto &pending : m_extracting)
            pending->extraction.waitForFinished();
    }
    FolderScan(const FolderScan &) = delete;
    FolderScan &operator=(const FolderScan &) = delete;

    void add(ScanJob job)
    {
        m_filling.push_back(std::move(job));
        if (m_filling.size() >= kChunkSize) {
            startReading();
            step();
        }
    }

    // Reads and builds everything found so far, and waits until the repository cache holds it.
    void finish()
    {
        startReading();
        m_drain = true;
        step();
        if (m_writer)
            m_writer->finish();
    }

private:
    struct Pending {
        Chunk chunk;
        QFuture<void> reading;
        std::vector<ScanJob *> covers;
        QFuture<void> extraction;
    };

    void startReading()
    {
        if (m_filling.empty())
            return;
        auto pending = std::make_unique<Pending>();
        pending->chunk = std::move(m_filling);
        m_filling = Chunk();
        m_filling.reserve(kChunkSize);
        pending->reading = QtConcurrent::map(pending->chunk, [](ScanJob &job) { readAhead(job); });
        m_reading.push_back(std::move(pending));
    }

    // Moves the chunks on, oldest first: a read one has its covers claimed and written, one whose
    // covers are in place is built. Waits only while too many chunks are in flight (or at the end),
    // so the walk goes on while the pools work.
    void step()
    {
        while (!m_reading.empty()) {
            Pending &oldest = *m_reading.front();
            if (!oldest.reading.isFinished()) {
                if (!m_drain && m_reading.size() <= kChunksReading)
                    break;
                oldest.reading.waitForFinished();
            }
            claimCovers(oldest);
            if (!oldest.covers.empty()) {
                oldest.extraction = QtConcurrent::map(&m_coverPool, oldest.covers, [](ScanJob *job) {
                    if (job->cover.hasPicture)
                        trackdata::tagBuilder().writeCoverArt(job->coverTarget, job->cover, job->path);
                    else
                        trackdata::tagBuilder().extractCoverArt(job->coverTarget, job->path);
                    job->cover = TagLibBuilder::Cover();
                });
            }
            m_extracting.push_back(std::move(m_reading.front()));
            m_reading.pop_front();
        }
        buildReady();
    }

    // Builds, oldest first, the chunks whose covers are in place. Writing an image may wait on
    // the disk, so a few chunks may wait for theirs while the walk goes on.
    void buildReady()
    {
        while (!m_extracting.empty()) {
            Pending &oldest = *m_extracting.front();
            if (!oldest.extraction.isFinished()) {
                if (!m_drain && m_extracting.size() <= kChunksAwaitingCovers)
                    return;
                oldest.extraction.waitForFinished();
            }
            build(oldest.chunk);
            m_extracting.pop_front();
        }
    }

    // One parse of the file gives its protection, tags and audio properties and, where the album
    // may take its cover from it, its embedded picture.
    static void readAhead(ScanJob &job)
    {
        if (!job.isLocal)
            return;
        if (job.fromPlaylist && !entryWanted(job)) {
            job.isProtected = isProtectedFile(job.path);
            return;
        }
        trackdata::FileExtras extras;
        if (!job.fromPlaylist && !job.isVideo) {
            extras.wantsPicture = [&job](const tagInfo &tags) {
                const QString album = toQString(tags.album).trimmed();
                if (album.startsWith(QLatin1String("Unknown")))
                    return false;
                job.coverPath = trackdata::coverImagePath(album, job.info.fileName());
                return !trackdata::coverExtractionClaimed(job.coverPath) && !QFileInfo::exists(job.coverPath);
            };
        }
        job.tagsRead = readFileWith(job.tags, job.path, &extras);
        job.isProtected = extras.isProtected;
        job.hasPicture = !extras.picture.isEmpty();
        // Decoding and encoding are work for a core, done here beside the reading; the cover
        // pool only writes.
        if (job.hasPicture && job.firstInFolder)
            job.cover = TagLibBuilder::makeCover(extras.picture);
        if (job.tagsRead && job.isVideo) {
            // Where ffprobe cannot run, the video is taken as before and measured as it can be.
            const ProbedMedia probed = MediaProbe::probe(job.path, false);
            job.noStreams = probed.answered && probed.streams == 0;
            if (job.noStreams)
                return;
            job.video = trackdata::videoReader().readVideoInfo(job.info.filePath(), 1);
            job.videoRead = true;
        }
    }

    // The first file of each album, in walk order, that carries a picture gives the album its
    // cover; track building then finds the image in place and no other file of the album is read
    // for it.
    void claimCovers(Pending &pending)
    {
        for (ScanJob &job : pending.chunk) {
            if (job.fromPlaylist || job.isVideo || job.isProtected || !job.tagsRead || !job.hasPicture)
                continue;
            const QString &target = job.coverPath;
            if (trackdata::claimCoverExtraction(target)) {
                if (!m_artworkFolderMade) {
                    const QString folder = QFileInfo(target).absolutePath();
                    if (!QDir().mkpath(folder))
                        writeLog(appLogFile(), QStringLiteral("Cannot create the artwork folder: "), folder);
                    m_artworkFolderMade = true;
                }
                job.coverTarget = target;
                pending.covers.push_back(&job);
            } else {
                job.cover = TagLibBuilder::Cover();
            }
        }
    }

    void build(Chunk &chunk)
    {
        QList<track> rows;
        for (ScanJob &job : chunk) {
            if (job.isProtected) {
                ++m_owner.skipped.protectedFiles;
                m_owner.protectedFileList.append(job.path);
                writeLog(appLogFile(), QStringLiteral("Protected media file: "), job.path);
                continue;
            }
            if (job.fromPlaylist && !entryWanted(job)) {
                ++(job.isLocal && job.info.exists() && (job.isAudio || job.isVideo)
                        ? m_owner.skipped.tooSmall
                        : m_owner.skipped.missingEntries);
                if (!job.isLocal && isWindowsAbsolutePath(job.path))
                    logSkipped(QStringLiteral("a playlist entry whose file is missing"), job.path);
                else if (!job.isLocal)
                    logSkipped(QStringLiteral("a playlist entry that is no local file"), job.path);
                else if (!job.info.exists())
                    logSkipped(QStringLiteral("a playlist entry whose file is missing"), job.path);
                else if (!job.isAudio && !job.isVideo)
                    logSkipped(QStringLiteral("a playlist entry that is no media file"), job.path);
                else
                    logSkipped(QStringLiteral("a playlist entry too small to be a track"), job.path);
                continue;
            }
            if (!job.tagsRead) {
                ++m_owner.skipped.unreadable;
                continue;  // the tag reader has logged why
            }
            if (job.noStreams) {
                ++m_owner.skipped.unreadable;
                logSkipped(QStringLiteral("a video file in which ffprobe finds no stream"), job.path);
                continue;
            }
            track t = m_paths.clearTrack(track{});
            t.filepath = job.path;
            t.originalPath = job.path;
            BuildOptions options;
            options.video = job.videoRead ? &job.video : nullptr;
            options.repoBatch = &rows;
            options.albumCovers = &m_albumCovers;
            m_owner.buildTrackWith(trackdata::state().nextTrackKey, t, job.tags, job.info, job.fromPlaylist,
                job.playlistName, job.isVideo, job.isAudio, options);
        }
        if (m_writer)
            m_writer->add(std::move(rows));
    }

    track_data &m_owner;
    const AppPaths m_paths;
    QThreadPool m_coverPool;
    AlbumCoverMemo m_albumCovers;
    std::unique_ptr<RepoWriter> m_writer;
    Chunk m_filling;
    std::deque<std::unique_ptr<Pending>> m_reading;  // their files being read; oldest first
    // Read, covers being extracted, not built yet; oldest first.
    std::deque<std::unique_ptr<Pending>> m_extracting;
    bool m_drain = false;
    bool m_artworkFolderMade = false;
};

TrackMap track_data::scanFolder(const QDir &folder)
{
    clearScanTrackMap();
    trackdata::resetAlbumMemos();
    AppPaths paths;
    paths.resetFolderAlbumCounts();
    protectedFileList.clear();
    skipped = ScanSkips();
    stopped = false;
    printTimeLine("Start Time.....");

    FolderScan scan(*this);
    const QString root = folder.absolutePath();
    QString lastFolder;
    if (!folder.exists())
        logSkipped(QStringLiteral("a folder that does not exist"), root);
    // Each folder is walked in name order (numbers in natural order), its subfolders where their
    // names fall, as a person sees it listed: the scan's numbering, and so the library's ids and
    // the order on the car's drive, follow it. The file system keeps no such order.
    const QCollator collator = nameCollator();
    const auto listed = [&collator](const QString &dir) {
        std::vector<std::pair<QCollatorSortKey, QFileInfo>> entries;
        // Links to folders are listed but never followed, so a link loop cannot trap the walk;
        // links that lead nowhere (or to themselves) are not listed at all.
        QDirIterator it(dir);
        while (it.hasNext()) {
            it.next();
            const QString name = it.fileName();
            if (name != QLatin1String(".") && name != QLatin1String(".."))
                entries.emplace_back(collator.sortKey(name), it.fileInfo());
        }
        std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
            const int order = a.first.compare(b.first);
            return order != 0 ? order < 0 : a.second.fileName() < b.second.fileName();
        });
        QFileInfoList infos;
        infos.reserve(qsizetype(entries.size()));
        for (auto &entry : entries)
            infos << std::move(entry.second);
        return infos;
    };
    std::vector<std::pair<QFileInfoList, qsizetype>> walk;
    walk.emplace_back(listed(root), 0);
    while (!cancelSearch && !walk.empty()) {
        if (walk.back().second == walk.back().first.size()) {
            walk.pop_back();
            continue;
        }
        const QFileInfo info = walk.back().first.at(walk.back().second++);
        const QString name = info.fileName();
        const QString path = info.absoluteFilePath();
        if (info.isDir()) {
            if (!info.isSymLink() && (!info.isReadable() || !info.isExecutable())) {
                ++skipped.unreadableFolders;
                logSkipped(QStringLiteral("a folder that cannot be read"), path);
            } else if (!info.isSymLink()) {
                walk.emplace_back(listed(path), 0);
            }
            continue;
        }
        const QString suffix = info.suffix().toLower();
        const bool audio = isAudioFile(suffix);
        const bool video = isVideoFile(suffix);
        if (audio || video) {
            if (path.contains(kLibraryFolder, Qt::CaseInsensitive))
                continue;
            if (info.size() <= kMinimumTrackBytes) {
                ++skipped.tooSmall;
                logSkipped(QStringLiteral("a media file too small to be a track"), path);
                continue;
            }
            if (path.contains(kItunesMediaFolder, Qt::CaseInsensitive))
                continue;
            ScanJob job;
            const QStringView folderPath = QStringView(path).left(path.lastIndexOf(QLatin1Char('/')));
            job.firstInFolder = folderPath != lastFolder;
            if (job.firstInFolder)
                lastFolder = folderPath.toString();
            job.path = path;
            job.info = info;
            job.isAudio = audio;
            job.isVideo = video;
            scan.add(std::move(job));
        } else if (isVideoSuffix(suffix)) {
            if (!path.contains(kLibraryFolder, Qt::CaseInsensitive)) {
                ++skipped.videosNotPlayed;
                logSkipped(QStringLiteral("a video, as the car plays none"), path);
            }
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
                // A drive or network share of a Windows machine is nowhere on this one.
                job.isLocal = !isUrl(entry) && !isWindowsAbsolutePath(entry);
                if (job.isLocal)
                    job.info = QFileInfo(entry);
                const QString entrySuffix = QFileInfo(entry).suffix().toLower();
                job.isAudio = isAudioFile(entrySuffix);
                job.isVideo = job.isAudio ? false : isVideoFile(entrySuffix);
                scan.add(std::move(job));
            }
        }
    }
    stopped = cancelSearch;
    // What was found before a stop request is still built and cached.
    scan.finish();

    printTimeLine("end search and insertion time...");
    TrackMap result = finishCovers(scanTrackMap(), true);
    {
        QMutexLocker lock(&trackdata::state().mutex);
        trackdata::state().scanTracks = result;
    }
    return result;
}
