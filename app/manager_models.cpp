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
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Below this many names one thread makes the sort keys; above, the work is shared out.
constexpr qsizetype kKeysPerThread = 16384;

template <typename Model, typename Key> void sortByName(QList<QObject *> &list, Key key)
{
    // Each name is turned into its sort key once, not at every one of the n log n comparisons.
    using Keyed = std::vector<std::pair<QCollatorSortKey, QObject *>>;
    const qsizetype count = std::clamp<qsizetype>(
        list.size() / kKeysPerThread, 1, std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
    std::vector<Keyed> parts;
    parts.resize(std::size_t(count));
    const auto makeKeys = [&](Keyed &part) {
        const qsizetype n = &part - parts.data();
        const qsizetype end = list.size() * (n + 1) / count;
        // A collator is not shared between threads: each part makes its own.
        const QCollator collator = nameCollator();
        part.reserve(std::size_t(end - list.size() * n / count));
        for (qsizetype i = list.size() * n / count; i < end; ++i)
            part.emplace_back(collator.sortKey(key(static_cast<Model *>(list.at(i)))), list.at(i));
    };
    if (count == 1)
        makeKeys(parts.front());
    else
        QtConcurrent::blockingMap(parts, makeKeys);
    Keyed keyed = std::move(parts.front());
    for (std::size_t i = 1; i < parts.size(); ++i)
        std::move(parts[i].begin(), parts[i].end(), std::back_inserter(keyed));
    parts.clear();
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

// The new rows take the ticks of the old: a track keeps its tick while the library holds it, under
// whatever id it is stored now.
template <typename Rows> void carryTicks(const Rows &from, const Rows &to)
{
    QSet<QPair<QString, QString>> ticked;
    for (const QList<QObject *> &rows : from) {
        for (QObject *object : rows) {
            const auto *row = static_cast<TrackDataModel *>(object);
            if (row->selected())
                ticked.insert({row->filepath(), row->playlist()});
        }
    }
    if (ticked.isEmpty())
        return;
    for (const QList<QObject *> &rows : to) {
        for (QObject *object : rows) {
            auto *row = static_cast<TrackDataModel *>(object);
            if (ticked.contains({row->filepath(), row->playlist()}))
                row->setSelected(true);
        }
    }
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
    // The rows and the groups of a new library are made side by side; they share nothing.
    QFuture<void> rowsMade;
    if (!rowIds) {
        lists.newRows = true;
        rowsMade = QtConcurrent::run([&library, &lists, owner] {
            QHash<qint64, QString> durations;
            for (const track &t : library) {
                const int kind = rowKind(t);
                if (kind >= 0)
                    lists.rows[std::size_t(kind)] << trackRow(t, &durations);
            }
            for (QList<QObject *> &rows : lists.rows) {
                sortByName<TrackDataModel>(rows, [](TrackDataModel *m) { return m->trackname(); });
                QList<qint64> &ids = lists.rowIds[std::size_t(&rows - lists.rows.data())];
                ids.reserve(rows.size());
                // Made here, used by QML on the window's thread; only this thread may hand them over.
                for (QObject *row : std::as_const(rows)) {
                    ids << static_cast<TrackDataModel *>(row)->trackid();
                    row->moveToThread(owner);
                }
            }
        });
    }

    // Albums are one per name in the store, so the views group by name as well. A loaded library
    // shares one text per artist and album, so the name last seen under an id is nearly always
    // the one met again, and its group is found without folding the name.
    struct Seen {
        QString name;
        QObject *group = nullptr;
    };
    QHash<qint64, Seen> artistById;
    QHash<qint64, Seen> albumById;
    QHash<QString, ArtistDataModel *> artistByName;
    QHash<QString, AlbumDataModel *> albumByName;
    QHash<ArtistDataModel *, QSet<AlbumDataModel *>> albumsOfArtist;
    QHash<QString, TrackList *> playlistByName;
    ArtistDataModel *lastArtist = nullptr;
    AlbumDataModel *lastAlbum = nullptr;
    const auto groupOf = [](QHash<qint64, Seen> &byId, qint64 id, const QString &name, auto make) {
        Seen &seen = byId[id];
        if (!seen.group || seen.name != name) {
            seen.name = name;
            seen.group = make(name.toCaseFolded());
        }
        return seen.group;
    };
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
        auto *artist = static_cast<ArtistDataModel *>(
            groupOf(artistById, t.artist_id, t.artistname, [&](const QString &key) {
                ArtistDataModel *&made = artistByName[key];
                if (!made) {
                    made = new ArtistDataModel;
                    made->setArtistid(t.artist_id);
                    made->setArtistname(t.artistname);
                    made->setCover(t.cover);
                    lists.artists << made;
                }
                return made;
            }));
        auto *album = static_cast<AlbumDataModel *>(
            groupOf(albumById, t.album_id, t.albumname, [&](const QString &key) {
                AlbumDataModel *&made = albumByName[key];
                if (!made) {
                    made = new AlbumDataModel;
                    made->setAlbumid(t.album_id);
                    made->setAlbumname(t.albumname);
                    made->setArtistname(t.artistname);
                    made->setCover(t.cover);
                    made->setYear(t.year);
                    lists.albums << made;
                }
                return made;
            }));
        artist->setTrackCount(artist->trackCount() + 1);
        album->setTrackCount(album->trackCount() + 1);
        // The tracks of an album mostly follow one another.
        if (artist != lastArtist || album != lastAlbum) {
            QSet<AlbumDataModel *> &ofArtist = albumsOfArtist[artist];
            ofArtist.insert(album);
            artist->setAlbumCount(int(ofArtist.size()));
            lastArtist = artist;
            lastAlbum = album;
        }
    }
    sortByName<ArtistDataModel>(lists.artists, [](ArtistDataModel *m) { return m->artistname(); });
    sortByName<AlbumDataModel>(lists.albums, [](AlbumDataModel *m) { return m->albumname(); });
    sortByName<TrackList>(lists.playlists, [](TrackList *m) { return m->name(); });

    rowsMade.waitForFinished();
    if (lists.newRows)
        rowIds = &lists.rowIds;
    for (int kind = 0; kind < kRowKinds; ++kind) {
        const QList<qint64> &ids = (*rowIds)[std::size_t(kind)];
        QList<int> &shown = lists.shown[std::size_t(kind)];
        for (int i = 0; i < ids.size(); ++i) {
            const auto it = library.constFind(ids.at(i));
            if (it != library.cend() && matches(*it, search))
                shown << i;
        }
    }

    // Made here, used by QML on the window's thread.
    for (QList<QObject *> *list : {&lists.artists, &lists.albums, &lists.playlists}) {
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
                // The sweep only clears temporaries of adds that died and folders left empty,
                // which no row names, so it runs beside the check and the load.
                QFuture<void> swept;
                if (sweep)
                    swept = QtConcurrent::run([] { kivoDB::sweepLibraryFolder(); });
                if (check) {
                    lists.damaged = Database::checkStore();
                    if (!lists.damaged.isEmpty()) {
                        swept.waitForFinished();
                        lists.generation = generation;
                        return lists;
                    }
                    Database store;
                    if (!store.open(QStringLiteral("KivoData"), false) || !store.initStructure()) {
                        lists.loadFailed = true;
                        lists.loadError = store.lastError();
                        swept.waitForFinished();
                        lists.generation = generation;
                        return lists;
                    }
                }
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
                swept.waitForFinished();
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
        carryTicks(oldRows, m_rows);
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
