#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "ituneslibrary.h"
#include "mediagen.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace {

QString write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString copy(const QString &from, const QString &to, qint64 cutTo = -1)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (!QFile::copy(from, to))
        qFatal("cannot copy %s", qPrintable(to));
    if (cutTo >= 0 && !QFile(to).resize(cutTo))
        qFatal("cannot cut %s", qPrintable(to));
    return to;
}

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString location(const QString &path)
{
    return QStringLiteral("file://localhost") + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
}

struct Entry {
    qint64 id;
    QString path;
    QMap<QString, QString> strings;
    QMap<QString, qint64> integers;
};

QString trackDict(const Entry &e)
{
    QString s = QString("<key>%1</key>\n<dict>\n<key>Track ID</key><integer>%1</integer>\n").arg(e.id);
    s += QString("<key>Location</key><string>%1</string>\n").arg(location(e.path).toHtmlEscaped());
    for (auto it = e.strings.begin(); it != e.strings.end(); ++it)
        s += QString("<key>%1</key><string>%2</string>\n")
                 .arg(it.key().toHtmlEscaped(), it.value().toHtmlEscaped());
    for (auto it = e.integers.begin(); it != e.integers.end(); ++it)
        s += QString("<key>%1</key><integer>%2</integer>\n").arg(it.key().toHtmlEscaped()).arg(it.value());
    return s + "</dict>\n";
}

QString playlistDict(const QString &name, const QList<qint64> &ids)
{
    QString s = QString("<dict>\n<key>Name</key><string>%1</string>\n").arg(name.toHtmlEscaped());
    s += "<key>Playlist Items</key>\n<array>\n";
    for (const qint64 id : ids)
        s += QString("<dict><key>Track ID</key><integer>%1</integer></dict>\n").arg(id);
    return s + "</array>\n</dict>\n";
}

QString plist(const QList<Entry> &entries, const QString &playlists)
{
    QString s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                "<key>Major Version</key><integer>1</integer>\n<key>Tracks</key>\n<dict>\n";
    for (const Entry &e : entries)
        s += trackDict(e);
    return s + "</dict>\n<key>Playlists</key>\n<array>\n" + playlists + "</array>\n</dict>\n</plist>\n";
}

QList<track> inPlaylist(const TrackMap &tracks, const QString &path, const QString &playlist)
{
    QList<track> found;
    for (const track &t : tracks) {
        if (t.filepath == path && t.playlist == playlist)
            found << t;
    }
    return found;
}

}  // namespace

class TestItunesImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_sources;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;

    QString source(const QString &name) const { return m_sources.filePath(name); }

    // The media of a small iTunes library and the library file that lists them.
    struct Library {
        QString xml;
        QString dawn, dawn2, night, bareSunrise, brokenSunrise, episode, book, movie, exact, over, nameless,
            media, nineties;
    };

    Library makeLibrary()
    {
        Library lib;
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString media = music + "/iTunes/iTunes Media/Music";
        lib.dawn = copy(source("red.mp3"), media + "/Band/Dawn/01 Dawn.mp3");
        lib.dawn2 = copy(source("red.mp3"), media + "/Band/Dawn/02 Noon.mp3");
        lib.night = copy(source("bare.mp3"), music + "/Elsewhere/Night/01 Night.mp3");
        lib.bareSunrise = copy(source("bare.mp3"), music + "/Elsewhere/Sunrise/01 Bare.mp3");
        lib.brokenSunrise = copy(source("broken-cover.mp3"), music + "/Elsewhere/Sunrise/02 Broken.mp3");
        lib.episode = copy(source("bare.mp3"), music + "/Podcasts/Show/Episode.mp3");
        lib.book = copy(source("bare.mp3"), music + "/Books/Story.m4b");
        lib.movie = copy(source("clip.mp4"), music + "/Movies/Clip.mp4");
        lib.exact = copy(source("bare.mp3"), music + "/Edges/exact.mp3", 102400);
        lib.over = copy(source("bare.mp3"), music + "/Edges/over.mp3", 102401);
        lib.nameless = copy(source("red.mp3"), music + "/Edges/nameless.mp3");
        lib.nineties = copy(source("bare.mp3"), music + "/Edges/nineties.mp3");

        const auto song = [](const char *name, const char *album, const char *artist) {
            return QMap<QString, QString>{
                {"Name", name}, {"Album", album}, {"Artist", artist}, {"Genre", "Pop"}};
        };
        QList<Entry> entries = {
            {1, lib.dawn, song("Dawn", "Dawn", "Band"),
                {{"Bit Rate", 320}, {"Total Time", 8000}, {"Year", 2001}}},
            {2, lib.dawn2, song("Noon", "Dawn", "Band"), {{"Bit Rate", 128}}},
            {3, lib.night, song("Night", "Night", "Band"), {}},
            {4, lib.bareSunrise, song("Bare", "Sunrise", "Band"), {}},
            {5, lib.brokenSunrise, song("Broken", "Sunrise", "Band"), {}},
            {6, lib.episode, song("Episode", "Show", "Host"), {}},
            {7, lib.book, song("Chapter", "Story", "Reader"), {}},
            {8, lib.movie, song("Clip", "Films", "Studio"), {{"Total Time", 0}}},
            {9, lib.exact, song("Exact", "Edges", "Band"), {}},
            {10, lib.over, song("Over", "Edges", "Band"), {}},
            {11, lib.nameless, {}, {}},
            {12, lib.nineties, song("Nineties", "Decades", "Band"), {}},
            {13, music + "/Gone/gone.mp3", song("Gone", "Gone", "Band"), {}},
        };
        QString playlists = playlistDict("Library", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
        playlists += playlistDict("Music", {1, 2, 3, 4, 5, 9, 10, 11, 13});
        playlists += playlistDict("Podcasts", {6});
        playlists += playlistDict("Books", {7});
        playlists += playlistDict("Movies", {8});
        playlists += playlistDict("Road Trip", {1, 8});
        playlists += playlistDict("TV Shows", {3});
        playlists += playlistDict("PURCHASED", {1, 2});
        playlists += playlistDict("90\u2019s Music", {12});
        playlists += playlistDict("90's Music", {12});
        lib.xml = write(music + "/iTunes/iTunes Music Library.xml", plist(entries, playlists).toUtf8());
        return lib;
    }

    qint64 count(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery query(Database::threadConnection());
        if (!query.prepare(sql))
            return -1;
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (!query.exec() || !query.next())
            return -1;
        return query.value(0).toLongLong();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sources.isValid());
        MediaGen::Audio media;
        media.seconds = 8;
        media.sampleRate = 44100;
        media.bitrateKbps = 128;
        media.cover = true;
        QVERIFY(MediaGen::makeAudio(source("red.mp3"), media).isEmpty());
        media.cover = false;
        QVERIFY(MediaGen::makeAudio(source("bare.mp3"), media).isEmpty());
        QVERIFY(QFileInfo(source("bare.mp3")).size() > 102401);
        QVERIFY(QFile::copy(source("bare.mp3"), source("broken-cover.mp3")));
        QVERIFY(MediaGen::attachCover(source("broken-cover.mp3"), QByteArray(4000, 'x')).isEmpty());
        QVERIFY(MediaGen::makeVideo(source("clip.mp4"), 12).isEmpty());
        QVERIFY(QFileInfo(source("clip.mp4")).size() > 102400);
    }

    void init()
    {
        m_env = std::make_unique<TestEnv>();
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open(QStringLiteral("KivoData"), true));
        QVERIFY(m_database->initStructure());
    }

    void cleanup()
    {
        track_data::setPersistentIdMap({});
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void library()
    {
        const Library lib = makeLibrary();
        // Album "Night" has no picture of its own; the iTunes artwork cache holds one.
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        {
            QByteArray payload = QByteArray(64, '\x01') + MediaGen::coverPng(Qt::cyan, QSize(40, 40));
            const quint32 size = quint32(8 + payload.size());
            const char header[4] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
            write(music + "/iTunes/Album Artwork/Cache/00/11/AAAA1111BBBB2222.itc2",
                QByteArray(header, 4) + "item" + payload);
        }
        track_data::setPersistentIdMap({{"Night", "AAAA1111BBBB2222"}});

        const QList<iTunedata> playlists = parseItunesLibraryXml(lib.xml);
        QCOMPARE(playlists.size(), 10);
        track_data importer;
        const TrackMap tracks = importer.importItunes(playlists, TrackMap());

        // Music 7 of 9 (one missing, one of exactly 102400 bytes), Podcasts, Books, Movies one each,
        // Road Trip two, TV Shows one, the ASCII "90's Music" one; Library, PURCHASED and
        // "90’s Music" are passed over.
        QCOMPARE(tracks.size(), 7 + 3 + 2 + 1 + 1);
        qint64 expectedKey = tracks.firstKey();
        for (auto it = tracks.cbegin(); it != tracks.cend(); ++it, ++expectedKey) {
            QCOMPARE(it.key(), expectedKey);
            QCOMPARE(it.value().id, it.key());
            QCOMPARE(it.value().source, qint16(1));
        }
        QVERIFY(inPlaylist(tracks, lib.exact, "").isEmpty());
        QCOMPARE(inPlaylist(tracks, lib.over, "").size(), 1);
        QCOMPARE(inPlaylist(tracks, lib.over, "").first().filesize, qint64(102401));
        QVERIFY(readLog().contains("too small to be a track: " + lib.exact));

        // Kind lists set the flags and no playlist; user lists keep their name.
        const track dawn = inPlaylist(tracks, lib.dawn, "").value(0);
        QCOMPARE(dawn.playlistId, qint64(0));
        QVERIFY(!dawn.isPodcast && !dawn.isAudiobook && !dawn.isVideo);
        QVERIFY(dawn.quality == 2 && dawn.duration == 8.0);
        QVERIFY(inPlaylist(tracks, lib.episode, "").value(0).isPodcast);
        QVERIFY(inPlaylist(tracks, lib.book, "").value(0).isAudiobook);
        const track tvShow = inPlaylist(tracks, lib.night, "TV Shows").value(0);
        QCOMPARE(tvShow.albumname, QStringLiteral("TV Shows"));
        QVERIFY(!tvShow.isPodcast && !tvShow.isAudiobook);
        QCOMPARE(inPlaylist(tracks, lib.nineties, "90's Music").size(), 1);
        QCOMPARE(inPlaylist(tracks, lib.nineties, "90\u2019s Music").size(), 0);

        // Covers: extracted once per album, from its first file; the artwork cache for an album
        // without a picture; the playlist image for user lists; the thumbnail for a video.
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        QCOMPARE(dawn.cover, artwork + "/Dawn.png");
        QVERIFY(dawn.hasCover && !dawn.missingMediaData);
        QCOMPARE(inPlaylist(tracks, lib.dawn2, "").value(0).cover, dawn.cover);
        const track night = inPlaylist(tracks, lib.night, "").value(0);
        QVERIFY(night.hasCover);
        QCOMPARE(QColor(QImage(night.cover).pixel(1, 1)), QColor(Qt::cyan));
        const track sunrise = inPlaylist(tracks, lib.brokenSunrise, "").value(0);
        QCOMPARE(sunrise.cover, AppPaths().noArtworkUrl);
        QVERIFY(!sunrise.hasCover && sunrise.missingMediaData);
        QVERIFY(!readLog().contains("Embedded cover does not decode: " + lib.brokenSunrise));
        const track nameless = inPlaylist(tracks, lib.nameless, "").value(0);
        QVERIFY(!nameless.hasArtist && !nameless.hasAlbum && !nameless.hasTitle && nameless.missingMediaData);
        QVERIFY(!QFile::exists(artwork + "/Unknown Album.png"));
        const track trip = inPlaylist(tracks, lib.dawn, "Road Trip").value(0);
        QCOMPARE(trip.albumname, QStringLiteral("Road Trip"));
        QCOMPARE(trip.playlistId, trip.album_id);
        QCOMPARE(trip.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
        QVERIFY(trip.hasCover);
        const track movie = inPlaylist(tracks, lib.movie, "").value(0);
        QVERIFY(movie.isVideo);
        QCOMPARE(movie.duration, 12.0);
        QVERIFY(movie.cover.startsWith(AppPaths::dataLocation() + AppPaths().videoArtworkDir));
        QCOMPARE(inPlaylist(tracks, lib.movie, "Road Trip").value(0).cover, movie.cover);

        // Every track is cached; a user list's member under the album "Unknown ablum".
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(tracks.size()));
        QCOMPARE(count("SELECT count(*) FROM TrackRepo r JOIN albumsRepo a ON a.id = r.album_id "
                       "WHERE r.filepath = ? AND r.Playlist = 'Road Trip' AND a.name = 'Unknown ablum'",
                     {lib.dawn}),
            qint64(1));

        // A second import goes on with the next keys and keeps the album ids.
        const TrackMap again = importer.importItunes(playlists, TrackMap());
        QCOMPARE(again.firstKey(), tracks.lastKey() + 1);
        QCOMPARE(inPlaylist(again, lib.dawn, "").value(0).album_id, dawn.album_id);
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(tracks.size()));

        // A folder scan after it neither repeats nor skips a key, and the next import neither.
        const TrackMap scanned = importer.scanFolder(QDir(QFileInfo(lib.dawn).absolutePath() + "/.."));
        QCOMPARE(scanned.size(), 0);  // the iTunes media folder is the import's, not the scan's
        const TrackMap fromScan = importer.scanFolder(QDir(QFileInfo(lib.over).absolutePath()));
        QCOMPARE(fromScan.size(), 3);
        QCOMPARE(fromScan.firstKey(), again.lastKey() + 1);
        const TrackMap third = importer.importItunes(playlists, TrackMap());
        QCOMPARE(third.firstKey(), fromScan.lastKey() + 1);
    }

    // A stop request ends the import before its next entry.
    void stopRequest()
    {
        const Library lib = makeLibrary();
        track_data importer;
        importer.cancelSearch = true;
        QVERIFY(importer.importItunes(parseItunesLibraryXml(lib.xml), TrackMap()).isEmpty());
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(0));
    }
};

KIVO_TEST_MAIN(TestItunesImport)
#include "tst_itunesimport.moc"
