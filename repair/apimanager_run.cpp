#include "apimanager.h"

#include "apppaths.h"
#include "hosthealth.h"
#include "repairfields.h"

#include <QThread>
#include <QTimer>

namespace {

// How long the run works before the thread's queue gets a turn, so pause, cancel and new tracks
// never wait for a whole folder.
constexpr qint64 kSliceMs = 20;
constexpr qint64 kProgressMs = 100;
// Tracks the local source reads ahead at once.
constexpr qsizetype kSearchAhead = 256;

}  // namespace

void ApiManager::onThreadStarted()
{
    if (m_factories.musicBrainz)
        m_musicBrainz = m_factories.musicBrainz();
    if (m_factories.discogs)
        m_discogs = m_factories.discogs();
    if (m_factories.fingerprint)
        m_fingerprint = m_factories.fingerprint();
    m_factories = Sources();
}

void ApiManager::addInput(const TrackMap &tracks, bool replace)
{
    {
        // A file removed and added again is repaired like any other.
        QMutexLocker lock(&m_forgottenMutex);
        for (const track &t : tracks)
            m_forgotten.remove(t.filepath);
    }
    if (!m_runActive) {
        // A new run: every host is asked again and nothing a source kept is taken for new.
        m_summary = RepairSummary();
        HostHealth::reset();
        for (RepairSource *web : {m_musicBrainz.get(), m_discogs.get(), m_fingerprint.get()}) {
            if (web)
                web->beginRun();
        }
    }
    if (replace) {
        m_inputTracks.clear();
        m_inputTracksByFolder.clear();
        m_searched.clear();
    }
    for (const track &t : tracks) {
        // A video's cover is its picture and a playlist entry's album the playlist's name: neither
        // is an album's. Tracks of the folder being repaired are saved with it.
        if (t.id < 1 || t.isVideo || !t.playlist.isEmpty() || m_originals.contains(t.id))
            continue;
        const auto known = m_inputTracks.constFind(t.id);
        if (known != m_inputTracks.cend())
            m_inputTracksByFolder[known->folderLocation].removeOne(t.id);
        m_searched.remove(t.id);
        m_inputTracks.insert(t.id, t);
        m_inputTracksByFolder[t.folderLocation].append(t.id);
    }
    // Every start ends with the end marker, even one that brought nothing to do.
    m_runActive = true;
    m_summary.total = m_done + remaining();
    scheduleStep();
}

void ApiManager::scheduleStep()
{
    if (m_stepPosted || m_stopped.load())
        return;
    m_stepPosted = true;
    post([this] { step(); });
}

// The run as a loop over small steps, never as calls nested per track: answers from the web come
// back as queued calls, and a long local stretch yields to the queue now and then.
void ApiManager::step()
{
    m_stepPosted = false;
    QElapsedTimer slice;
    slice.start();
    while (!m_pending) {
        // Paused, unless the run is being ended.
        if (!m_doUpdate.load() && !cancelling() && !m_shutdownRequested)
            break;
        if (m_phase == Phase::Repairing) {
            if (!m_folderQueue.isEmpty())
                processNextTrack();
            else
                finishOptimisation();
        } else if (m_phase == Phase::Covers) {
            applyCover();
        } else if (!m_inputTracks.isEmpty()) {
            beginOptimisation();
        } else {
            if (m_runActive)
                endRun();
            if (m_shutdownRequested)
                shutdown();
            return;
        }
        if (slice.elapsed() >= kSliceMs) {
            scheduleStep();
            break;
        }
    }
    reportProgress(false);
}

void ApiManager::beginOptimisation()
{
    const QString folder = m_inputTracks.first().folderLocation;
    const QList<qint64> ids = m_inputTracksByFolder.take(folder);
    m_folderQueue.clear();
    m_originals.clear();
    m_results.clear();
    m_candidates.clear();
    m_foreignCandidates = false;
    m_albumBatches.clear();
    m_albumBatch.clear();

    QList<qint64> unsearched;
    for (const qint64 id : ids) {
        if (!m_searched.contains(id))
            unsearched.append(id);
    }
    if (!unsearched.isEmpty())
        searchAhead(unsearched);
    for (const qint64 id : ids) {
        m_originals.insert(id, m_inputTracks.take(id));
        track t = m_searched.take(id);
        t.reservedShort3 = clampCount(ids.size());
        m_folderQueue.insert(id, t);
    }
    m_phase = Phase::Repairing;
}

// The local source answers for the folder being taken and for the folders after it, up to
// kSearchAhead tracks in all, at once: the repository is read with one prepared query. Nothing the
// run does before a folder is taken changes what the repository knows about it (its rows change
// only when it is saved).
void ApiManager::searchAhead(const QList<qint64> &ids)
{
    QList<track> tracks;
    QSet<QString> folders;
    for (const qint64 id : ids) {
        tracks.append(m_inputTracks.value(id));
        folders.insert(tracks.last().folderLocation);
    }
    for (auto it = m_inputTracks.cbegin(); it != m_inputTracks.cend() && tracks.size() < kSearchAhead; ++it) {
        if (folders.contains(it->folderLocation))
            continue;
        folders.insert(it->folderLocation);
        for (const qint64 id : m_inputTracksByFolder.value(it->folderLocation)) {
            if (!m_searched.contains(id))
                tracks.append(m_inputTracks.value(id));
        }
    }
    for (const QString &folder : std::as_const(folders)) {
        if (m_repoPendingFolders.contains(folder)) {
            flushRepository();
            break;
        }
    }
    for (const track &t : m_localSearch.searchTags(tracks))
        m_searched.insert(t.id, t);
}

