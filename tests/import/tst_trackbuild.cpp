#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "mediagen.h"
#include "taglibbuilder.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
QString artworkFolder()
{
    return AppPaths::dataLocation() + AppPaths().artworkDir;
}

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
}  // namespace

class TestTrackBuild : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    qint64 m_key = 1;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Reads the file and builds its track as a scan does.
    track build(track_data &data, const QString &file, bool video = false, bool fromPlaylist = false,
        const QString &playlist = QString())
    {
        tagInfo info;
        if (!data.readFileTags(info, file))
            return track{};
        track t = AppPaths().clearTrack(track{});
        t.filepath = t.originalPath = file;
        const QFileInfo fi(file);
        data.buildTrack(
            m_key, t, info, fi, fromPlaylist, playlist, video, track_data::isAudioFile(fi.suffix()));
        return t;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
        // The data folder is this test's own.
        QVERIFY(AppPaths::dataLocation().startsWith(QDir::cleanPath(qEnvironmentVariable("XDG_DATA_HOME"))));
        QVERIFY(qEnvironmentVariable("XDG_DATA_HOME").contains(QDir::tempPath()));
    }

    void everyFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("holdsCover");
        QTest::newRow("mp3") << "mp3" << true;
        QTest::newRow("m4a") << "m4a" << true;
        QTest::newRow("flac") << "flac" << true;
        QTest::newRow("wma") << "wma" << true;
        QTest::newRow("aiff") << "aiff" << true;
        QTest::newRow("ogg") << "ogg" << false;
        QTest::newRow("wav") << "wav" << false;
    }

    // Each format becomes a complete track; its cover lands in the artwork folder, fit to 110 px.
    void everyFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, holdsCover);
        MediaGen::Audio media;
        media.seconds = 2;
        media.bitrateKbps
            = suffix == QLatin1String("ogg") ? 64 : 96;  // Vorbis tops out near 64k at 22 kHz mono
        media.cover = holdsCover;
        media.tags = {{"title", " Song " + suffix + " "}, {"artist", "Artist " + suffix},
            {"album", "Album " + suffix}, {"genre", "Jazz"}, {"date", "1999"}, {"track", "3"}};
        const QString file = path("formats/" + suffix + "/song." + suffix);
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        // With a library file open, the built track goes into the repository cache.
        Database database;
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY2(database.initStructure(), qPrintable(database.lastError()));
        AppPaths paths;
        paths.resetFolderAlbumCounts();

        track_data data;
        const qint64 key = m_key;
        const track t = build(data, file);

        QCOMPARE(m_key, key + 1);
        QCOMPARE(t.id, key);
        QCOMPARE(t.trackname, "Song " + suffix);
        QCOMPARE(t.artistname, "Artist " + suffix);
        QCOMPARE(t.albumname, "Album " + suffix);
        QCOMPARE(t.genre, QStringLiteral("Jazz"));
        QCOMPARE(t.year, qint16(1999));
        QCOMPARE(t.tracknumber, qint16(3));
        QCOMPARE(t.duration, 2.0);
        QCOMPARE(t.frequency, qint64(22050));
        QVERIFY(t.bitrate > 0);
        QCOMPARE(t.quality, bitrateClass(t.bitrate));
        QVERIFY(t.hasTitle && t.hasArtist && t.hasAlbum);
        QCOMPARE(t.filename, "song." + suffix);
        QCOMPARE(t.filesize, QFileInfo(file).size());
        QCOMPARE(t.folderLocation, path("formats/" + suffix));
        QVERIFY(t.album_id >= 2);
        QVERIFY(t.artist_id >= 2);
        QVERIFY(!t.isVideo);
        QCOMPARE(t.playlist, QStringLiteral(""));

        const QString cover = artworkFolder() + "/Album " + suffix + ".png";
        if (holdsCover) {
            QCOMPARE(t.cover, cover);
            QVERIFY(t.hasCover);
            QVERIFY(!t.missingMediaData);
            const QImage image(cover);
            QCOMPARE(image.size(), QSize(110, 73));
            QCOMPARE(QColor(image.pixel(50, 30)), QColor(Qt::red));
        } else {
            QCOMPARE(t.cover, AppPaths().noArtworkUrl);
            QVERIFY(!t.hasCover);
            QVERIFY(t.missingMediaData);
            QVERIFY(!QFile::exists(cover));
        }

        {
            QSqlQuery query(Database::threadConnection());
            QVERIFY(query.prepare(QStringLiteral(
                "SELECT count(*), max(trackname), max(folderLocation) FROM TrackRepo WHERE filepath = ?")));
            query.addBindValue(file);
            QVERIFY(query.exec() && query.next());
            QCOMPARE(query.value(0).toInt(), 1);
            QCOMPARE(query.value(1).toString(), t.trackname);
            QCOMPARE(query.value(2).toString(), t.folderLocation);
        }
        Database::close();

        // Counted once for its folder and album: one count against the folder's one audio file.
        QVERIFY(!paths.isMixedFolder(t.folderLocation, false));
        paths.countFolderAlbumTrack(t.folderLocation, t.album_id);
        QVERIFY(paths.isMixedFolder(t.folderLocation, false));
        QCOMPARE(track_data::scanTrackMap().value(t.id).filepath, file);
    }

    // One album, one cover: the second file's picture never replaces the first one's.
    void coverOncePerAlbum()
    {
        track_data data;
        MediaGen::Audio media;
        media.cover = true;
        media.tags = {{"title", "One"}, {"artist", "Band"}, {"album", "Shared Album"}};
        media.coverColor = Qt::blue;
        QVERIFY(MediaGen::makeAudio(path("shared/one.mp3"), media).isEmpty());
        media.tags["title"] = "Two";
        media.tags["artist"] = "Other Band";
        media.coverColor = Qt::green;
        QVERIFY(MediaGen::makeAudio(path("shared/two.flac"), media).isEmpty());
        media.tags = {{"title", "Three"}, {"artist", "Band"}, {"album", "Next Album"}};
        QVERIFY(MediaGen::makeAudio(path("shared/three.mp3"), media).isEmpty());

        const track one = build(data, path("shared/one.mp3"));
        const QString cover = artworkFolder() + "/Shared Album.png";
        QCOMPARE(one.cover, cover);
        const QDateTime written = QFileInfo(cover).lastModified();
        const track two = build(data, path("shared/two.flac"));
        const track three = build(data, path("shared/three.mp3"));
        QCOMPARE(two.cover, cover);
        QCOMPARE(QFileInfo(cover).lastModified(), written);
        QCOMPARE(QColor(QImage(cover).pixel(5, 5)), QColor(Qt::blue));
        QCOMPARE(two.album_id, one.album_id);
        QVERIFY(two.artist_id != one.artist_id);
        QCOMPARE(three.artist_id, one.artist_id);
        QVERIFY(three.album_id > one.album_id);
        QVERIFY(two.id == one.id + 1 && three.id == two.id + 1);

        TagLibBuilder builder;
        QCOMPARE(builder.extractCoverArt(cover, path("shared/two.flac")), QStringLiteral(""));
        QCOMPARE(QDir(artworkFolder()).entryList({"Shared*"}, QDir::Files).size(), 1);
    }

    void titleFromFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasTitle");
        QTest::newRow("plain") << "Song.mp3"
                               << "Song" << true;
        QTest::newRow("upper suffix") << "Loud.MP3"
                                      << "Loud" << true;
        QTest::newRow("track word") << "Track 07.mp3"
                                    << "Track 07" << false;
        QTest::newRow("only suffix") << ".mp3"
                                     << "" << false;
        QTest::newRow("unicode") << "Мелодія 旋律 🎸.mp3"
                                 << "Мелодія 旋律 🎸" << true;
    }

    // A file without any tag is taken with the default texts and its file name as title.
    void titleFromFileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QFETCH(bool, hasTitle);
        const QString file = path("names/" + name);
        QVERIFY(MediaGen::makeAudio(path("names/plain.mp3")).isEmpty());
        QVERIFY(QFile::rename(path("names/plain.mp3"), file));
        track_data data;
        const track t = build(data, file);
        QCOMPARE(t.trackname, title);
        QCOMPARE(t.hasTitle, hasTitle);
        QCOMPARE(t.filename, name);
        QCOMPARE(t.artistname, QStringLiteral("Unknown Artist"));
        QCOMPARE(t.albumname, QStringLiteral("Unknown Album"));
        QVERIFY(!t.hasArtist && !t.hasAlbum);
        QCOMPARE(t.cover, QStringLiteral(""));
        QVERIFY(!t.hasCover);
        QVERIFY(t.missingMediaData);
        QFile::remove(file);
    }

    // A fresh data folder: the whole artwork folder chain is made for the first cover.
    void artworkFolderMade()
    {
        TestEnv fresh;
        QVERIFY(!QFile::exists(AppPaths().dataDir));
        MediaGen::Audio media;
        media.cover = true;
        media.tags = {{"title", "First"}, {"artist", "Band"}, {"album", "First Album"}};
        QVERIFY(MediaGen::makeAudio(path("first.m4a"), media).isEmpty());
        track_data data;
        const track t = build(data, path("first.m4a"));
        QVERIFY(t.cover.startsWith(fresh.appDataDir() + "/Artwork/"));
        QVERIFY(t.hasCover);
        QVERIFY(QFile::exists(t.cover));
    }

    // A picture that does not decode leaves no file behind.
    void brokenCover()
    {
        MediaGen::Audio media;
        media.tags = {{"title", "Broken"}, {"artist", "Band"}, {"album", "Broken Cover"}};
        const QString file = path("broken.mp3");
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        QVERIFY(MediaGen::attachCover(file, QByteArray(5000, 'x')).isEmpty());
        track_data data;
        const track t = build(data, file);
        QVERIFY(!QFile::exists(artworkFolder() + "/Broken Cover.png"));
        QCOMPARE(t.cover, AppPaths().noArtworkUrl);
        QVERIFY(t.missingMediaData);
        QVERIFY(readLog().contains(QStringLiteral("Embedded cover does not decode: ") + file));
        const QStringList left = QDir(artworkFolder()).entryList(QDir::Files | QDir::Hidden);
        for (const QString &name : left)
            QVERIFY2(
                !name.startsWith("Broken") && !name.contains("tmp", Qt::CaseInsensitive), qPrintable(name));
    }

    // Covers are only written inside the artwork folder.
    void coverOutsideArtworkFolder()
    {
        MediaGen::Audio media;
        media.cover = true;
        const QString file = path("outside.m4a");
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        TagLibBuilder builder;
        const QString target = path("elsewhere/cover.png");
        QCOMPARE(builder.extractCoverArt(target, file), QStringLiteral(""));
        QVERIFY(!QFile::exists(target));
        const QString inside = artworkFolder() + "/sub/deeper/cover.png";
        QCOMPARE(builder.extractCoverArt(inside, file), inside);
        QVERIFY(!QImage(inside).isNull());
        const QString escaping = artworkFolder() + "/../escape.png";
        QCOMPARE(builder.extractCoverArt(escaping, file), QStringLiteral(""));
        QVERIFY(!QFile::exists(escaping));
    }

    // An album without a picture of its own takes the iTunes artwork cache image.
    void itunesArtworkCache()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(music.startsWith(qEnvironmentVariable("HOME")));
        const QString cacheFile = music + "/iTunes/Album Artwork/Cache/AB/12/0000ABCDEF123456-77.itc2";
        QDir().mkpath(QFileInfo(cacheFile).absolutePath());
        {
            QFile out(cacheFile);
            QVERIFY(out.open(QIODevice::WriteOnly));
            // One "item" box: a big-endian size, the type, a header, then the image bytes.
            const QByteArray payload
                = QByteArray(200, '\x01') + MediaGen::coverPng(Qt::yellow, QSize(40, 40));
            const quint32 size = quint32(8 + payload.size());
            const char header[4] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
            out.write(header, 4);
            out.write("item");
            out.write(payload);
        }
        track_data::setPersistentIdMap({{"Cached Album", "ABCDEF123456"}});
        MediaGen::Audio media;
        media.tags = {{"title", "Cached"}, {"artist", "Band"}, {"album", "Cached Album"}};
        QVERIFY(MediaGen::makeAudio(path("cached.ogg"), media).isEmpty());
        track_data data;
        const track t = build(data, path("cached.ogg"));
        QVERIFY(t.hasCover);
        QVERIFY(t.missingMediaData);
        QVERIFY(t.cover.startsWith(artworkFolder()));
        QCOMPARE(QColor(QImage(t.cover).pixel(1, 1)), QColor(Qt::yellow));
        track_data::setPersistentIdMap({});
    }

    void playlistItem()
    {
        MediaGen::Audio media;
        media.tags = {{"title", "Listed"}, {"artist", "Band"}, {"album", "Real Album"}};
        QVERIFY(MediaGen::makeAudio(path("listed.mp3"), media).isEmpty());
        track_data data;
        const track t = build(data, path("listed.mp3"), false, true, QStringLiteral(" Road Trip "));
        QCOMPARE(t.albumname, QStringLiteral("Road Trip"));
        QCOMPARE(t.playlist, QStringLiteral(" Road Trip "));
        QCOMPARE(t.playlistId, t.album_id);
        QCOMPARE(t.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
        QVERIFY(!t.hasCover);
        QVERIFY(!t.isVideo);
    }

    void video()
    {
        const QString file = path("Holiday Clip.MP4");
        QVERIFY(MediaGen::makeVideo(file, 2).isEmpty());
        track_data data;
        const track t = build(data, file, true);
        QVERIFY(t.isVideo);
        QCOMPARE(t.duration, 2.0);
        QCOMPARE(t.cover, AppPaths::dataLocation() + AppPaths().videoArtworkDir + "/Holiday Clip.png");
        QVERIFY(!QImage(t.cover).isNull());
    }

    void qualityAndNumbers_data()
    {
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("quality");
        QTest::newRow("128") << 128 << 0;
        QTest::newRow("129") << 129 << 1;
        QTest::newRow("255") << 255 << 1;
        QTest::newRow("256") << 256 << 2;
        QTest::newRow("absurd") << 1000000 << 2;
    }

    void qualityAndNumbers()
    {
        QFETCH(int, bitrate);
        QFETCH(int, quality);
        tagInfo info;
        info.title = toTString("T");
        info.artist = toTString("Unknown Artist");
        info.album = toTString(" Album ");
        info.bitrate = bitrate;
        info.length = 245;
        info.track = 70000;
        const QString file = path("numbers.wav");
        QVERIFY(QFile::exists(file) || MediaGen::makeAudio(file).isEmpty());
        track_data data;
        track t = AppPaths().clearTrack(track{});
        data.buildTrack(m_key, t, info, QFileInfo(file), false, QString(), false, true);
        QCOMPARE(t.quality, qint16(quality));
        QCOMPARE(t.duration, 245.0);
        QCOMPARE(t.tracknumber, qint16(32767));
        QVERIFY(!t.hasArtist);
        QVERIFY(t.hasAlbum);
        QCOMPARE(t.albumname, QStringLiteral("Album"));
    }

    void idsOfNames()
    {
        QMap<QString, qint64> ids;
        qint64 counter = 1;
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        QCOMPARE(track_data::assignNameId(ids, "road songs", counter), qint64(3));
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        QCOMPARE(counter, qint64(3));
        // Ids never wrap at 16 bits.
        counter = 40000;
        QCOMPARE(track_data::assignNameId(ids, "Far", counter), qint64(40001));
    }
};

KIVO_TEST_MAIN(TestTrackBuild)
#include "tst_trackbuild.moc"
