#pragma once

#include "apppaths.h"
#include "combo.h"
#include "ffmpeghandler.h"
#include "messagehandler.h"
#include "track.h"
#include "track_data.h"
#include "transferstop.h"
#include "videoencoding.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

class QmlApplicationViewer;

class TrackDataModel;
class VideoOptimisationModel;
class ApiManager;
class StoreWriter;
struct RepairSummary;

// What the copy into the library did: the tracks now in the library (their `filepath` the library
// copy and their `id` the new row's) and a line for each file that could not be added.
struct CopyResult {
    QList<track> added;
    QStringList failures;
    bool cancelled = false;
    // The library as stored afterwards, read on the worker so the window never waits for it.
    TrackMap library;
    bool libraryLoaded = false;
};

// What a scan or an iTunes import hands back: the tracks found, the order the browser lists them
// in (album, disc, track number, title), those the library holds already, and what was left out.
struct ScanResult {
    TrackMap tracks;
    QList<qint64> order;
    QSet<qint64> inLibrary;
    ScanSkips skipped;
    bool stopped = false;
};

// The controller that serves the front end: it holds the library's track map, the media browser's
// map and the list models QML shows. Workers get copies and hand back results; only the main
// thread changes the maps and the models.
class manager : public QObject
{
    Q_OBJECT
public:
    // With `storeChecked` false the first load first checks the library file and sets up its
    // tables, off the window's thread; nothing is written to the file before that check passes.
    explicit manager(QObject *parent = nullptr, bool storeChecked = true);
    ~manager() override;

    enum DisplayType {
        DisplayMusic = 1,
        DisplayFolder = 2,
        DisplayPictures = 3,
        DisplayVideos = 4,
        DisplayItunes = 5
    };

    // Quality class of a bit rate in kbit/s.
    static qint16 bitrateClass(qint16 bitrate);

    // Reads the vehicle settings, publishes texts and models, loads the front end from `qmlFile`
    // and creates the vehicle selection on its root object. False when the front end cannot load.
    bool init(QmlApplicationViewer *viewer, const QString &qmlFile);
    void initContextProperties();

    // Copies each track's file (`originalPath`) to its planned place in the library folder
    // (`filepath`; its album's folder when that is the source itself) and stores each copy. Runs on a pool
    // thread: it reads only its arguments and the add's stop, which also ends a file's copy at its
    // next chunk.
    static CopyResult copyToLibrary(QList<track> tracks, const StopToken *stop,
        const std::function<void(int done, int total)> &progress = {});
    // Removes the library rows (and library copies) of the paths; returns the paths removed.
    static QStringList removeAll(const QStringList &paths);
    // "<library root>/<album folder>" for a track's album.
    static QString libraryFolderFor(const track &t);

    const TrackMap &library() const { return m_library; }
    const TrackMap &browseMap() const { return m_browseMap; }
    Combo *combo() const { return m_combo; }
    int displayType() const { return m_displayType; }
    // True from the start of a job until its result has been taken in on this thread.
    bool isSearching() const { return m_searching; }
    bool isCopying() const { return m_copying; }
    bool isRemoving() const { return m_removing; }
    // True from a load, search or library change until its models are shown.
    bool isLoading() const { return m_modelsPending; }
    // Runs on the loading thread before the library is read; tests hold the load with it.
    static inline std::function<void()> loadGate;

    const QList<QObject *> &artistModel() const { return m_artistModel; }
    const QList<QObject *> &albumModel() const { return m_albumModel; }
    const QList<QObject *> &trackModel() const { return m_trackModel; }
    const QList<QObject *> &playlistModel() const { return m_playlistModel; }
    const QList<QObject *> &podcastModel() const { return m_podcastModel; }
    const QList<QObject *> &audiobookModel() const { return m_audiobookModel; }
    const QList<QObject *> &videoModel() const { return m_videoModel; }
    const QList<QObject *> &browserModel() const { return m_browserModel; }
    // The tracks of the artist, album or playlist opened, as DetailedDataModel objects.
    const QList<QObject *> &detailModel() const { return m_detailModel; }
    // What "Transfer to vehicle" hands to the drive: the ticked rows the views show and the
    // ticked playlist entries, by library id.
    TrackMap transferSelection() const;