void ApiManager::processNextTrack()
{
    track t = m_folderQueue.take(m_folderQueue.firstKey());
    route(LocalTagSearch::kSourceId, m_localSearch.withCachedCover(t), false);
}

void ApiManager::route(qint8 from, const track &t, bool tagUpdated)
{
    if (tagUpdated || isComplete(t)) {
        storeResult(t);
        return;
    }
    const qint8 next = mayAskWeb() ? nextSource(from, t) : qint8(0);
    if (next == 0)
        storeResult(t);  // saved with what it has
    else
        startApi(next, RepairSource::Request::Track, t);
}

void ApiManager::storeResult(const track &t)
{
    m_candidates.insert(t.id, t);
    m_results.insert(t.id, t);
    ++m_done;
}

void ApiManager::finishOptimisation()
{
    if (m_foreignCandidates) {
        TrackMerger merger;
        TrackMap locals = m_results;
        CandidateMap candidates = m_candidates;
        m_results = merger.matchResults(locals, candidates);
    } else {
        // Each result is its own only candidate, and a track merged with itself stays as it is:
        // of the match only the track number read from the file name is left.
        const AppPaths paths;
        for (track &t : m_results) {
            if (t.tracknumber <= 0)
                t.tracknumber = clampCount(paths.splitLeadingNumber(t.filename));
        }
    }
    keepTitlesDistinct();
    makeAlbumBatches();
    m_phase = Phase::Covers;
}

// Within one album a recording names one track: a title the repair found for two tracks of the
// same album, or for one whose album already has a track of that title, is taken back from each.
void ApiManager::keepTitlesDistinct()
{
    QHash<QString, int> holders;  // album and title, compared loosely, to the tracks that hold it
    const auto keyOf = [](const track &t) {
        return comparableName(t.albumname) + QLatin1Char('\n') + comparableName(t.trackname);
    };
    for (const track &t : std::as_const(m_results)) {
        if (isRealText(t.albumname) && isRealTitle(t.trackname))
            ++holders[keyOf(t)];
    }
    for (track &t : m_results) {
        const track original = m_originals.value(t.id, t);
        const bool filled = !isRealTitle(original.trackname) && isRealTitle(t.trackname);
        if (filled && isRealText(t.albumname) && holders.value(keyOf(t)) > 1) {
            t.trackname = original.trackname;
            t.hasTitle = false;
        }
    }
}

void ApiManager::endFolder()
{
    m_folderQueue.clear();
    m_originals.clear();
    m_results.clear();
    m_candidates.clear();
    m_albumBatches.clear();
    m_albumBatch.clear();
    m_phase = Phase::Idle;
    reportProgress(true);
}

void ApiManager::endRun()
{
    flushRepository();
    waitForTagWrites();
    reportProgress(true);
    m_summary.done = m_done;
    m_summary.stopped = m_cancelling;
    m_summary.total = qMax(m_summary.total, m_done);
    m_summary.hostsGivenUp = HostHealth::givenUp();
    emit repairEnded(m_summary);
    track marker;
    marker.id = -1;
    emit updateTrackToManager(marker);
    m_runActive = false;
    m_cancelling = false;
    m_done = 0;
    m_lastReportedDone = -1;
}

void ApiManager::onCancel()
{
    m_cancelHint = false;
    if (m_runActive || m_phase != Phase::Idle) {
        // The folder in hand is finished from what it has; what waits is dropped.
        m_cancelling = true;
        m_inputTracks.clear();
        m_inputTracksByFolder.clear();
        m_searched.clear();
        abandonRequest();
    }
    scheduleStep();
}

void ApiManager::shutdown()
{
    flushRepository();
    waitForTagWrites();
    m_requestTimer->stop();
    m_musicBrainz.reset();
    m_discogs.reset();
    m_fingerprint.reset();
    m_stopped = true;
    // Back to the thread that made it, which deletes it once this thread has ended.
    moveToThread(m_home);
    QThread::currentThread()->quit();
}

bool ApiManager::cancelling() const
{
    return m_cancelling || m_cancelHint.load();
}

qint64 ApiManager::remaining() const
{
    const bool trackInFlight = m_pending && m_pending->request != RepairSource::Request::Cover;
    return m_inputTracks.size() + m_folderQueue.size() + (trackInFlight ? 1 : 0);
}

void ApiManager::reportProgress(bool now)
{
    if (!m_runActive || m_done == m_lastReportedDone)
        return;
    const qint64 total = m_done + remaining();
    if (!now && m_done < total && m_sinceProgress.isValid() && m_sinceProgress.elapsed() < kProgressMs)
        return;
    m_lastReportedDone = m_done;
    m_sinceProgress.start();
    emit UpdateProgress(m_done, total);
}
