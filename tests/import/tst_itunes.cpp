#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "itunescoverart.h"
#include "ituneslibrary.h"
#include "mediagen.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtEndian>

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
    if (!QFile::copy(from, to) || (cutTo >= 0 && !QFile(to).resize(cutTo)))
        qFatal("cannot copy %s", qPrintable(to));
    return to;
}

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString location(const QString &path, bool localhost = true)
{
    return QString(localhost ? "file://localhost" : "file://")
        + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
}

QStringList names(const QList<iTunedata> &playlists)
{
    QStringList result;
    for (const iTunedata &p : playlists)
        result << p.name;
    return result;
}

QStringList paths(const QList<track> &tracks)
{
    QStringList result;
    for (const track &t : tracks)
        result << t.filepath;
    return result;
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

class TestItunes : public QObject
{
    Q_OBJECT

    QTemporaryDir m_sources;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;

    QString source(const QString &name) const { return m_sources.filePath(name); }

    struct Entry {
        qint64 id;
        QMap<QString, QString> strings;
        QMap<QString, qint64> integers;
    };

    static QString trackDict(const Entry &e)
    {
        QString s = QString("<key>%1</key>\n<dict>\n<key>Track ID</key><integer>%1</integer>\n").arg(e.id);
        for (auto it = e.strings.begin(); it != e.strings.end(); ++it) {
            const QString type = it.key() == "Release Date" ? "date" : "string";
            s += QString("<key>%1</key><%2>%3</%2>\n")
                     .arg(it.key().toHtmlEscaped(), type, it.value().toHtmlEscaped());
        }
        for (auto it = e.integers.begin(); it != e.integers.end(); ++it)
            s += QString("<key>%1</key><integer>%2</integer>\n")
                     .arg(it.key().toHtmlEscaped())
                     .arg(it.value());
        return s + "</dict>\n";
    }

    static QString playlistDict(const QString &name, const QList<qint64> &ids, bool master = false)
    {
        QString s = QString("<dict>\n<key>Name</key><string>%1</string>\n").arg(name.toHtmlEscaped());
        if (master)
            s += "<key>Master</key><true/>\n";
        s += "<key>Playlist ID</key><integer>7</integer>\n<key>All Items</key><true/>\n";
        s += "<key>Playlist Items</key>\n<array>\n";
        for (const qint64 id : ids)
            s += QString("<dict>\n<key>Track ID</key><integer>%1</integer>\n</dict>\n").arg(id);
        return s + "</array>\n</dict>\n";
    }

    static QString plist(const QList<Entry> &entries, const QString &playlists)
    {
        QString s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<plist version=\"1.0\">\n<dict>\n"
                    "<key>Major Version</key><integer>1</integer>\n"
                    "<key>Tracks</key>\n<dict>\n";
        for (const Entry &e : entries)
            s += trackDict(e);
        s += "</dict>\n<key>Playlists</key>\n<array>\n" + playlists + "</array>\n";
        return s + "</dict>\n</plist>\n";
    }

    static QByteArray imageBytes(const char *format)
    {
        QImage image(6, 4, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 40));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    }

    static QByteArray box(const QByteArray &type, const QByteArray &payload)
    {
        QByteArray size(4, '\0');
        qToBigEndian<quint32>(quint32(payload.size() + 8), size.data());
        return size + type + payload;
    }

    // An artwork cache file: the "itch" header box, then an "item" box (inside "artw" when asked)
    // with its own header before the image data.
    static QByteArray itcFile(const QByteArray &image, bool inArtw)
    {
        QByteArray itch = box("itch", QByteArray(276, '\0'));
        QByteArray header(4, '\0');
        qToBigEndian<quint32>(208, header.data());
        header += QByteArray(16, '\x01') + "PNGf" + QByteArray(180, '\0');
        const QByteArray item = box("item", header + image);
        return itch + (inArtw ? box("artw", item) : item);
    }

    // The media of a small iTunes library and the library file that lists them.
    struct Library {
        QString xml;
        QString unicode, dawn, dawn2, night, bareSunrise, brokenSunrise, episode, book, movie, exact, over,
            nameless, nineties;
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
        lib.unicode = write(media + "/Ünïcødé/Sông #1 100%.M4A", "x");
        const QString picture = write(media + "/Band/Dawn/Cover.jpg", "x");

        const auto song = [](const QString &path, const char *name, const char *album, const char *artist) {
            return QMap<QString, QString>{{"Location", location(path)}, {"Name", name}, {"Album", album},
                {"Artist", artist}, {"Genre", "Pop"}};
        };
        // The album name padded, and a release date.
        QMap<QString, QString> dawn = song(lib.dawn, "Dawn", "  Dawn  ", "Band");
        dawn.insert("Release Date", "1999-03-10T08:00:00Z");
        QList<Entry> entries = {
            {1, dawn, {{"Bit Rate", 320}, {"Total Time", 8000}, {"Year", 2001}}},
            {2, song(lib.dawn2, "Noon", "Dawn", "Band"), {{"Bit Rate", 128}}},
            {3, song(lib.night, "Night", "Night", "Band"), {}},
            {4, song(lib.bareSunrise, "Bare", "Sunrise", "Band"), {}},
            {5, song(lib.brokenSunrise, "Broken", "Sunrise", "Band"), {}},
            {6, song(lib.episode, "Episode", "Show", "Host"), {}},
            {7, song(lib.book, "Chapter", "Story", "Reader"), {}},
            {8, song(lib.movie, "Clip", "Films", "Studio"), {{"Total Time", 0}}},
            {9, song(lib.exact, "Exact", "Edges", "Band"), {}},
            {10, song(lib.over, "Over", "Edges", "Band"), {}},
            {11, {{"Location", location(lib.nameless)}}, {}},
            {12, song(lib.nineties, "Nineties", "Decades", "Band"), {}},
            {13, song(music + "/Gone/gone.mp3", "Gone", "Gone", "Band"), {}},
            // Beyond 32 bits, without texts, a location without "localhost".
            {5000000000LL, {{"Location", location(lib.unicode, false)}}, {{"Total Time", 1000}}},
            {14, {{"Location", location(picture)}}, {}},
            {15, {{"Location", "http://radio.example.org/stream.mp3"}}, {}},
            {16, {{"Location", "file://server/share/song.mp3"}}, {}},
        };
        QString playlists = playlistDict(
            "Library", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 5000000000LL, 14, 15, 16}, true);
        playlists += playlistDict("Music", {1, 2, 3, 4, 5, 9, 10, 11, 13});
        playlists += playlistDict("Podcasts", {6});
        playlists += playlistDict("Books", {7});
        playlists += playlistDict("Movies", {8});
        playlists += playlistDict("Road Trip", {8, 999, 1});
        playlists += playlistDict("TV Shows", {3});
        playlists += playlistDict("PURCHASED", {1, 2});
        playlists += playlistDict("90\u2019s Music", {12});
        playlists += playlistDict("90's Music", {12});
        playlists += "<dict><key>Name</key><string>Genius</string><key>Folder</key><true/></dict>\n";
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

    void importLibrary()
    {
        const Library lib = makeLibrary();
        // Album "Night" has no picture of its own; the iTunes artwork cache holds one.
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        write(music + "/iTunes/Album Artwork/Cache/00/11/AAAA1111BBBB2222.itc2",
            itcFile(MediaGen::coverPng(Qt::cyan, QSize(40, 40)), false));
        track_data::setPersistentIdMap({{"Night", "AAAA1111BBBB2222"}});

        const QList<iTunedata> playlists = parseItunesLibraryXml(lib.xml);
        QCOMPARE(playlists.size(), 11);
        track_data importer;
        const TrackMap tracks = importer.importItunes(playlists, TrackMap());

        // Music 7 of 9 (one missing, one of exactly 102400 bytes), Podcasts, Books, Movies one each,
        // Road Trip two, TV Shows one, the ASCII "90's Music" one; Library, PURCHASED and
        // "90’s Music" are passed over.
        QCOMPARE(tracks.size(), 7 + 3 + 2 + 1 + 1);
        qint64 expectedKey = tracks.firstKey();
        for (auto it = tracks.cbegin(); it != tracks.cend(); ++it, ++expectedKey) {
            QVERIFY(it.key() == expectedKey && it.value().id == it.key() && it.value().source == 1);
        }
        QVERIFY(inPlaylist(tracks, lib.exact, "").isEmpty());
        QCOMPARE(inPlaylist(tracks, lib.over, "").value(0).filesize, qint64(102401));
        QVERIFY(readLog().contains("too small to be a track: " + lib.exact));

        // Kind lists set the flags and no playlist; user lists keep their name.
        const track dawn = inPlaylist(tracks, lib.dawn, "").value(0);
        QVERIFY(dawn.playlistId == 0 && !dawn.isPodcast && !dawn.isAudiobook && !dawn.isVideo);
        QVERIFY(dawn.quality == 2 && dawn.duration == 8.0);
        QVERIFY(inPlaylist(tracks, lib.episode, "").value(0).isPodcast);
        QVERIFY(inPlaylist(tracks, lib.book, "").value(0).isAudiobook);
        const track tvShow = inPlaylist(tracks, lib.night, "TV Shows").value(0);
        QVERIFY(tvShow.albumname == QLatin1String("TV Shows") && !tvShow.isPodcast && !tvShow.isAudiobook);
        QCOMPARE(inPlaylist(tracks, lib.nineties, "90's Music").size(), 1);
        QCOMPARE(inPlaylist(tracks, lib.nineties, "90\u2019s Music").size(), 0);

        // Covers: extracted once per album, from its first file; the artwork cache for an album
        // without a picture; the playlist image for user lists; the thumbnail for a video.
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        QCOMPARE(dawn.cover, artwork + "/Dawn.png");
        QVERIFY(dawn.hasCover && !dawn.missingMediaData);
        QCOMPARE(inPlaylist(tracks, lib.dawn2, "").value(0).cover, dawn.cover);
        const track night = inPlaylist(tracks, lib.night, "").value(0);
        QVERIFY(night.hasCover && QColor(QImage(night.cover).pixel(1, 1)) == QColor(Qt::cyan));
        const track sunrise = inPlaylist(tracks, lib.brokenSunrise, "").value(0);
        QCOMPARE(sunrise.cover, AppPaths().noArtworkUrl);
        QVERIFY(!sunrise.hasCover && sunrise.missingMediaData);
        QVERIFY(!readLog().contains("Embedded cover does not decode: " + lib.brokenSunrise));
        const track nameless = inPlaylist(tracks, lib.nameless, "").value(0);
        QVERIFY(!nameless.hasArtist && !nameless.hasAlbum && !nameless.hasTitle && nameless.missingMediaData);
        QVERIFY(!QFile::exists(artwork + "/Unknown Album.png"));
        const track trip = inPlaylist(tracks, lib.dawn, "Road Trip").value(0);
        QVERIFY(trip.albumname == QLatin1String("Road Trip") && trip.playlistId == trip.album_id);
        QCOMPARE(trip.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
        const track movie = inPlaylist(tracks, lib.movie, "").value(0);
        QVERIFY(movie.isVideo && movie.duration == 12.0);
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

    void locations()
    {
        QCOMPARE(itunesLocationToPath("file://localhost/Users/me/Music/A%20B.mp3"),
            QString("/Users/me/Music/A B.mp3"));
        QCOMPARE(itunesLocationToPath("file:///home/me/Caf%C3%A9.mp3"), QString("/home/me/Café.mp3"));
        QCOMPARE(itunesLocationToPath("file://LOCALHOST/x.mp3"), QString("/x.mp3"));
        QCOMPARE(itunesLocationToPath("file://server/share/x.mp3"), QString());
        QCOMPARE(itunesLocationToPath("http://example.org/x.mp3"), QString());
        QCOMPARE(itunesLocationToPath("/plain/path.mp3"), QString());
    }

    void parsesPlaylistsAndTracks()
    {
        const Library lib = makeLibrary();
        const QList<iTunedata> playlists = parseItunesLibraryXml(lib.xml);
        QCOMPARE(names(playlists),
            QStringList({"Library", "Music", "Podcasts", "Books", "Movies", "Road Trip", "TV Shows",
                "PURCHASED", "90\u2019s Music", "90's Music", "Genius"}));
        // Missing files, non-media suffixes, streams and remote files are left out.
        QCOMPARE(paths(playlists[0].tracks),
            QStringList({lib.dawn, lib.dawn2, lib.night, lib.bareSunrise, lib.brokenSunrise, lib.episode,
                lib.book, lib.movie, lib.exact, lib.over, lib.nameless, lib.nineties, lib.unicode}));
        // Unknown track ids are passed over; playlist order is kept.
        QCOMPARE(paths(playlists[5].tracks), QStringList({lib.movie, lib.dawn}));
        QVERIFY(playlists[10].tracks.isEmpty());

        const track dawn = playlists[1].tracks[0];
        QCOMPARE(dawn.source, qint16(1));
        QCOMPARE(dawn.albumname, QString("Dawn"));
        QCOMPARE(dawn.releaseDate, QString("03/10/1999"));
        QVERIFY(dawn.duration == 8.0 && dawn.bitrate == 320 && dawn.year == 2001);
        const track bare = playlists[0].tracks.last();
        QCOMPARE(bare.id, qint64(5000000000LL));
        QCOMPARE(QStringList({bare.albumname, bare.artistname, bare.trackname}),
            QStringList({"Unknown Album", "Unknown Artist", "Unknown Song"}));
        QVERIFY(playlists[4].tracks[0].isVideo && !playlists[3].tracks[0].isVideo);
    }

    // A library that cannot be read gives nothing; a cut-off or malformed one the playlists read
    // before the fault.
    void damagedLibraries()
    {
        const TestEnv &env = *m_env;
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot open the iTunes library"));
        QVERIFY(parseItunesLibraryXml(env.root() + "/missing.xml").isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("iTunes library .* line"));
        QVERIFY(parseItunesLibraryXml(write(env.root() + "/text.xml", "not xml at all")).isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no property list"));
        QVERIFY(parseItunesLibraryXml(write(env.root() + "/html.xml", "<html><body/></html>")).isEmpty());

        // A well-formed property list with neither tracks nor playlists.
        QVERIFY(parseItunesLibraryXml(write(env.root() + "/empty.xml", "<plist><dict/></plist>")).isEmpty());

        const Library lib = makeLibrary();
        QFile file(lib.xml);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();

        // Cut inside the fifth playlist: the first four are whole.
        const qsizetype movies = whole.indexOf("<string>Movies</string>");
        QVERIFY(movies > 0);
        const QString cutPlaylists = write(env.root() + "/cut1.xml", whole.left(movies + 4));
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cut1.xml"));
        const QList<iTunedata> partial = parseItunesLibraryXml(cutPlaylists);
        QCOMPARE(names(partial), QStringList({"Library", "Music", "Podcasts", "Books"}));
        QCOMPARE(paths(partial[3].tracks), QStringList({lib.book}));

        // Cut inside the tracks: no playlist was read.
        const QString cutTracks
            = write(env.root() + "/cut2.xml", whole.left(whole.indexOf("<key>Location</key>") + 10));
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cut2.xml"));
        QVERIFY(parseItunesLibraryXml(cutTracks).isEmpty());

        QByteArray bad = whole;
        // A mismatched end tag in the "Podcasts" playlist.
        const qsizetype podcasts = bad.indexOf("<string>Podcasts</string>");
        bad.replace(bad.indexOf("</dict>", podcasts), 7, "</dcit>");
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad.xml"));
        QCOMPARE(names(parseItunesLibraryXml(write(env.root() + "/bad.xml", bad))),
            QStringList({"Library", "Music"}));

        // Deep nesting inside a track is refused, without running out of stack.
        QByteArray deep = "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>x</key>";
        for (int i = 0; i < 100000; ++i)
            deep += "<array>";
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nested too deeply"));
        QVERIFY(parseItunesLibraryXml(write(env.root() + "/deep.xml", deep)).isEmpty());
    }

    void albumPersistentIds()
    {
        const TestEnv &env = *m_env;
        QList<Entry> entries;
        entries.append({1, {{"Album", " Album A "}, {"Persistent ID", "AAAA000000000001"}}, {}});
        entries.append({2, {{"Album", "Album A"}, {"Persistent ID", "AAAA000000000002"}}, {}});
        entries.append(
            {3, {{"Album", "Live: (1991)"}, {"Persistent ID", "BBBB"}, {"Album Persistent ID", "CCCC"}}, {}});
        entries.append({4, {{"Album", ""}, {"Persistent ID", "DDDD"}}, {}});
        entries.append({5, {{"Album", "No Id"}}, {}});
        const QString xml = write(env.root() + "/lib.xml", plist(entries, QString()).toUtf8());
        const QMap<QString, QString> ids = readAlbumPersistentIds(xml);
        const QMap<QString, QString> expected
            = {{"Album A", "AAAA000000000001"}, {"Live: (1991)", "CCCC"}, {"Live 1991", "CCCC"}};
        QCOMPARE(ids, expected);

        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot open"));
        QVERIFY(readAlbumPersistentIds(env.root() + "/missing.xml").isEmpty());
    }

    void imageInsideArtworkCacheData()
    {
        const QByteArray png = imageBytes("PNG");
        const QByteArray jpeg = imageBytes("JPEG");
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(png, true)), png);
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(png, false)), png);
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(jpeg, false)), jpeg);

        // No image, raw pixels, a cut file, a box size beyond the data, a zero size: nothing.
        QVERIFY(ItuneCoverArtExtracter::imageFromItc(itcFile(QByteArray(500, '\x7f'), true)).isEmpty());
        QVERIFY(ItuneCoverArtExtracter::imageFromItc(itcFile(png, true).left(400)).isEmpty());
        QByteArray lying = itcFile(png, false);
        qToBigEndian<quint32>(0x7fffffff, lying.data() + 284);
        QVERIFY(ItuneCoverArtExtracter::imageFromItc(lying).isEmpty());
        QVERIFY(ItuneCoverArtExtracter::imageFromItc(QByteArray(64, '\0')).isEmpty());
        QVERIFY(ItuneCoverArtExtracter::imageFromItc(QByteArray()).isEmpty());
        // A signature followed by junk is no image.
        QVERIFY(
            ItuneCoverArtExtracter::imageFromItc(box("item", png.left(8) + QByteArray(100, 'x'))).isEmpty());
    }

    void artworkFromTheCache()
    {
        const TestEnv &env = *m_env;
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(music.startsWith(env.root()));
        const QString cache = music + "/iTunes/Album Artwork/Cache/0123456789ABCDEF";
        write(cache + "/01/02/03/0123456789ABCDEF-FEDCBA9876543210.itc", itcFile(imageBytes("PNG"), true));
        write(cache + "/04/0123456789ABCDEF-1111222233334444.itc2", itcFile(imageBytes("JPEG"), false));
        write(cache + "/05/0123456789ABCDEF-5555666677778888.itc", QByteArray(300, 'x'));
        write(cache + "/06/0123456789ABCDEF-9999000011112222.jpg", imageBytes("JPEG"));

        ItuneCoverArtExtracter extracter;
        QCOMPARE(extracter.scanItunesArtwork("", "Album"), QString());

        const QString expected = AppPaths().artworkCachePath("Live: (1991)");
        QCOMPARE(extracter.scanItunesArtwork("FEDCBA9876543210", "Live: (1991)"), expected);
        QImage image(expected);
        QCOMPARE(image.size(), QSize(6, 4));
        QCOMPARE(image.pixelColor(1, 1), QColor(200, 30, 40));
        // Written through a temporary name: nothing else is left in the artwork folder.
        QCOMPARE(
            QDir(QFileInfo(expected).absolutePath()).entryList(QDir::Files), QStringList({"Live 1991.png"}));
        // A cover already there is reused as it is.
        const QDateTime written = QFileInfo(expected).lastModified();
        QCOMPARE(extracter.scanItunesArtwork("FEDCBA9876543210", "Live: (1991)"), expected);
        QCOMPARE(QFileInfo(expected).lastModified(), written);

        const QString fromJpeg = extracter.scanItunesArtwork("1111222233334444", "Other");
        QCOMPARE(fromJpeg, AppPaths().artworkCachePath("Other"));
        QCOMPARE(QImage(fromJpeg).size(), QSize(6, 4));

        // A cache file without an image, an id only other suffixes carry, an unknown id.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No PNG or JPEG image"));
        QCOMPARE(extracter.scanItunesArtwork("5555666677778888", "Broken"), QString());
        QVERIFY(!QFileInfo::exists(AppPaths().artworkCachePath("Broken")));
        QCOMPARE(extracter.scanItunesArtwork("9999000011112222", "Jpeg"), QString());
        QCOMPARE(extracter.scanItunesArtwork("NOSUCHID", "None"), QString());
    }
};

KIVO_TEST_MAIN(TestItunes)
#include "tst_itunes.moc"
