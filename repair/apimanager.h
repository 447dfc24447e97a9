#pragma once

#include "localtagsearch.h"
#include "repairsource.h"
#include "track.h"
#include "trackmerger.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QThread;
class QThreadPool;
class QTimer;

// What one run did, told once at its end (before the end marker).
struct RepairSummary {
    bool stopped = false;  // ended by cancelOptimization
    qint64 done = 0;  // tracks completed
    qint64 total = 0;  // tracks the run was given
    qint64 titles = 0;  // tracks whose title, artist, album or cover the run filled
    qint64 artists = 0;
    qint64 albums = 0;
    qint64 covers = 0;
    // Web hosts left alone after failing again and again, or asking for a longer pause than is waited.
    QStringList hostsGivenUp;
};
Q_DECLARE_METATYPE(RepairSummary)

// The repair run: fills the missing artists, albums, titles and covers of library tracks, folder by
// folder, from the local repository cache first and then from the web sources, gives every album
// one cover, and saves each track once: the repository row, the file's tags (only when they
// change), and `updateTrackToManager` for the controller to store.
//
// The run lives on a thread of its own, so neither the store nor the tag writes ever hold up the
// window: every public function may be called from any thread and returns at once, except
// stopOptimisation, which returns when the run has ended. Signals reach receivers on other threads
// queued. The store is reached through that thread's own connection.
//
// Within a folder, tracks go in ascending id; a folder is repaired, merged, given covers and saved
// before the next is taken. Without a web source configured (or when offline) only the local
// source is asked.
class ApiManager : public QObject
{
    Q_OBJECT

public:
    // The web sources, made on the run's thread; an empty factory means the source is not there.
    struct Sources {
        RepairSource::Factory musicBrainz;
        RepairSource::Factory discogs;
        RepairSource::Factory fingerprint;
    };
    // Writes a track's tags into its file; TagLibBuilder::saveTags unless replaced. Called on the
    // thread pool, for several files at once.
    using TagWriter = std::function<bool(const track &)>;

    // The process's instance, made with the web sources of webSources() on the first call, which must
    // come from the main thread; it is ended when the application object goes.
    static ApiManager *create();
    // The web sources the process's instance asks, as the settings and environment configure
    // them (WebServiceConfig): MusicBrainz and Discogs unless switched off, the fingerprint
    // look-up only with an AcoustID client key.
    static Sources webSources();

    explicit ApiManager(Sources sources = Sources());
    // Ends the run as stopOptimisation does.
    ~ApiManager() override;

    // Whether the web may be asked: the network's reachability (online, or unknown where no
    // backend tells), unless a check was set. The controller uses the same test.
    static bool isOnline();
    // Replaces the online test (tests); an empty function restores the default.
    static void setOnlineCheck(std::function<bool()> check);

    // How long one source request may take before it counts as answered with nothing (ms).
    void setRequestTimeout(int milliseconds);
    void setTagWriter(TagWriter writer);

    // True once stopOptimisation has ended the run's thread; every later call is ignored.
    bool isStopped() const { return m_stopped.load(); }

public slots:
    // false pauses the run at the next track (a request in flight still ends); true resumes it.
    void setDoUpdate(bool doUpdate);
    // Repairs these tracks (keyed by id), after the ones already handed over. Videos and playlist
    // entries are passed over: the album of a playlist entry is the playlist's name.
    void startOptimisation(const TrackMap &tracks);
    // Repairs the chosen tracks instead of the ones still waiting. The folder being repaired is
    // finished and saved first.
    void startOptimisationSelected(const TrackMap &chosen);
    // Ends the run: the folder being repaired is finished from the local source alone and saved,
    // nothing else is asked, then the end marker is sent. Also ends a pause.
    void cancelOptimization();
    // These files left the library: nothing of them is stored, written or handed back any more.
    void forgetFiles(const QStringList &paths);
    // For closing: cancelOptimization, then returns when the folder is saved, its tags written, the
    // end marker sent (when a run was going) and the run's thread ended.
    void stopOptimisation();

signals:
    // A saved track whose values changed, for the controller to store; once at the end of a run a
    // track with id -1 (the end marker).
    void updateTrackToManager(track trackobj);
    // Tracks done of the run's total; at most every 100 ms, and at once when all are done.
    void UpdateProgress(qint64 done, qint64 total);
    // Once at the end of every run, just before the end marker.
    void repairEnded(RepairSummary summary);

private:
    enum class Phase { Idle, Repairing, Covers };
    struct Pending {
        quint64 serial = 0;
        qint8 source = 0;
        RepairSource::Request request = RepairSource::Request::Track;
        track item;
    };

    // Runs `work` on the run's thread, after the calls posted before it.
    template <class Work> void post(Work work);

