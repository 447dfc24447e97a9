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

// One text member of each element: names of playlists, paths of tracks.
template <typename T> QStringList field(const QList<T> &list, QString T::*member)
{
    QStringList result;
    for (const T &item : list)
        result << item.*member;
    return result;
}

track inPlaylist(const TrackMap &tracks, const QString &path, const QString &playlist = QString(""))
{
    for (const track &t : tracks) {
        if (t.filepath == path && t.playlist == playlist)
            return t;
    }
    return track{};
}

// The parser reports a damaged library on both channels.
void expectXmlProblem(const char *pattern)
{
    QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
}

}  // namespace

class TestItunes : public QObject
{
    Q_OBJECT

    QTemporaryDir m_sources;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;

    QString source(const QString &name) const { return m_sources.filePath(name); }
    QString at(const QString &name) const { return m_env->root() + "/" + name; }

    struct Entry {
        qint64 id;
        QMap<QString, QString> strings;
        QMap<QString, qint64> integers;
    };
    using Playlists = QList<std::pair<QString, QList<qint64>>>;

    // A library file of the given tracks and playlists (name, track ids), then `extra` playlists.
    static QByteArray plist(
        const QList<Entry> &entries, const Playlists &lists = {}, const QString &extra = {})
    {
        const auto item = [](const QString &key, const QString &type, const QString &value) {
            return QString("<key>%1</key><%2>%3</%2>\n")
                .arg(key.toHtmlEscaped(), type, value.toHtmlEscaped());
        };
        QString s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                    "<key>Major Version</key><integer>1</integer>\n<key>Tracks</key>\n<dict>\n";
        for (const Entry &e : entries) {
            s += QString("<key>%1</key>\n<dict>\n").arg(e.id)
                + item("Track ID", "integer", QString::number(e.id));
            for (auto it = e.strings.begin(); it != e.strings.end(); ++it)
                s += item(it.key(), it.key() == "Release Date" ? "date" : "string", it.value());
            for (auto it = e.integers.begin(); it != e.integers.end(); ++it)
                s += item(it.key(), "integer", QString::number(it.value()));
            s += "</dict>\n";
        }
        s += "</dict>\n<key>Playlists</key>\n<array>\n";
        for (const auto &[name, ids] : lists) {
            s += "<dict>\n" + item("Name", "string", name) + "<key>Playlist ID</key><integer>7</integer>\n"
                + "<key>All Items</key><true/>\n<key>Playlist Items</key>\n<array>\n";
            for (const qint64 id : ids)
                s += "<dict>\n" + item("Track ID", "integer", QString::number(id)) + "</dict>\n";
            s += "</array>\n</dict>\n";
        }
        return (s + extra + "</array>\n</dict>\n</plist>\n").toUtf8();
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
        QByteArray header(4, '\0');
        qToBigEndian<quint32>(208, header.data());
        header += QByteArray(16, '\x01') + "PNGf" + QByteArray(180, '\0');
        const QByteArray item = box("item", header + image);
        return box("itch", QByteArray(276, '\0')) + (inArtw ? box("artw", item) : item);
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
        const QList<Entry> entries = {
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
        const Playlists lists
            = {{"Library", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 5000000000LL, 14, 15, 16}},
                {"Music", {1, 2, 3, 4, 5, 9, 10, 11, 13}}, {"Podcasts", {6}}, {"Books", {7}}, {"Movies", {8}},
                {"Road Trip", {8, 999, 1}}, {"TV Shows", {3}}, {"PURCHASED", {1, 2}},
                {"90\u2019s Music", {12}}, {"90's Music", {12}}};
        lib.xml = write(music + "/iTunes/iTunes Music Library.xml",
            plist(entries, lists,
                "<dict><key>Name</key><string>Genius</string><key>Folder</key><true/></dict>\n"));
        return lib;
    }