    // Puts the scan's tracks in the browser's order and marks those `library` holds already.
    static ScanResult orderScan(TrackMap tracks, const TrackMap &library);

    // Chooses the folder for the "browse" source; a file dialog unless replaced (tests).
    std::function<QString()> folderChooser;

signals:
    void sgShowMessage(QVariant text);
    void sgShowSearchProgress(QVariant text);
    void sgHideSearchProgress();
    void sgShowBrowser(QVariant displayType);
    void sgUpdateCopyProgress(QVariant done, QVariant total);
    void sgCopyFinished(QVariant added);
    void sgUpdateRepairProgress(QVariant done, QVariant total);
    void sgLibraryChanged(QVariant hasMedia);
    void sgLibraryLoading(QVariant busy);
    // The library file failed its check: the program cannot go on with it.
    void sgStoreDamaged(QString message);
    void showTransferBrowser();
    // Audio converted for the car so far, of the tracks being added.
    void sgUpdateTranscodingCounter(QVariant done, QVariant total);
    // The add's audio conversion: files done of all, the file in hand, seconds left (-1: unknown).
    void sgUpdateConversionProgress(QVariant done, QVariant total, QVariant file, QVariant secondsLeft);
    void sgCancelVideOptimising();
    // The browser's line under its title: why nothing was found, what was left out, a cancel.
    void sgBrowserNote(QVariant text);
    // The library's line under its title: how an add ended.
    void sgShowStatus(QVariant text);
    // The library tab to show: "videos" after videos were added.
    void sgShowLibraryTab(QVariant tab);
    // The tracks of an artist, album or playlist are in the detail model.
    void sgShowDetail(QVariant title, QVariant kind);
    // Asks before a removal: the question and the ids it is about.
    void sgAskRemoval(QVariant text, QVariant trackIds);
    // How many tracks are ticked for the car, as a line for the window; empty for none.
    void sgShowTicked(QVariant text);

public slots:
    // Loads the library from the store and builds its models, both off the window's thread; the
    // models are swapped in when ready.
    void setMainValue();
    // Scans "mymusic", "myvideos", "mypictures", "browse" or "itunes" on a pool thread.
    void searchInMediaSource(const QString &source);
    void browsethread();
    void refreshBrowser();
    void slCancelSearch();
    // Sets the browser row's selection.
    void slSelectBrowserItem(const QVariant &trackId, bool selected);
    void slSelectAllBrowserItems(bool selected);
    // Adds the browser's selected tracks (all of them when `all`) to the library.
    void slAddToLibrary(bool all);
    void Copyfinished();
    void slCancelCopy();
    // Asks, through sgAskRemoval, before removing the tracks with these ids: how many tracks and
    // how many files of the library folder go.
    void slConfirmRemove(const QVariant &trackIds);
    // Removes the library tracks with these ids (a list of numbers).
    void slRemoveFromLibrary(const QVariant &trackIds);
    // Opens the tracks of an "artist", "album" or "playlist" by its name; an empty kind closes them.
    void slOpenDetail(const QString &kind, const QString &name);
    void removeFinished();
    // "transfer": hands the library rows the user ticked to the drive code and opens the transfer
    // dialog; a message when none is ticked.
    void exeRemoveTransfer(const QString &action);
    // Keeps only library entries whose texts contain `text` (all with an empty text).
    void slSearchLibrary(const QString &text);
    // Ticks or clears every entry of the playlist `name`.
    void slSelectPlaylist(const QString &name, bool selected);
    // The window changed ticks of library rows: the count it shows follows.
    void slSelectionChanged();