    // apimanager_run.cpp: taking folders and tracks.
    void onThreadStarted();
    void addInput(const TrackMap &tracks, bool replace);
    void scheduleStep();
    void step();
    void beginOptimisation();
    void searchAhead(const QList<qint64> &ids);
    void processNextTrack();
    void route(qint8 from, const track &t, bool tagUpdated);
    void storeResult(const track &t);
    void finishOptimisation();
    void keepTitlesDistinct();
    void endFolder();
    void endRun();
    void onCancel();
    void shutdown();
    bool cancelling() const;
    qint64 remaining() const;
    void reportProgress(bool now);

    // apimanager_sources.cpp: web requests, their answers and time-outs.
    RepairSource *source(qint8 id) const;
    qint8 nextSource(qint8 from, const track &t) const;
    bool mayAskWeb() const;
    void startApi(qint8 sourceId, RepairSource::Request request, const track &item);
    void onAnswer(quint64 serial, const RepairSource::Answer &answer);
    void onRequestTimeout();
    void abandonRequest();
    void handleAnswer(const Pending &pending, const RepairSource::Answer &answer);
    void handleFingerprintAnswer(const track &asked, const RepairSource::Answer &answer);
    track adopt(const track &asked, const track &answered) const;

    // apimanager_covers.cpp: one cover per album.
    void makeAlbumBatches();
    void applyCover();
    QString localCover();
    QString mostVotedCoverUrl() const;
    void coverdownloaded(const track &answered);
    void resolveCoverPath(const QString &path);

    // apimanager_save.cpp
    void saveBatch();
    void flushRepository();
    void writeTags(const QList<track> &tracks);
    void waitForTagWrites();
    bool isForgotten(const QString &path) const;
    void countFilled(const track &original, const track &saved);

    // Set on the calling thread, read by the run.
    std::atomic_bool m_doUpdate{true};
    std::atomic_bool m_cancelHint{false};
    std::atomic_bool m_stopped{false};
    std::unique_ptr<QThread> m_thread;
    QThread *m_home = nullptr;

    // The run's own state: touched only on its thread.
    Sources m_factories;
    std::unique_ptr<RepairSource> m_musicBrainz;
    std::unique_ptr<RepairSource> m_discogs;
    std::unique_ptr<RepairSource> m_fingerprint;
    LocalTagSearch m_localSearch;
    kivoDB m_store;
    TagWriter m_tagWriter;
    QTimer *m_requestTimer = nullptr;
    int m_requestTimeoutMs = 60000;

    Phase m_phase = Phase::Idle;
    bool m_runActive = false;
    bool m_cancelling = false;
    bool m_shutdownRequested = false;
    bool m_stepPosted = false;
    TrackMap m_inputTracks;  // handed over, not yet taken into a folder
    TrackMap m_folderQueue;  // the current folder's tracks still to be repaired
    TrackMap m_originals;  // the current folder's tracks as handed over
    TrackMap m_results;  // the current folder's finished tracks
    CandidateMap m_candidates;  // finished tracks again, plus what was proposed for them
    bool m_foreignCandidates = false;  // a source proposed candidates in this folder
    QList<TrackMap> m_albumBatches;  // merged results waiting for their cover, one map per album
    TrackMap m_albumBatch;  // the album being given its cover
    bool m_discogsCoverTried = false;
    bool m_fingerprintCoverTried = false;
    std::optional<Pending> m_pending;
    quint64 m_serial = 0;
    qint64 m_done = 0;
    QElapsedTimer m_sinceProgress;
    qint64 m_lastReportedDone = -1;
    // The folders of m_inputTracks, so a folder is taken without walking all the input.
    QHash<QString, QList<qint64>> m_inputTracksByFolder;
    // Tracks of m_inputTracks the local source has answered for already.
    QHash<qint64, track> m_searched;
    // Saved tracks whose repository rows are still to be written, and their folders.
    QList<track> m_repoPending;
    QSet<QString> m_repoPendingFolders;
    // Tag writes still running on the thread pool, oldest first, with the files they write.
    struct TagWrite {
        QFuture<void> done;
        QSet<QString> files;
    };
    std::deque<TagWrite> m_tagWrites;
    // The tag writes' own threads: whole-file rewrites must not take the pool that scans,
    // transfers and model builds share.
    std::unique_ptr<QThreadPool> m_tagPool;
    mutable QMutex m_forgottenMutex;
    QSet<QString> m_forgotten;
    RepairSummary m_summary;
};

template <class Work> void ApiManager::post(Work work)
{
    // Once stopped, the object is back on its home thread and calls still queued do nothing.
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work)]() mutable {
            if (!m_stopped.load())
                work();
        },
        Qt::QueuedConnection);
}
