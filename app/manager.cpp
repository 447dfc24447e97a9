#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "datamodels.h"
#include "kivodb.h"
#include "qmlapplicationviewer.h"

#include <QCollator>
#include <QGuiApplication>
#include <QHash>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QThreadPool>

#include <algorithm>

namespace {

QString durationText(double seconds)
{
    const qint64 whole = qint64(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

template <typename Model, typename Key> void sortByName(QList<QObject *> &list, Key key)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(list.begin(), list.end(), [&](QObject *a, QObject *b) {
        return collator.compare(key(static_cast<Model *>(a)), key(static_cast<Model *>(b))) < 0;
    });
}

}  // namespace

manager::manager(QObject *parent)
    : QObject(parent)
{
    setMainValue();
}

manager::~manager()
{
    qDeleteAll(m_artistModel);
    qDeleteAll(m_albumModel);
    qDeleteAll(m_trackModel);
    qDeleteAll(m_playlistModel);
}

qint16 manager::bitrateClass(qint16 bitrate)
{
    return ::bitrateClass(bitrate);
}

bool manager::init(QmlApplicationViewer *viewer, const QString &qmlFile)
{
    m_viewer = viewer;
    initContextProperties();
    if (!viewer->setMainQmlFile(qmlFile))
        return false;
    viewer->showMaximized();
    m_combo = new Combo(viewer->rootObject());
    return true;
}

void manager::initContextProperties()
{
    if (!m_viewer)
        return;
    QQmlContext *context = m_viewer->rootContext();
    try {
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        context->setContextProperty(QStringLiteral("SelectedModelName"),
            settings.value(QStringLiteral("ModelName"), QStringLiteral("Select")).toString());
        context->setContextProperty(QStringLiteral("SelectedModelYearValue"),
            settings.value(QStringLiteral("ModelYearValue"), QStringLiteral("Select")).toString());
        settings.endGroup();

        for (const auto &text : MessageHandler::displayTexts())
            context->setContextProperty(text.first, text.second);
        context->setContextProperty(QStringLiteral("vehicleList"), Combo::vehicleList());
        context->setContextProperty(QStringLiteral("isDB"), kivoDB().libraryHasAlbums());
        context->setContextProperty(QStringLiteral("onMac"), false);
        const QScreen *screen = QGuiApplication::primaryScreen();
        context->setContextProperty(QStringLiteral("screenWidth"), screen ? screen->size().width() : 1280);
        publishModels();
    } catch (...) {
        writeLog(appLogFile(), QStringLiteral("Exception in initContextProperties"),
            QStringLiteral(" manager.cpp"));
    }
}

void manager::setMainValue()
{
    m_library = kivoDB().loadLibrary();
    writeLog(appLogFile(), QStringLiteral("Library loaded: "), QString::number(m_library.size()));
    buildModels();
}

void manager::buildModels()
{
    QList<QObject *> artists, albums, tracks, playlists;
    QHash<qint64, ArtistDataModel *> artistById;
    QHash<qint64, QSet<qint64>> albumsOfArtist;
    QHash<qint64, AlbumDataModel *> albumById;
    QHash<QString, TrackList *> playlistByName;

    for (const track &t : std::as_const(m_library)) {
        if (!t.playlist.isEmpty()) {
            TrackList *&list = playlistByName[t.playlist];
            if (!list) {
                list = new TrackList;
                list->setPlaylistid(t.playlistId);
                list->setName(t.playlist);
                list->setCover(QStringLiteral("qrc:///resources/photos/playlist.png"));
                playlists << list;
            }
            list->setTrackCount(list->trackCount() + 1);
            continue;
        }

        auto *row = new TrackDataModel;
        row->setTrackid(t.id);
        row->setTrackname(t.trackname);
        row->setArtistname(t.artistname);
        row->setAlbumname(t.albumname);
        row->setGenre(t.genre);
        row->setDuration(durationText(t.duration));
        row->setCover(t.cover);
        row->setFilepath(t.filepath);
        row->setCodec(t.codec);
        row->setQuality(t.quality);
        row->setIsVideo(t.isVideo);
        row->setIsPodcast(t.isPodcast);
        row->setIsAudiobook(t.isAudiobook);
        tracks << row;

        ArtistDataModel *&artist = artistById[t.artist_id];
        if (!artist) {
            artist = new ArtistDataModel;
            artist->setArtistid(t.artist_id);
            artist->setArtistname(t.artistname);
            artist->setCover(t.cover);
            artists << artist;
        }
        artist->setTrackCount(artist->trackCount() + 1);
        albumsOfArtist[t.artist_id].insert(t.album_id);
        artist->setAlbumCount(albumsOfArtist[t.artist_id].size());

        AlbumDataModel *&album = albumById[t.album_id];
        if (!album) {
            album = new AlbumDataModel;
            album->setAlbumid(t.album_id);
            album->setAlbumname(t.albumname);
            album->setArtistname(t.artistname);
            album->setCover(t.cover);
            album->setYear(t.year);
            albums << album;
        }
        album->setTrackCount(album->trackCount() + 1);
    }

    sortByName<ArtistDataModel>(artists, [](ArtistDataModel *m) { return m->artistname(); });
    sortByName<AlbumDataModel>(albums, [](AlbumDataModel *m) { return m->albumname(); });
    sortByName<TrackDataModel>(tracks, [](TrackDataModel *m) { return m->trackname(); });
    sortByName<TrackList>(playlists, [](TrackList *m) { return m->name(); });

    // QML still holds the old lists until the new ones are published, so free them only after.
    std::swap(m_artistModel, artists);
    std::swap(m_albumModel, albums);
    std::swap(m_trackModel, tracks);
    std::swap(m_playlistModel, playlists);
    publishModels();
    qDeleteAll(artists);
    qDeleteAll(albums);
    qDeleteAll(tracks);
    qDeleteAll(playlists);
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
}

void manager::saveData()
{
    if (m_saved)
        return;
    m_saved = true;
    // Pool jobs may still be writing to the store or the log; let them end first.
    QThreadPool::globalInstance()->waitForDone();
    writeLog(appLogFile(), QStringLiteral("Closed KiVO"));
    closeLogFile(appLogFile());
}

void manager::exeClose()
{
    saveData();
    if (m_viewer)
        m_viewer->close();
    QCoreApplication::quit();
}