    // A repaired track (an id below 1 ends the repair display).
    void updateMainObjectMgr(track t);
    void UpdateAPIProgress(qint64 done, qint64 total);
    // The advanced settings open: the repair run waits.
    void slPopulateAdvancedSettings();
    // Repairs the library tracks with these ids (a list of numbers) instead of what was waiting.
    void collectMediaToUpdate(const QVariant &trackIds);
    // Ends the repair run once the folder in hand is saved.
    void cancelOptimization();
    void slPauseRepair(bool paused);
    // The add road after the browser's selection: audio the car cannot play is converted, the
    // rest copied into the library; videos are optimised.
    void addToMainObjectThreadFinished();
    void Transcodingfinished();
    void slUpdateObjectTranscoding(QList<track> tracks);
    void slUpdateTranscodingCount(QString track_obj);
    void slConversionProgress(int done, int total, const QString &fileName);
    // A conversion's outcome for the track `trackID` of the add: 1 failed, 2 reused, 3 made.
    void slRemoveFileAudio(QString filePath, qint64 trackID, qint64 flag);
    void slCancelVideOptimising();
    // An optimised video.
    void slupdateMainObjectVideo(track t);
    void slVideoAproxTime(qint64 seconds);
    void slOnProgressChange(QString filePath, qint64 trackID, qint64 progress);
    void slonSkipFile(track t);
    void slonMultiChannelFile(track t);
    void slAllFileCompleteVideo();

    // Closing: stops every job (each ends at its next chunk or kills its tool), waits for them,
    // then closes the log.
    void saveData();
    void exeClose();

private:
    // Track rows come in four kinds: tracks, podcasts, audio books, videos.
    static constexpr int kRowKinds = 4;
    using RowIds = std::array<QList<qint64>, kRowKinds>;
    // A track as ticks know it: its file and its playlist. Ids do not serve: a track stored again
    // (repaired, converted, added anew) gets a new one.
    using TickKey = QPair<QString, QString>;
    static TickKey tickKey(const track &t) { return {t.filepath, t.playlist}; }
    // What a worker makes for the window. Track rows are made only when the library changed; a
    // search picks from the rows there are. Rows made anew take over the ticks of those they replace.
    struct ModelLists {
        quint64 generation = 0;
        bool loaded = false;  // `library` was read from the store for this build
        bool loadFailed = false;
        QString loadError;  // why, read on the loading thread where the store keeps it
        QString damaged;  // the library file failed its check
        TrackMap library;
        bool newRows = false;  // `rows` and `rowIds` were made for this build
        std::array<QList<QObject *>, kRowKinds> rows;  // every row of a kind, in display order
        RowIds rowIds;
        std::array<QList<int>, kRowKinds> shown;  // the positions in the rows the search keeps
        QList<QObject *> artists, albums, playlists;
    };
    enum class Build { Load, Library, Search };
    // Which list a track shows in: 0 tracks, 1 podcasts, 2 audio books, 3 videos; -1 for a
    // playlist entry, which only counts towards its playlist.
    static int rowKind(const track &t);
    static QString durationText(double seconds);
    static TrackDataModel *trackRow(const track &t, QHash<qint64, QString> *durations = nullptr);
    // Makes the lists for `library` and `search`; with `rowIds` the rows are those ids' rows.
    static ModelLists buildModelLists(
        const TrackMap &library, const QString &search, QThread *owner, const RowIds *rowIds);
    // Builds the models of the library and search as they are now, off the window's thread.
    void buildModels();
    void startModelJob(Build build);
    void takeModels(ModelLists lists);
    void bury(QList<QObject *> &objects);
    void clearGraveyard(int most);
    void publishModels();
    void publishBrowser();
    QList<track> selectedBrowserTracks(bool all) const;
    // The browser shows nothing found, for `reason`.
    void showEmptyBrowser(const QString &reason);
    void buildDetail();
    void publishDetail();
    // A playlist entry's tick changed; the playlist rows and the count follow.
    void tickEntry(const TickKey &entry, bool selected);
    // The ticks of playlist entries kept to the library as it is, shown on the playlist rows,
    // and the count told to the window.
    void syncTicks();
    void storeInLibrary(const track &t);
    // The end of a repair run: what it filled, or how far it came when stopped.
    void repairEnded(const RepairSummary &summary);
    void connectRepair();
    // Starts the repair of tracks just added, when the web can be reached.
    void startRepair(const TrackMap &tracks);
    void stopRepairForClosing();
    void connectConversion();
    void startCopy();
    void startVideoOptimising();
    // The add's end, however it went: one report to the window.
    void finishAdd(bool cancelled);
    // A converted track of the add, stored: into the library, the repair and the counts.
    void takeAdded(const track &t);
    void countAdded(const track &t);
    // Raises the stop of every job this controller runs, and of the drive's transfer.
    void stopAllJobs();

