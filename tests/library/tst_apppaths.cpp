#include "apppaths.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>

class TestAppPaths : public QObject
{
    Q_OBJECT

private:
    static bool touch(const QString &path, const QByteArray &content = "x")
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }

    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QByteArray jpegBytes()
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG");
        return bytes;
    }

    static track albumTrack(qint64 id, const QString &folder, const QString &album, qint64 albumId)
    {
        track t{};
        t.id = id;
        t.folderLocation = folder;
        t.albumname = album;
        t.album_id = albumId;
        return t;
    }

private slots:
    void cleanup() { AppPaths().resetFolderAlbumCounts(); }

    void constants()
    {
        const AppPaths a;
        const AppPaths b;
        QVERIFY(a.spare1.isEmpty() && !a.spare1.isNull());
        QVERIFY(a.spare2.isEmpty() && !a.spare2.isNull());
        QCOMPARE(a.artworkDir, QString("/Corvane-Media-Rarazarur/Artwork"));
        QCOMPARE(a.videoArtworkDir, QString("/Corvane-Media-Rarazarur/Artwork/Video"));
        QCOMPARE(a.downloadArtworkDir, QString("/Corvane-Media-Rarazarur/Artwork/Download"));
        QCOMPARE(a.noArtworkUrl, QString("qrc:///resources/photos/no_artwork.png"));
        QVERIFY(a.dataDir.endsWith("/Corvane-Media-Rarazarur"));
        QVERIFY(!a.dataDir.endsWith("/"));
        QCOMPARE(a.unknown, QString("Unknown"));
        QCOMPARE(a.unknownSong, QString("Unknown Song"));
        QCOMPARE(a.unknownPath, QString("Unknown Path"));
        QCOMPARE(a.dataDir, b.dataDir);
        QCOMPARE(a.unknownGenre, b.unknownGenre);
        QVERIFY(a.discogsSearchUrl.endsWith("/database/search?page=1&type=release&q="));

        // The data folder follows XDG_DATA_HOME and is not made by the constants.
        TestEnv env;
        const AppPaths fresh;
        QCOMPARE(fresh.dataDir, env.appDataDir());
        QVERIFY(!QFileInfo::exists(fresh.dataDir));
    }

    void sanitizeName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("slash colon parens") << "AC/DC: Live (1991)"
                                            << "ACDC Live 1991";
        QTest::newRow("blanks and apostrophe") << " Don't Stop "
                                               << "Dont Stop";
        QTest::newRow("backslash stays") << "A\\B"
                                         << "A\\B";
        QTest::newRow("double quotes") << "\"Heroes\""
                                       << "Heroes";
        QTest::newRow("every listed character") << "a!/:*?<>|'+.()_&$%^#@~b"
                                                << "ab";
        QTest::newRow("dots and underscores") << "Vol._2"
                                              << "Vol2";
        QTest::newRow("kept characters") << "Sigur Rós - Ágætis byrjun [Live], 1-2; ="
                                         << "Sigur Rós - Ágætis byrjun [Live], 1-2; =";
        QTest::newRow("only removed characters") << " ...() "
                                                 << "";
    }

    void sanitizeName()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(AppPaths().sanitizeName(name), expected);
    }

    void sanitizeMatchesItsLiteralPattern()
    {
        // The documented class, written as a QRegularExpression, removes exactly what the helper
        // removes for every printable ASCII character.
        const QRegularExpression literal(QStringLiteral("[!/\\:*?<>|'+.()_&$%^#@~]"));
        QVERIFY(literal.isValid());
        const AppPaths paths;
        for (char c = 0x21; c < 0x7f; ++c) {
            const QString name = QStringLiteral("a") + QLatin1Char(c) + QStringLiteral("b");
            QString expected = name;
            expected.remove(literal).remove(QLatin1Char('"'));
            QCOMPARE(paths.sanitizeName(name), expected);
        }
    }

    void durationToSeconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("seconds");
        QTest::newRow("ffmpeg duration") << "00:03:25.12" << 205.12;
        QTest::newRow("ffmpeg status time") << "00:01:23.45" << 83.45;
        QTest::newRow("one hour") << "1:00:00" << 3600.0;
        QTest::newRow("long") << "12:34:56.78" << 45296.78;
        QTest::newRow("two parts") << "3:25" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("N/A") << "N/A" << 0.0;
        QTest::newRow("extra parts ignored") << "00:00:10:99" << 10.0;
        QTest::newRow("letters count 0") << "xx:01:yy" << 60.0;
        QTest::newRow("empty parts") << "::" << 0.0;
        QTest::newRow("nan seconds") << "00:00:nan" << 0.0;
        QTest::newRow("inf seconds") << "00:01:inf" << 60.0;
        QTest::newRow("overflowing seconds") << "00:00:1e999" << 0.0;
    }

    void durationToSeconds()
    {
        QFETCH(QString, text);
        QFETCH(double, seconds);
        const double result = AppPaths().durationToSeconds(text);
        QVERIFY(std::isfinite(result));
        QVERIFY2(qAbs(result - seconds) < 1e-9, qPrintable(QString::number(result, 'g', 17)));
    }

    void splitLeadingNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("number");
        QTest::newRow("07 title") << "07 Intro" << qint64(7);
        QTest::newRow("50 is counted") << "50 Title" << qint64(50);
        QTest::newRow("51 is not") << "51 Title" << qint64(0);
        QTest::newRow("0") << "0 Title" << qint64(0);
        QTest::newRow("only a number") << "12" << qint64(0);
        QTest::newRow("no blank") << "12-Title" << qint64(0);
        QTest::newRow("not all digits") << "12abc Title" << qint64(0);
        QTest::newRow("no leading digit") << "Track 12" << qint64(0);
        QTest::newRow("leading blank") << " 12 Title" << qint64(0);
        QTest::newRow("trailing blank") << "12 " << qint64(12);
        QTest::newRow("many zeros") << "0000000000000000000000000000007 x" << qint64(7);
        QTest::newRow("huge") << "99999999999999999999999 x" << qint64(0);
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661\u0662 x") << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
    }

    void splitLeadingNumber()
    {
        QFETCH(QString, name);
        QFETCH(qint64, number);
        QCOMPARE(AppPaths().splitLeadingNumber(name), number);
    }

    void isAllDigitsBorders()
    {
        QVERIFY(isAllDigits("0123456789"));
        QVERIFY(!isAllDigits(""));
        QVERIFY(!isAllDigits("12a"));
        QVERIFY(!isAllDigits(" 1"));
        QVERIFY(!isAllDigits("-1"));
        // Bytes of multi-byte characters are above 127; they are not digits and must not trip isdigit.
        QVERIFY(!isAllDigits("1\xc3\xa9"));
        QVERIFY(!isAllDigits("\xd9\xa1"));
    }

    void apiSourceNames()
    {
        const AppPaths p;
        QCOMPARE(p.apiSourceName(1), QString("LOCAL"));
        QCOMPARE(p.apiSourceName(2), QString("MUSICBRAINZ"));
        QCOMPARE(p.apiSourceName(3), QString("DISCOGS"));
        QCOMPARE(p.apiSourceName(4), QString("FINGUREPRINT"));
        QVERIFY(p.apiSourceName(0).isNull());
        QVERIFY(p.apiSourceName(5).isNull());
        QVERIFY(p.apiSourceName(-1).isNull());
    }

    void countAudioFiles()
    {
        TestEnv env;
        const QString folder = env.root() + "/album";
        for (const char *name : {"a.mp3", "b.M4A", "c.flac", "d.ogg", "e.ape", "f.aif", "g.wma", "h.wav"})
            QVERIFY(touch(folder + "/" + name));
        for (const char *name : {"cover.jpg", "notes.txt", "list.m3u", "video.mp4", "mp3"})
            QVERIFY(touch(folder + "/" + name));
        QVERIFY(touch(folder + "/sub/deeper.mp3"));
        QVERIFY(QDir().mkpath(folder + "/folder.mp3"));  // a folder named like a file is not a file
        const AppPaths p;
        QCOMPARE(p.countAudioFiles(folder), 8);
        QCOMPARE(p.countAudioFiles(env.root() + "/missing"), 0);
        QCOMPARE(p.countAudioFiles(QString()), 0);
    }

    void albumCountsUseTheFullAlbumId()
    {
        TestEnv env;
        const QString folder = env.root() + "/mixed";
        AppPaths p;
        p.resetFolderAlbumCounts();
        // Album ids that share their low 8 bits are still two albums.
        p.countFolderAlbumTrack(folder, 3);
        p.countFolderAlbumTrack(folder, 259);
        QVERIFY(p.isMixedFolder(folder, true));
        QVERIFY(p.isMixedFolder(folder, false));

        const QString big = env.root() + "/big";
        p.countFolderAlbumTrack(big, 5000000000LL);
        p.countFolderAlbumTrack(big, 5000000000LL + 4294967296LL);
        QVERIFY(p.isMixedFolder(big, true));

        p.resetFolderAlbumCounts();
        QVERIFY(!p.isMixedFolder(folder, true));
        QVERIFY(!p.isMixedFolder(folder, false));
    }

    void singleAlbumFolderAgainstFileCount()
    {
        TestEnv env;
        const QString folder = env.root() + "/single";
        for (int i = 0; i < 10; ++i)
            QVERIFY(touch(QString("%1/%2.mp3").arg(folder).arg(i)));
        AppPaths p;
        for (int i = 0; i < 10; ++i)
            p.countFolderAlbumTrack(folder, 42);
        QVERIFY(!p.isMixedFolder(folder, false));
        QVERIFY(!p.isMixedFolder(folder, true));

        QVERIFY(touch(folder + "/10.mp3"));
        QVERIFY(p.isMixedFolder(folder, false));
        QVERIFY(!p.isMixedFolder(folder, true));

        // Counts past 255 do not wrap: 266 files and 266 tracks are one album.
        const QString large = env.root() + "/large";
        for (int i = 0; i < 266; ++i) {
            QVERIFY(touch(QString("%1/%2.mp3").arg(large).arg(i)));
            p.countFolderAlbumTrack(large, 7);
        }
        QVERIFY(!p.isMixedFolder(large, false));
        QVERIFY(touch(large + "/odd.mp3"));
        // 267 files, 266 tracks: with 8-bit counts 267 and 266 would read 11 and 10.
        QVERIFY(p.isMixedFolder(large, false));
        // A file count of 10 would equal the wrapped count 266 % 256 had counts been 8-bit.
        const QString wrap = env.root() + "/wrap";
        for (int i = 0; i < 10; ++i)
            QVERIFY(touch(QString("%1/%2.mp3").arg(wrap).arg(i)));
        for (int i = 0; i < 266; ++i)
            p.countFolderAlbumTrack(wrap, 8);
        QVERIFY(p.isMixedFolder(wrap, false));
    }

    void copyFolderArt()
    {
        TestEnv env;
        const AppPaths p;
        const QString folder = env.root() + "/album";
        QVERIFY(QDir().mkpath(folder));
        const QString target = env.appDataDir() + "/Artwork/Album";

        // Neither folder.jpg nor folder.png, no target: "".
        QCOMPARE(p.copyFolderArt(folder, target), QString(""));
        QVERIFY(!QFileInfo::exists(target + ".png"));

        // folder.png is used when there is no folder.jpg; the cache folder is made.
        QVERIFY(touch(folder + "/folder.png", "PNGDATA"));
        QCOMPARE(p.copyFolderArt(folder, target), target + ".png");
        QCOMPARE(readAll(target + ".png"), QByteArray("PNGDATA"));

        // An existing cover is never overwritten.
        QVERIFY(touch(folder + "/folder.jpg", jpegBytes()));
        QCOMPARE(p.copyFolderArt(folder, target), target + ".png");
        QCOMPARE(readAll(target + ".png"), QByteArray("PNGDATA"));

        // folder.jpg wins over folder.png and keeps its bytes under the ".png" name.
        const QString second = env.appDataDir() + "/Artwork/Second";
        QCOMPARE(p.copyFolderArt(folder, second), second + ".png");
        QCOMPARE(readAll(second + ".png"), jpegBytes());
        // The sources are left as they were.
        QCOMPARE(readAll(folder + "/folder.png"), QByteArray("PNGDATA"));

        // An existing target with no source at all is still reported.
        QCOMPARE(p.copyFolderArt(env.root() + "/nothing", second), second + ".png");
    }

    void artworkCachePath()
    {
        TestEnv env;
        const AppPaths p;
        QCOMPARE(p.artworkCachePath("AC/DC: Live (1991)"),
            env.dataHome() + "/Corvane-Media-Rarazarur/Artwork/ACDC Live 1991.png");
    }

    void assignTrackArtwork()
    {
        TestEnv env;
        AppPaths p;
        const QString root = env.root() + "/music";
        const QString single = root + "/Single";
        const QString mixed = root + "/Mixed";
        const QString bare = root + "/Bare";
        for (const QString &folder : {single, mixed, bare})
            QVERIFY(QDir().mkpath(folder));
        QVERIFY(touch(single + "/folder.jpg", jpegBytes()));
        QVERIFY(touch(mixed + "/folder.jpg", jpegBytes()));
        for (const char *name : {"1.mp3", "2.mp3"}) {
            QVERIFY(touch(single + "/" + name));
            QVERIFY(touch(mixed + "/" + name));
            QVERIFY(touch(bare + "/" + name));
        }

        TrackMap tracks;
        tracks.insert(1, albumTrack(1, single, "Live: (1991)", 70001));
        tracks.insert(2, albumTrack(2, single, "Live: (1991)", 70001));
        // Albums 3 and 259 share their low 8 bits, yet they are two albums: no folder art.
        tracks.insert(3, albumTrack(3, mixed, "First", 3));
        tracks.insert(4, albumTrack(4, mixed, "Second", 259));
        tracks.insert(5, albumTrack(5, bare, "Bare", 9));
        tracks.insert(6, albumTrack(6, bare, "Bare", 9));
        p.resetFolderAlbumCounts();
        for (const track &t : std::as_const(tracks))
            p.countFolderAlbumTrack(t.folderLocation, t.album_id);

        const TrackMap result = p.assignTrackArtwork(tracks, false);
        QCOMPARE(result.size(), 6);
        const QString cover = env.appDataDir() + "/Artwork/Live 1991.png";
        QCOMPARE(result.value(1).cover, cover);
        QVERIFY(result.value(1).hasCover);
        QCOMPARE(result.value(2).cover, cover);
        QCOMPARE(readAll(cover), jpegBytes());
        for (qint64 id : {3, 4, 5, 6}) {
            QVERIFY(result.value(id).cover.isEmpty());
            QVERIFY(!result.value(id).hasCover);
        }
        QVERIFY(!QFileInfo::exists(env.appDataDir() + "/Artwork/First.png"));
        // The input map is not changed.
        QVERIFY(tracks.value(1).cover.isEmpty());
    }

    void assignTrackArtworkSkips()
    {
        TestEnv env;
        AppPaths p;
        const QString folder = env.root() + "/music/One";
        QVERIFY(touch(folder + "/folder.png", "PNG"));
        QVERIFY(touch(folder + "/1.mp3"));

        TrackMap tracks;
        tracks.insert(1, albumTrack(1, folder, "Unknown Album", 1));
        track inPlaylist = albumTrack(2, folder, "Road Trip", 1);
        inPlaylist.playlist = "Road Trip";
        tracks.insert(2, inPlaylist);
        tracks.insert(3, albumTrack(3, folder, "...", 1));  // sanitizes to nothing
        p.resetFolderAlbumCounts();
        p.countFolderAlbumTrack(folder, 1);

        // Skipping the file count: three tracks counted once each would otherwise not matter.
        const TrackMap result = p.assignTrackArtwork(tracks, true);
        for (const track &t : result)
            QVERIFY2(!t.hasCover && t.cover.isEmpty(), qPrintable(t.albumname));
        QVERIFY(!QFileInfo::exists(env.appDataDir() + "/Artwork/.png"));
        QVERIFY(!QFileInfo::exists(env.appDataDir() + "/Artwork/Unknown Album.png"));
        QVERIFY(!QFileInfo::exists(env.appDataDir() + "/Artwork/Road Trip.png"));

        // "unknown" in another letter case is a real album name.
        TrackMap lower;
        lower.insert(1, albumTrack(1, folder, "unknown pleasures", 1));
        QVERIFY(p.assignTrackArtwork(lower, true).value(1).hasCover);
    }

    void isWow64IsZeroHere() { QCOMPARE(AppPaths().isWow64(), 0); }
};

KIVO_TEST_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
