#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "database.h"
#include "datamodels.h"
#include "kivodb.h"
#include "processmemory.h"
#include "qmlapplicationviewer.h"
#include "textorder.h"

#include <QCollator>
#include <QFileInfo>
#include <QHash>
#include <QQmlContext>
#include <QSet>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

template <typename Model, typename Key> void sortByName(QList<QObject *> &list, Key key)
{
    const QCollator collator = nameCollator();
    // Each name is turned into its sort key once, not at every one of the n log n comparisons.
    std::vector<std::pair<QCollatorSortKey, QObject *>> keyed;
    keyed.reserve(std::size_t(list.size()));
    for (QObject *object : std::as_const(list))
        keyed.emplace_back(collator.sortKey(key(static_cast<Model *>(object))), object);
    std::stable_sort(keyed.begin(), keyed.end(),
        [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        list[qsizetype(i)] = keyed[i].second;
}

// `folded` is the search text through searchFolded.
bool matches(const track &t, const QString &folded)
{
    if (folded.isEmpty())
        return true;
    for (const QString *field : {&t.trackname, &t.artistname, &t.albumname, &t.genre, &t.playlist}) {
        if (containsFolded(*field, folded))
            return true;
    }
    return false;
}

bool isKnown(const QString &text)
{
    return !text.isEmpty() && !text.startsWith(QLatin1String("Unknown"));
}

}  // namespace

QString manager::durationText(double seconds)
{
    const qint64 whole = qint64(boundedSeconds(seconds) + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

TrackDataModel *manager::trackRow(const track &t, QHash<qint64, QString> *durations)
{
    auto *row = new TrackDataModel;
    row->setTrackid(t.id);
    row->setTrackname(t.trackname);
    row->setArtistname(t.artistname);
    row->setAlbumname(t.albumname);
    row->setGenre(t.genre);
    // Few lengths recur across a library; one text each keeps a large one small.
    const qint64 seconds = qint64(boundedSeconds(t.duration) + 0.5);
    if (durations) {
        auto it = durations->find(seconds);
        if (it == durations->end())
            it = durations->insert(seconds, durationText(double(seconds)));
        row->setDuration(*it);
    } else {
        row->setDuration(durationText(double(seconds)));
    }
    row->setCover(t.cover);
    row->setFilepath(t.filepath);
    row->setCodec(t.codec);
    row->setPlaylist(t.playlist);
    row->setQuality(t.quality);
    row->setIsVideo(t.isVideo);
    // A video's second line: its artist and album where they are known, else the name of the
    // user's file, or just "Video" for the library's own copy; never a folder or a name the
    // library made. Audio rows show artist and album as they are.
    if (t.isVideo) {
        QStringList known;
        for (const QString *text : {&t.artistname, &t.albumname}) {
            if (isKnown(*text))
                known << *text;
        }
        if (known.isEmpty())
            known << (t.filepath.startsWith(kivoDB::libraryRoot() + QLatin1Char('/'))
                    ? QStringLiteral("Video")
                    : QFileInfo(t.filepath).fileName());
        row->setSubtitle(known.join(QStringLiteral(" – ")));
    }
    row->setIsPodcast(t.isPodcast);
    row->setIsAudiobook(t.isAudiobook);
    return row;
}

int manager::rowKind(const track &t)
{
    if (t.isVideo)
        return 3;
    if (t.isPodcast)
        return 1;
    if (t.isAudiobook)
        return 2;
    return t.playlist.isEmpty() ? 0 : -1;
}

manager::ModelLists manager::buildModelLists(
    const TrackMap &library, const QString &searchText, QThread *owner, const RowIds *rowIds)
{
    const QString search = searchFolded(searchText);
    ModelLists lists;
    if (!rowIds) {
        lists.newRows = true;
        QHash<qint64, QString> durations;
        for (const track &t : library) {
            const int kind = rowKind(t);
            if (kind >= 0)
                lists.rows[kind] << trackRow(t, &durations);
        }
        for (QList<QObject *> &rows : lists.rows) {
            sortByName<TrackDataModel>(rows, [](TrackDataModel *m) { return m->trackname(); });
            for (QObject *row : std::as_const(rows))
                lists.rowIds[&rows - lists.rows.data()] << static_cast<TrackDataModel *>(row)->trackid();
        }
        rowIds = &lists.rowIds;
    }
    for (int kind = 0; kind < kRowKinds; ++kind) {
        const QList<qint64> &ids = (*rowIds)[kind];
        for (int i = 0; i < ids.size(); ++i) {
            const auto it = library.constFind(ids.at(i));
            if (it != library.cend() && matches(*it, search))
                lists.shown[kind] << i;
        }
    }

    QHash<QString, ArtistDataModel *> artistByName;
    QHash<QString, QSet<QString>> albumsOfArtist;
    QHash<QString, AlbumDataModel *> albumByName;
    QHash<QString, TrackList *> playlistByName;
    for (const track &t : library) {
        const int kind = rowKind(t);
        if ((kind != 0 && kind != -1) || !matches(t, search))
            continue;
        if (kind == -1) {
            TrackList *&list = playlistByName[t.playlist];
            if (!list) {
                list = new TrackList;
                list->setPlaylistid(t.playlistId);
                list->setName(t.playlist);
                list->setCover(QStringLiteral("qrc:///resources/photos/playlist.png"));
                lists.playlists << list;
            }
            list->setTrackCount(list->trackCount() + 1);
            continue;
        }
        // Albums are one per name in the store, so the views group by name as well.
        const QString artistKey = t.artistname.toCaseFolded();
        const QString albumKey = t.albumname.toCaseFolded();
        ArtistDataModel *&artist = artistByName[artistKey];
        if (!artist) {
            artist = new ArtistDataModel;
            artist->setArtistid(t.artist_id);
            artist->setArtistname(t.artistname);
            artist->setCover(t.cover);
            lists.artists << artist;
        }
        artist->setTrackCount(artist->trackCount() + 1);
        QSet<QString> &ofArtist = albumsOfArtist[artistKey];
        ofArtist.insert(albumKey);
        artist->setAlbumCount(ofArtist.size());

        AlbumDataModel *&album = albumByName[albumKey];
        if (!album) {
            album = new AlbumDataModel;
            album->setAlbumid(t.album_id);
            album->setAlbumname(t.albumname);
            album->setArtistname(t.artistname);
            album->setCover(t.cover);
            album->setYear(t.year);
            lists.albums << album;
        }
        album->setTrackCount(album->trackCount() + 1);
    }
    sortByName<ArtistDataModel>(lists.artists, [](ArtistDataModel *m) { return m->artistname(); });
    sortByName<AlbumDataModel>(lists.albums, [](AlbumDataModel *m) { return m->albumname(); });
    sortByName<TrackList>(lists.playlists, [](TrackList *m) { return m->name(); });

    // Made here, used by QML on the window's thread.
    for (QList<QObject *> *list : {&lists.artists, &lists.albums, &lists.playlists, &lists.rows[0],
             &lists.rows[1], &lists.rows[2], &lists.rows[3]}) {
        for (QObject *object : std::as_const(*list))
            object->moveToThread(owner);
    }
    return lists;
}

void manager::setMainValue()
{
    startModelJob(Build::Load);
}

void manager::buildModels()
{
    startModelJob(Build::Library);
}

void manager::startModelJob(Build build)
{
    // A newer request makes every older one's result worthless; only the newest is shown.
    const quint64 generation = ++m_modelGeneration;
    if (build != Build::Search)
        m_rowsStale = true;
    // Rows are reused only while they are the library's own.
    const bool newRows = m_rowsStale;
    if (!m_modelsPending) {
        m_modelsPending = true;
        emit sgLibraryLoading(true);
    }
    auto *watcher = new QFutureWatcher<ModelLists>(this);
    connect(watcher, &QFutureWatcher<ModelLists>::finished, this, [this, watcher] {
        m_modelJobs.removeOne(watcher);
        watcher->deleteLater();
        takeModels(watcher->result());
    });
    m_modelJobs << watcher;
    const std::function<void()> gate = loadGate;
    const bool load = build == Build::Load;
    // What a killed add left behind is cleared once, before the first load.
    const bool sweep = load && !m_swept && !Database::storeIsReadOnly();
    const bool check = load && !m_storeReady;
    m_swept = m_swept || load;
    watcher->setFuture(
        QtConcurrent::run([library = load ? TrackMap() : m_library, search = m_searchText, rowIds = m_rowIds,
                              owner = thread(), generation, load, newRows, gate, sweep, check] {
            ModelLists lists;
            if (!load) {
                lists = buildModelLists(library, search, owner, newRows ? nullptr : &rowIds);
            } else {
                if (gate)
                    gate();
                if (check) {
                    lists.damaged = Database::checkStore();
                    if (!lists.damaged.isEmpty()) {
                        lists.generation = generation;
                        return lists;
                    }
                    Database store;
                    if (!store.open(QStringLiteral("KivoData"), false) || !store.initStructure()) {
                        lists.loadFailed = true;
                        lists.loadError = store.lastError();
                        lists.generation = generation;
                        return lists;
                    }
                }
                if (sweep)
                    kivoDB::sweepLibraryFolder();
                bool ok = false;
                TrackMap loaded = kivoDB().loadLibrary(QSqlDatabase(), &ok);
                if (ok) {
                    lists = buildModelLists(loaded, search, owner, nullptr);
                    lists.loaded = true;
                    lists.library = std::move(loaded);
                }
                lists.loadFailed = !ok;
                if (!ok)
                    lists.loadError = kivoDB::lastError();
            }
            lists.generation = generation;
            return lists;
        }));
}

void manager::takeModels(ModelLists lists)
{
    if (lists.generation != m_modelGeneration) {
        for (QList<QObject *> &rows : lists.rows)
            bury(rows);
        bury(lists.artists);
        bury(lists.albums);
        bury(lists.playlists);
        return;
    }
    m_modelsPending = false;
    if (!lists.damaged.isEmpty()) {
        emit sgLibraryLoading(false);
        emit sgStoreDamaged(lists.damaged);
        return;
    }
    if (lists.loaded)
        m_storeReady = true;
    if (lists.loadFailed) {
        // Keep what is shown rather than presenting an empty library over a read failure.
        writeLog(appLogFile(), QStringLiteral("Library could not be loaded: "), lists.loadError);
        emit sgLibraryLoading(false);
        emit sgShowMessage(m_messages.libraryLoadFailed + QLatin1Char('\n') + lists.loadError);
        return;
    }
    if (lists.loaded) {
        m_library = std::move(lists.library);
        writeLog(appLogFile(), QStringLiteral("Library loaded: "), QString::number(m_library.size()));
    }
    std::array<QList<QObject *>, kRowKinds> oldRows;
    if (lists.newRows) {
        std::swap(oldRows, m_rows);
        m_rows = std::move(lists.rows);
        m_rowIds = std::move(lists.rowIds);
        m_rowsStale = false;
    }
    QList<QObject *> *shownLists[kRowKinds]
        = {&m_trackModel, &m_podcastModel, &m_audiobookModel, &m_videoModel};
    for (int kind = 0; kind < kRowKinds; ++kind) {
        const QList<int> &shown = lists.shown[kind];
        if (shown.size() == m_rows[kind].size()) {
            *shownLists[kind] = m_rows[kind];
            continue;
        }
        QList<QObject *> subset;
        subset.reserve(shown.size());
        for (const int i : shown)
            subset << m_rows[kind].at(i);
        *shownLists[kind] = subset;
    }
    // QML holds the old lists until the new ones are published, so they are freed only after.
    std::swap(m_artistModel, lists.artists);
    std::swap(m_albumModel, lists.albums);
    std::swap(m_playlistModel, lists.playlists);
    publishModels();
    // An open artist, album or playlist shows what the library now holds of it.
    if (!m_detailKind.isEmpty())
        buildDetail();
    bury(lists.artists);
    bury(lists.albums);
    bury(lists.playlists);
    for (QList<QObject *> &rows : oldRows)
        bury(rows);
    syncTicks();
    emit sgLibraryChanged(!m_library.isEmpty());
    emit sgLibraryLoading(false);
}

void manager::bury(QList<QObject *> &objects)
{
    m_graveyard += objects;
    objects.clear();
    if (!m_graveyard.isEmpty() && !m_graveyardTimer.isActive())
        m_graveyardTimer.start();
}

void manager::clearGraveyard(int most)
{
    // Freeing a hundred thousand rows at once would hold the window; a share per turn of the
    // event loop does not.
    const int n = int(std::min<qsizetype>(most, m_graveyard.size()));
    qDeleteAll(m_graveyard.cend() - n, m_graveyard.cend());
    m_graveyard.resize(m_graveyard.size() - n);
    if (m_graveyard.isEmpty()) {
        m_graveyardTimer.stop();
        platform::releaseFreeMemory();
    }
}

void manager::publishModels()
{
    if (!m_viewer)
        return;
    QQmlContext *context = m_viewer->rootContext();
    context->setContextProperty(QStringLiteral("artistModel"), QVariant::fromValue(m_artistModel));
    context->setContextProperty(QStringLiteral("albumModel"), QVariant::fromValue(m_albumModel));
    context->setContextProperty(QStringLiteral("trackModel"), QVariant::fromValue(m_trackModel));
    context->setContextProperty(QStringLiteral("playlistModel"), QVariant::fromValue(m_playlistModel));
    context->setContextProperty(QStringLiteral("podcastModel"), QVariant::fromValue(m_podcastModel));
    context->setContextProperty(QStringLiteral("audiobookModel"), QVariant::fromValue(m_audiobookModel));
    context->setContextProperty(QStringLiteral("videoModel"), QVariant::fromValue(m_videoModel));
}