    qint64 count(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery query(Database::threadConnection());
        if (!query.prepare(sql))
            return -1;
        for (const QVariant &value : values)
            query.addBindValue(value);
        return query.exec() && query.next() ? query.value(0).toLongLong() : -1;
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
        track_data reset;
        reset.systemVideoSupported = false;
        reset.videoSupported();
        track_data::setPersistentIdMap({});
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void locations()
    {
        const QList<std::pair<const char *, QString>> rows = {
            {"file://localhost/Users/me/Music/A%20B.mp3", "/Users/me/Music/A B.mp3"},
            {"file:///home/me/Caf%C3%A9.mp3", "/home/me/Café.mp3"}, {"file://LOCALHOST/x.mp3", "/x.mp3"},
            {"file://server/share/x.mp3", ""}, {"http://example.org/x.mp3", ""}, {"/plain/path.mp3", ""},
            {"file://localhost/G:/My%20Music/x.mp3", "G:/My Music/x.mp3"}, {"file:///c:/x.mp3", "c:/x.mp3"}};
        for (const auto &[url, path] : rows)
            QCOMPARE(itunesLocationToPath(url), path);
    }

    void importLibrary()
    {
        const Library lib = makeLibrary();
        // Album "Night" has no picture of its own; the iTunes artwork cache holds one.
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        write(music + "/iTunes/Album Artwork/Cache/00/11/AAAA1111BBBB2222.itc2",
            itcFile(MediaGen::coverPng(Qt::cyan, QSize(40, 40)), false));
        track_data::setPersistentIdMap({{"Night", "AAAA1111BBBB2222"}});

        track_data importer;
        importer.systemVideoSupported = true;
        importer.videoSupported();
        const QList<iTunedata> playlists = parseItunesLibraryXml(lib.xml);
        QCOMPARE(field(playlists, &iTunedata::name),
            QStringList({"Library", "Music", "Podcasts", "Books", "Movies", "Road Trip", "TV Shows",
                "PURCHASED", "90\u2019s Music", "90's Music", "Genius"}));
        // Missing files, non-media suffixes, streams and remote files are left out.
        QCOMPARE(field(playlists[0].tracks, &track::filepath),
            QStringList({lib.dawn, lib.dawn2, lib.night, lib.bareSunrise, lib.brokenSunrise, lib.episode,
                lib.book, lib.movie, lib.exact, lib.over, lib.nameless, lib.nineties, lib.unicode}));
        // Unknown track ids are passed over; playlist order is kept.
        QCOMPARE(field(playlists[5].tracks, &track::filepath), QStringList({lib.movie, lib.dawn}));
        QVERIFY(playlists[10].tracks.isEmpty());
        const track parsed = playlists[1].tracks[0];
        QCOMPARE(QStringList({parsed.albumname, parsed.releaseDate}), QStringList({"Dawn", "03/10/1999"}));
        QVERIFY(parsed.source == 1 && parsed.duration == 8.0 && parsed.bitrate == 320 && parsed.year == 2001);
        const track bare = playlists[0].tracks.last();
        QCOMPARE(bare.id, qint64(5000000000LL));
        QCOMPARE(QStringList({bare.albumname, bare.artistname, bare.trackname}),
            QStringList({"Unknown Album", "Unknown Artist", "Unknown Song"}));
        QVERIFY(playlists[4].tracks[0].isVideo && !playlists[3].tracks[0].isVideo);

        // A stop request ends the import before its first entry.
        importer.cancelSearch = true;
        QVERIFY(importer.importItunes(playlists, TrackMap()).isEmpty());
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(0));
        importer.cancelSearch = false;

        // Music 7 of 9 (one missing, one of exactly 102400 bytes), Podcasts, Books, Movies one each,
        // Road Trip two, TV Shows one, the ASCII "90's Music" one; Library, PURCHASED and
        // "90’s Music" are passed over.
        const TrackMap tracks = importer.importItunes(playlists, TrackMap());
        QCOMPARE(tracks.size(), 7 + 3 + 2 + 1 + 1);
        qint64 expectedKey = tracks.firstKey();
        for (auto it = tracks.cbegin(); it != tracks.cend(); ++it, ++expectedKey)
            QVERIFY(it.key() == expectedKey && it.value().id == it.key() && it.value().source == 1);
        QVERIFY(inPlaylist(tracks, lib.exact).filepath.isEmpty());
        QCOMPARE(inPlaylist(tracks, lib.over).filesize, qint64(102401));
        QVERIFY(readLog().contains("too small to be a track: " + lib.exact));

        // Kind lists set the flags and no playlist; user lists keep their name.
        const track dawn = inPlaylist(tracks, lib.dawn);
        QVERIFY(dawn.playlistId == 0 && !dawn.isPodcast && !dawn.isAudiobook && !dawn.isVideo);
        QVERIFY(dawn.quality == 2 && dawn.duration == 8.0);
        QVERIFY(inPlaylist(tracks, lib.episode).isPodcast && inPlaylist(tracks, lib.book).isAudiobook);
        const track tvShow = inPlaylist(tracks, lib.night, "TV Shows");
        QVERIFY(tvShow.albumname == QLatin1String("TV Shows") && !tvShow.isPodcast && !tvShow.isAudiobook);
        QVERIFY(inPlaylist(tracks, lib.nineties, "90's Music").id > 0);
        QCOMPARE(inPlaylist(tracks, lib.nineties, "90\u2019s Music").id, qint64(0));

        // Covers: extracted once per album, from the first of its files that carries a picture (Sunrise's
        // only one does not decode); the artwork cache for an album without a picture; the playlist
        // image for user lists; the thumbnail for a video.
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        QVERIFY(dawn.cover == artwork + "/Dawn.png" && dawn.hasCover && !dawn.missingMediaData);
        QCOMPARE(inPlaylist(tracks, lib.dawn2).cover, dawn.cover);
        const track night = inPlaylist(tracks, lib.night);
        QVERIFY(night.hasCover && QColor(QImage(night.cover).pixel(1, 1)) == QColor(Qt::cyan));
        const track sunrise = inPlaylist(tracks, lib.brokenSunrise);
        QVERIFY(sunrise.cover == AppPaths().noArtworkUrl && !sunrise.hasCover && sunrise.missingMediaData);
        QVERIFY(readLog().contains("Embedded cover does not decode: " + lib.brokenSunrise));
        const track nameless = inPlaylist(tracks, lib.nameless);
        QVERIFY(!nameless.hasArtist && !nameless.hasAlbum && !nameless.hasTitle && nameless.missingMediaData);
        QVERIFY(!QFile::exists(artwork + "/Unknown Album.png"));
        const track trip = inPlaylist(tracks, lib.dawn, "Road Trip");
        QVERIFY(trip.albumname == QLatin1String("Road Trip") && trip.playlistId == trip.album_id);
        QCOMPARE(trip.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
        const track movie = inPlaylist(tracks, lib.movie);
        QVERIFY(movie.isVideo && movie.duration == 12.0);
        QVERIFY(movie.cover.startsWith(AppPaths::dataLocation() + AppPaths().videoArtworkDir));
        QCOMPARE(inPlaylist(tracks, lib.movie, "Road Trip").cover, movie.cover);

        // Every track is cached; a user list's member under the album "Unknown ablum".
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(tracks.size()));
        QCOMPARE(count("SELECT count(*) FROM TrackRepo r JOIN albumsRepo a ON a.id = r.album_id "
                       "WHERE r.filepath = ? AND r.Playlist = 'Road Trip' AND a.name = 'Unknown ablum'",
                     {lib.dawn}),
            qint64(1));

        // A second import goes on with the next keys and keeps the album ids.
        const TrackMap again = importer.importItunes(playlists, TrackMap());
        QCOMPARE(again.firstKey(), tracks.lastKey() + 1);
        QCOMPARE(inPlaylist(again, lib.dawn).album_id, dawn.album_id);
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), qint64(tracks.size()));

        // A folder scan after it neither repeats nor skips a key, and the next import neither. The
        // iTunes media folder is the import's, not the scan's.
        QVERIFY(importer.scanFolder(QDir(QFileInfo(lib.dawn).absolutePath() + "/..")).isEmpty());
        const TrackMap fromScan = importer.scanFolder(QDir(QFileInfo(lib.over).absolutePath()));
        QVERIFY(fromScan.size() == 3 && fromScan.firstKey() == again.lastKey() + 1);
        QCOMPARE(importer.importItunes(playlists, TrackMap()).firstKey(), fromScan.lastKey() + 1);

        // A car that plays no video gets none of the library's videos.
        importer.systemVideoSupported = false;
        importer.videoSupported();
        const QList<iTunedata> withoutVideo = parseItunesLibraryXml(lib.xml);
        QVERIFY(withoutVideo[4].tracks.isEmpty());
        for (const track &t : importer.importItunes(withoutVideo, TrackMap()))
            QVERIFY(!t.isVideo && t.filepath != lib.movie);
    }

    // A library exported in another language: its own playlists are known by their keys, so no
    // track comes twice nor takes a playlist's name as its album. An album whose first file has no
    // picture takes the next one's; one whose files carry none, its folder's "folder.jpg". A
    // location on a Windows drive is logged as missing.
    void localisedLibrary()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString late1 = copy(source("bare.mp3"), music + "/Late/01.mp3");
        const QString late2 = copy(source("red.mp3"), music + "/Late/02.mp3");
        const QString late3 = copy(source("bare.mp3"), music + "/Late/03.mp3");
        const QString plain1 = copy(source("bare.mp3"), music + "/Plain/01.mp3");
        const QString plain2 = copy(source("bare.mp3"), music + "/Plain/02.mp3");
        const QString episode = copy(source("bare.mp3"), music + "/Balados/01.mp3");
        write(music + "/Plain/folder.jpg", imageBytes("JPEG"));
        const auto song = [](const QString &path, const char *album) {
            return QMap<QString, QString>{
                {"Location", location(path)}, {"Name", "Song"}, {"Album", album}, {"Artist", "Band"}};
        };
        const QList<Entry> entries = {{1, song(late1, "Late"), {}}, {2, song(late2, "Late"), {}},
            {3, song(late3, "Late"), {}}, {4, song(plain1, "Plain"), {}}, {5, song(plain2, "Plain"), {}},
            {6, song(episode, "Show"), {}}, {7, {{"Location", "file://localhost/G:/Musik/weg.mp3"}}, {}}};
        const QByteArray xml
            = plist(entries,
                {{"Mediathek", {1, 2, 3, 4, 5, 6, 7}}, {"Musik", {1, 2, 3, 4, 5, 7}}, {"Balados", {6}},
                    {"Gekauft", {1}}, {"Favoriten", {2}}})
                  .replace("<string>Mediathek</string>", "<string>Mediathek</string><key>Master</key><true/>")
                  .replace("<string>Musik</string>",
                      "<string>Musik</string><key>Distinguished Kind</key><integer>4</integer>")
                  .replace("<string>Balados</string>",
                      "<string>Balados</string><key>Distinguished Kind</key><integer>10</integer>")
                  .replace("<string>Gekauft</string>",
                      "<string>Gekauft</string><key>Distinguished Kind</key><integer>19</integer>");

        track_data importer;
        const TrackMap tracks
            = importer.importItunes(parseItunesLibraryXml(write(at("lib.xml"), xml)), TrackMap());
        QCOMPARE(tracks.size(), 5 + 1 + 1);
        QVERIFY(readLog().contains("iTunes entry skipped, its file is missing: G:/Musik/weg.mp3"));
        QVERIFY(inPlaylist(tracks, episode).isPodcast);
        QCOMPARE(inPlaylist(tracks, late2, "Favoriten").albumname, QStringLiteral("Favoriten"));
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        for (const QString &file : {late1, late2, late3, plain1, plain2}) {
            const track t = inPlaylist(tracks, file);
            const QString album = file.contains("/Late/") ? "Late" : "Plain";
            QVERIFY2(t.albumname == album && t.cover == artwork + "/" + album + ".png" && t.hasCover
                    && !t.missingMediaData,
                qPrintable(file));
        }
        QCOMPARE(QColor(QImage(artwork + "/Late.png").pixel(1, 1)), QColor(Qt::red));
    }

    // The library's artwork ids are read when the controller is built, so a folder scan finds
    // iTunes artwork before any iTunes import.
    void artworkBeforeImport()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        MediaGen::Audio media;
        media.seconds = 8;
        media.bitrateKbps = 128;
        media.tags = {{"title", "Dusk"}, {"album", "Dusk"}, {"artist", "Band"}};
        QVERIFY(MediaGen::makeAudio(music + "/Scanned/01 Dusk.mp3", media).isEmpty());
        write(music + "/iTunes/Album Artwork/Cache/00/DDDD2222EEEE3333.itc2",
            itcFile(MediaGen::coverPng(Qt::cyan, QSize(40, 40)), false));
        write(music + "/iTunes/iTunes Music Library.xml",
            plist({{1, {{"Album", "Dusk"}, {"Persistent ID", "DDDD2222EEEE3333"}}, {}}}));
        track_data::loadItunesArtworkIds();
        track_data scanner;
        const TrackMap tracks = scanner.scanFolder(QDir(music + "/Scanned"));
        QVERIFY(tracks.size() == 1 && tracks.first().hasCover);
        QCOMPARE(QColor(QImage(tracks.first().cover).pixel(1, 1)), QColor(Qt::cyan));
    }

    // A library that cannot be read gives nothing; a cut-off or malformed one the playlists read
    // before the fault.
    void damagedLibraries()
    {
        expectXmlProblem("Cannot open the iTunes library");
        QVERIFY(parseItunesLibraryXml(at("missing.xml")).isEmpty());
        expectXmlProblem("iTunes library .* line");
        QVERIFY(parseItunesLibraryXml(write(at("text.xml"), "not xml at all")).isEmpty());
        expectXmlProblem("no property list");
        QVERIFY(parseItunesLibraryXml(write(at("html.xml"), "<html><body/></html>")).isEmpty());
        // A well-formed property list with neither tracks nor playlists.
        QVERIFY(parseItunesLibraryXml(write(at("empty.xml"), "<plist><dict/></plist>")).isEmpty());

        const Library lib = makeLibrary();
        QFile file(lib.xml);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();

        // Cut inside the fifth playlist: the first four are whole.
        const qsizetype movies = whole.indexOf("<string>Movies</string>");
        QVERIFY(movies > 0);
        expectXmlProblem("cut1.xml");
        const QList<iTunedata> partial = parseItunesLibraryXml(write(at("cut1.xml"), whole.left(movies + 4)));
        QCOMPARE(field(partial, &iTunedata::name), QStringList({"Library", "Music", "Podcasts", "Books"}));
        QCOMPARE(field(partial[3].tracks, &track::filepath), QStringList({lib.book}));

        // Cut inside the tracks: no playlist was read.
        expectXmlProblem("cut2.xml");
        QVERIFY(parseItunesLibraryXml(
            write(at("cut2.xml"), whole.left(whole.indexOf("<key>Location</key>") + 10)))
                    .isEmpty());

        // A mismatched end tag in the "Podcasts" playlist.
        QByteArray bad = whole;
        bad.replace(bad.indexOf("</dict>", bad.indexOf("<string>Podcasts</string>")), 7, "</dcit>");
        expectXmlProblem("bad.xml");
        QCOMPARE(field(parseItunesLibraryXml(write(at("bad.xml"), bad)), &iTunedata::name),
            QStringList({"Library", "Music"}));

        // Deep nesting inside a track is refused, without running out of stack.
        const QByteArray deep = "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>x</key>"
            + QByteArray("<array>").repeated(100000);
        expectXmlProblem("nested too deeply");
        QVERIFY(parseItunesLibraryXml(write(at("deep.xml"), deep)).isEmpty());
    }

    void albumPersistentIds()
    {
        const QList<Entry> entries = {
            {1, {{"Album", " Album A "}, {"Persistent ID", "AAAA000000000001"}}, {}},
            {2, {{"Album", "Album A"}, {"Persistent ID", "AAAA000000000002"}}, {}},
            {3, {{"Album", "Live: (1991)"}, {"Persistent ID", "BBBB"}, {"Album Persistent ID", "CCCC"}}, {}},
            {4, {{"Album", ""}, {"Persistent ID", "DDDD"}}, {}}, {5, {{"Album", "No Id"}}, {}}};
        const QMap<QString, QString> expected
            = {{"Album A", "AAAA000000000001"}, {"Live: (1991)", "CCCC"}, {"Live 1991", "CCCC"}};
        QCOMPARE(readAlbumPersistentIds(write(at("lib.xml"), plist(entries))), expected);
        expectXmlProblem("Cannot open");
        QVERIFY(readAlbumPersistentIds(at("missing.xml")).isEmpty());
    }

    // Images inside artwork cache files, and covers written from the cache.
    void artworkCache()
    {
        const QByteArray png = imageBytes("PNG");
        const QByteArray jpeg = imageBytes("JPEG");
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(png, true)), png);
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(png, false)), png);
        QCOMPARE(ItuneCoverArtExtracter::imageFromItc(itcFile(jpeg, false)), jpeg);

        // Raw pixels, a cut file, a box size beyond the data, a zero size, nothing at all, a
        // signature followed by junk: no image.
        QByteArray lying = itcFile(png, false);
        qToBigEndian<quint32>(0x7fffffff, lying.data() + 284);
        for (const QByteArray &bad : {itcFile(QByteArray(500, '\x7f'), true), itcFile(png, true).left(400),
                 lying, QByteArray(64, '\0'), QByteArray(), box("item", png.left(8) + QByteArray(100, 'x'))})
            QVERIFY(ItuneCoverArtExtracter::imageFromItc(bad).isEmpty());

        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(music.startsWith(m_env->root()));
        const QString cache = music + "/iTunes/Album Artwork/Cache/0123456789ABCDEF";
        write(cache + "/01/02/03/0123456789ABCDEF-FEDCBA9876543210.itc", itcFile(png, true));
        write(cache + "/04/0123456789ABCDEF-1111222233334444.itc2", itcFile(jpeg, false));
        write(cache + "/05/0123456789ABCDEF-5555666677778888.itc", QByteArray(300, 'x'));
        write(cache + "/06/0123456789ABCDEF-9999000011112222.jpg", jpeg);

        ItuneCoverArtExtracter extracter;
        QCOMPARE(extracter.scanItunesArtwork("", "Album"), QString());
        const QString expected = AppPaths().artworkCachePath("Live: (1991)");
        QCOMPARE(extracter.scanItunesArtwork("FEDCBA9876543210", "Live: (1991)"), expected);
        const QImage image(expected);
        QVERIFY(image.size() == QSize(6, 4) && image.pixelColor(1, 1) == QColor(200, 30, 40));
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
