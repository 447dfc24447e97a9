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
    track build(track_data &data, const QString &file)
    {
        tagInfo info;
        if (!data.readFileTags(info, file))
            return track{};
        track t = AppPaths().clearTrack(track{});
        t.filepath = t.originalPath = file;
        const QFileInfo fi(file);
        data.buildTrack(m_key, t, info, fi, false, QString(), false, track_data::isAudioFile(fi.suffix()));
        return t;
    }

    static MediaGen::Audio tagged(const QString &title, const QString &album, bool cover = false)
    {
        MediaGen::Audio media;
        media.cover = cover;
        media.tags = {{"title", title}, {"artist", "Band"}, {"album", album}};
        return media;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
    }

    void everyFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("holdsCover");
        for (const char *suffix : {"mp3", "m4a", "flac", "wma", "aiff"})
            QTest::newRow(suffix) << QString::fromLatin1(suffix) << true;
        QTest::newRow("ogg") << "ogg" << false;
        QTest::newRow("wav") << "wav" << false;
    }

    // Each format becomes a complete track in the result map and the repository; its cover lands
    // in the artwork folder, fit to 110 px.
    void everyFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, holdsCover);
        MediaGen::Audio media = tagged(" Song " + suffix + " ", "Album " + suffix, holdsCover);
        media.seconds = 2;
        media.bitrateKbps = suffix == QLatin1String("ogg") ? 64 : 96;  // Vorbis tops out near 64k here
        media.tags["genre"] = "Jazz";
        media.tags["date"] = "1999";
        media.tags["track"] = "3";
        const QString file = path("formats/" + suffix + "/song." + suffix);
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));

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
        QCOMPARE(QStringList({t.trackname, t.albumname, t.genre}),
            QStringList({"Song " + suffix, "Album " + suffix, "Jazz"}));
        QVERIFY(t.year == 1999 && t.tracknumber == 3 && t.duration == 2.0 && t.frequency == 22050);
        QVERIFY(t.bitrate > 0 && t.quality == bitrateClass(t.bitrate));
        QVERIFY(t.hasTitle && t.hasArtist && t.hasAlbum && !t.isVideo);
        QCOMPARE(t.filesize, QFileInfo(file).size());
        QCOMPARE(t.folderLocation, path("formats/" + suffix));

        const QString cover = artworkFolder() + "/Album " + suffix + ".png";
        QCOMPARE(t.cover, holdsCover ? cover : AppPaths().noArtworkUrl);
        QCOMPARE(t.hasCover, holdsCover);
        QCOMPARE(t.missingMediaData, !holdsCover);
        QCOMPARE(QFile::exists(cover), holdsCover);
        if (holdsCover) {
            const QImage image(cover);
            QCOMPARE(image.size(), QSize(110, 73));
            QCOMPARE(QColor(image.pixel(50, 30)), QColor(Qt::red));
        }

        {
            QSqlQuery query(Database::threadConnection());
            QVERIFY(query.prepare(
                QStringLiteral("SELECT count(*), max(trackname) FROM TrackRepo WHERE filepath = ?")));
            query.addBindValue(file);
            QVERIFY(query.exec() && query.next());
            QCOMPARE(query.value(0).toInt(), 1);
            QCOMPARE(query.value(1).toString(), t.trackname);
        }
        Database::close();
        // Counted once for its folder and album: one more count makes the folder mixed.
        QVERIFY(!paths.isMixedFolder(t.folderLocation, false));
        paths.countFolderAlbumTrack(t.folderLocation, t.album_id);
        QVERIFY(paths.isMixedFolder(t.folderLocation, false));
        QCOMPARE(track_data::scanTrackMap().value(t.id).filepath, file);
    }

    // One album, one cover: a later file's picture never replaces the first one's.
    void coverOncePerAlbum()
    {
        track_data data;
        MediaGen::Audio media = tagged("One", "Shared Album", true);
        media.coverColor = Qt::blue;
        QVERIFY(MediaGen::makeAudio(path("shared/one.mp3"), media).isEmpty());
        media.tags["artist"] = "Other Band";
        media.coverColor = Qt::green;
        QVERIFY(MediaGen::makeAudio(path("shared/two.flac"), media).isEmpty());

        const track one = build(data, path("shared/one.mp3"));
        const QString cover = artworkFolder() + "/Shared Album.png";
        QCOMPARE(one.cover, cover);
        const QDateTime written = QFileInfo(cover).lastModified();
        const track two = build(data, path("shared/two.flac"));
        QCOMPARE(two.cover, cover);
        QCOMPARE(QFileInfo(cover).lastModified(), written);
        QCOMPARE(QColor(QImage(cover).pixel(5, 5)), QColor(Qt::blue));
        QVERIFY(two.album_id == one.album_id && two.artist_id != one.artist_id && two.id == one.id + 1);
        QCOMPARE(TagLibBuilder().extractCoverArt(cover, path("shared/two.flac")), QStringLiteral(""));
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
        QCOMPARE(t.albumname, QStringLiteral("Unknown Album"));
        QVERIFY(!t.hasArtist && !t.hasAlbum && !t.hasCover && t.missingMediaData);
        QFile::remove(file);
    }

    // A fresh data folder: the whole artwork folder chain is made for the first cover.
    void artworkFolderMade()
    {
        TestEnv fresh;
        QVERIFY(MediaGen::makeAudio(path("first.m4a"), tagged("First", "First Album", true)).isEmpty());
        track_data data;
        const track t = build(data, path("first.m4a"));
        QVERIFY(t.cover.startsWith(fresh.appDataDir() + "/Artwork/"));
        QVERIFY(t.hasCover && QFile::exists(t.cover));
    }

    // A picture that does not decode leaves no file behind, not even a temporary one.
    void brokenCover()
    {
        const QString file = path("broken.mp3");
        QVERIFY(MediaGen::makeAudio(file, tagged("Broken", "Broken Cover")).isEmpty());
        QVERIFY(MediaGen::attachCover(file, QByteArray(5000, 'x')).isEmpty());
        track_data data;
        const track t = build(data, file);
        QCOMPARE(t.cover, AppPaths().noArtworkUrl);
        QVERIFY(t.missingMediaData);
        QVERIFY(readLog().contains(QStringLiteral("Embedded cover does not decode: ") + file));
        for (const QString &name : QDir(artworkFolder()).entryList(QDir::Files | QDir::Hidden))
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
        const QString inside = artworkFolder() + "/sub/deeper/cover.png";
        QCOMPARE(builder.extractCoverArt(inside, file), inside);
        QVERIFY(!QImage(inside).isNull());
        for (const QString &target : {path("elsewhere/cover.png"), artworkFolder() + "/../escape.png"}) {
            QCOMPARE(builder.extractCoverArt(target, file), QStringLiteral(""));
            QVERIFY(!QFile::exists(target));
        }
    }

    void bordersOfNumbers_data()
    {
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("quality");
        QTest::newRow("128") << 128 << 0;
        QTest::newRow("129") << 129 << 1;
        QTest::newRow("256") << 256 << 2;
        QTest::newRow("absurd") << 1000000 << 2;
    }

    // Quality classes at their borders, a track number beyond 16 bits clamped, placeholder texts
    // not taken as tags.
    void bordersOfNumbers()
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
        QVERIFY(!t.hasArtist && t.hasAlbum);
        QCOMPARE(t.albumname, QStringLiteral("Album"));
    }

    // Names are told apart by case, and ids never wrap at 16 bits.
    void idsOfNames()
    {
        QMap<QString, qint64> ids;
        qint64 counter = 1;
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        QCOMPARE(track_data::assignNameId(ids, "road songs", counter), qint64(3));
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        counter = 40000;
        QCOMPARE(track_data::assignNameId(ids, "Far", counter), qint64(40001));
    }
};

KIVO_TEST_MAIN(TestTrackBuild)
#include "tst_trackbuild.moc"