    AppPaths m_paths;
    MessageHandler m_messages;
    track_data m_scanner;
    TrackMap m_library;
    TrackMap m_browseMap;
    QString m_searchText;
    int m_displayType = DisplayMusic;
    qint64 m_repairDone = 0;
    qint64 m_repairTotal = 0;
    bool m_repairChosen = false;  // the run repairs tracks the user chose
    qint64 m_repairUnstored = 0;  // repaired tracks the writer could not store, told at the run's end
    QString m_addStatus;  // the last add's line, which the note of its repair joins
    QPointer<ApiManager> m_repair;
    // Store writes of the repair and of optimised videos, off the window's thread.
    std::unique_ptr<StoreWriter> m_storeWriter;
    TrackMap m_addedTracks;  // the add's new library tracks, by library id, for the repair
    bool m_videoOptimisingCancelled = false;
    // The add's one stop: its copy, its conversion and its video optimisation; a new one per add.
    JobStop m_addStop = std::make_shared<StopToken>();
    bool m_searching = false;
    bool m_copying = false;
    bool m_removing = false;

    QFutureWatcher<ScanResult> m_searchWatcher;
    QFutureWatcher<CopyResult> m_copyWatcher;
    QFutureWatcher<QList<track>> m_transcodeWatcher;
    QFutureWatcher<QStringList> m_removeWatcher;
    QList<QFutureWatcher<ModelLists> *> m_modelJobs;
    quint64 m_modelGeneration = 0;
    bool m_modelsPending = false;
    bool m_rowsStale = true;  // the library changed since the rows were made
    bool m_swept = false;
    bool m_storeReady = true;  // checked and set up: changes may be written
    std::array<QList<QObject *>, kRowKinds> m_rows;
    RowIds m_rowIds;
    QList<QObject *> m_graveyard;
    QTimer m_graveyardTimer;

    QList<QObject *> m_artistModel;
    QList<QObject *> m_albumModel;
    QList<QObject *> m_trackModel;
    QList<QObject *> m_playlistModel;
    QList<QObject *> m_podcastModel;
    QList<QObject *> m_audiobookModel;
    QList<QObject *> m_videoModel;
    QList<QObject *> m_browserModel;
    QList<qint64> m_browseOrder;
    QSet<qint64> m_browseInLibrary;
    QList<QObject *> m_detailModel;
    QString m_detailKind;  // empty while nothing is open
    QString m_detailName;
    QSet<TickKey> m_tickedEntries;  // playlist entries ticked for the car
    // The add in progress: its tracks by browser id (`originalPath` the file found, `filepath` its
    // planned place in the library), the planned paths still to copy, and what became of them.
    TrackMap m_adding;
    QSet<QString> m_toCopy;
    TrackMap m_videosToOptimise;
    int m_addTotal = 0;
    int m_added = 0;  // rows stored
    // What the add's end message counts: tracks and videos of albums, and playlists.
    struct AddedCounts {
        int tracks = 0;
        int videos = 0;
        QSet<QString> playlists;
    } m_addedCounts;
    int m_transcodeDone = 0;
    QElapsedTimer m_conversionClock;  // since the add's audio conversion began
    bool m_reloadAfterAdd = false;  // the add's end reads the library from the store again
    QStringList m_addFailures;
    QStringList m_setAside;
    ffmpeghandler m_libraryHandler;
    VideoEncoding m_videoEncoding;
    VideoOptimisationModel *m_videoProgress = nullptr;

    QPointer<QmlApplicationViewer> m_viewer;
    QPointer<Combo> m_combo;
    bool m_saved = false;
};
