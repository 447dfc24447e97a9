#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"
#include "testenv.h"
#include "track.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QThreadPool>

#include <cmath>

class TestAppPaths : public QObject
{
    Q_OBJECT

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

    static QByteArray imageBytes(const char *format)
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    }

    static track albumTrack(const QString &folder, const QString &album, qint64 albumId)
    {
        track t{};
        t.folderLocation = folder;
        t.albumname = album;
        t.album_id = albumId;
        return t;
    }

    // Each log line's text after "<date time in Qt::TextDate> - ".
    static QStringList lines(const QString &path)
    {
        QStringList texts;
        for (const QString &line : QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts)) {
            const int dateEnd = line.indexOf(" - ");
            const bool dated
                = dateEnd > 0 && QDateTime::fromString(line.left(dateEnd), Qt::TextDate).isValid();
            texts << (dated ? line.mid(dateEnd + 3) : "no date: " + line);
        }
        return texts;
    }

    // What the program does at start: the debug log in the data folder, then its first line.
    static QString startProgram(bool startFresh = true)
    {
        const QString path = QDir(AppPaths().dataDir).filePath("debug.log");
        setLogFile(appLogFile(), path, startFresh);
        writeLog(appLogFile(), "Start KiVO", "");
        return path;
    }

private slots:
    void cleanup() { AppPaths().resetFolderAlbumCounts(); }

    void sanitizeName()
    {
        const AppPaths paths;
        QCOMPARE(paths.sanitizeName(" AC/DC: Don't (1991) \"Live\" Rós [1-2]; = "),
            "ACDC Dont 1991 Live Rós [1-2]; =");
        QCOMPARE(paths.sanitizeName(" ...() "), "");
        // The character class written out literally (its backslash only escapes the colon) removes
        // exactly what the helper removes.
        const QRegularExpression literal("[!/\\:*?<>|'+.()_&$%^#@~]");
        for (char c = 0x21; c < 0x7f; ++c) {
            const QString name = QString("a") + QLatin1Char(c) + "b";
            QCOMPARE(paths.sanitizeName(name), QString(name).remove(literal).remove('"'));
        }
    }

    // Names cut to what a file system holds: whole characters, the suffix kept and counted, no
    // trailing dot or space left by the cut, and a mark when two cut names meet.
    void namesFit()
    {
        const QString cjk = QString(100, QChar(0x97f3));  // three UTF-8 bytes each
        const QString album = albumFolderName("A" + cjk);  // 301 bytes
        QVERIFY(album.startsWith("A" + cjk.left(81) + " ") && album.toUtf8().size() == 253);
        QVERIFY(album != albumFolderName("A" + cjk + "B"));
        QCOMPARE(albumFolderName("A" + cjk, NameUnits::Utf16Units), "A" + cjk);
        QCOMPARE(albumFolderName(QString(300, '.')), QString("Unknown Album"));
        const QString cover = QFileInfo(AppPaths().artworkCachePath("A" + cjk)).fileName();
        QVERIFY(cover.endsWith(".png") && cover.toUtf8().size() <= 255);
        QVERIFY(cover != QFileInfo(AppPaths().artworkCachePath("A" + cjk + "B")).fileName());

        const QString title = QString(120, QChar(0x6f22)) + ".flac";
        const QString fitted = fitFileName(title, NameUnits::Utf8Bytes);
        QVERIFY(fitted.endsWith(".flac") && fitted.toUtf8().size() <= 255 && fitted.toUtf8().size() > 250);
        QCOMPARE(fitFileName(title, NameUnits::Utf16Units), title);
        // An emoji (a surrogate pair) with its skin tone is not split.
        const QString emoji = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD");
        QCOMPARE(fitName(QString(252, 'x') + emoji, NameUnits::Utf16Units), QString(252, 'x'));
        QCOMPARE(fitName(QString(253, 'x') + " . yz", NameUnits::Utf8Bytes), QString(253, 'x'));
        QCOMPARE(fitName("short. ", NameUnits::Utf8Bytes), QString("short. "));

        QSet<QString> taken{"x.mp3"};
        for (int i = 0; i < 3; ++i)
            taken.insert(uniqueName(QString(300, 'x'), ".mp3", NameUnits::Utf8Bytes,
                [&](const QString &name) { return !taken.contains(name); }));
        for (const QString &name : taken)
            QVERIFY(name == "x.mp3" || (name.size() == 255 && name.endsWith(".mp3")));
        QVERIFY(taken.contains(QString(247, 'x') + " (3).mp3"));
        QCOMPARE(taken.size(), 4);
    }

    // Each number read from a text or a border value, where a plausible slip gives a wrong figure.
    void numberBorders()
    {
        // Fewer than three parts, letters, "nan", "inf", overflow, a sign or more than a week must
        // give a finite figure from 0 to a week.
        const QList<QPair<QString, double>> cases = {{"00:03:25.12", 205.12}, {"12:34:56.78", 45296.78},
            {"3:25", 0}, {"N/A", 0}, {"00:00:10:99", 10}, {"xx:01:yy", 60}, {"00:00:nan", 0},
            {"00:01:inf", 60}, {"00:00:1e999", 0}, {"00:-8:00", 0}, {"-1:00:30", 0}, {"00:00:-5", 0},
            {"168:00:00", 604800}, {"168:00:01", 0}, {"99999999999:00:00", 0}};
        for (const auto &[text, seconds] : cases) {
            const double result = AppPaths().durationToSeconds(text);
            QVERIFY2(std::isfinite(result) && qAbs(result - seconds) < 1e-9, qPrintable(text));
        }
        const QList<QPair<QString, qint64>> names
            = {{"07 Intro", 7}, {"50 Title", 50}, {"51 Title", 0}, {"0 Title", 0}, {"12", 0}, {"12-Title", 0},
                {"12abc Title", 0}, {" 12 Title", 0}, {"12 ", 12}, {"0000000000000000000000000000007 x", 7},
                {"99999999999999999999999 x", 0}, {QString::fromUtf8("\u0661\u0662 x"), 0}, {"", 0}};
        for (const auto &[name, number] : names)
            QVERIFY2(AppPaths().splitLeadingNumber(name) == number, qPrintable(name));
        // Bytes of multi-byte characters are above 127: not digits, and must not trip isdigit.
        QVERIFY(isAllDigits("0123456789") && !isAllDigits("") && !isAllDigits("1\xc3\xa9"));
        const QList<QPair<int, int>> classes
            = {{-32768, 0}, {0, 0}, {128, 0}, {129, 1}, {255, 1}, {256, 2}, {32767, 2}};
        for (const auto &[bitrate, quality] : classes)
            QVERIFY2(bitrateClass(qint16(bitrate)) == quality, qPrintable(QString::number(bitrate)));
        QVERIFY(AppPaths().apiSourceName(0).isNull() && AppPaths().apiSourceName(5).isNull());
    }

    void clearTrackKeepsCoverUrlWithEmptyTexts()
    {
        track source{};  // null texts must come back as "", not null
        source.coverUrl = "http://127.0.0.1/cover.jpg";
        source.albumname = "Live";
        source.id = 5000000000LL;
        source.hasCover = true;
        const track t = AppPaths().clearTrack(source);
        QCOMPARE(t.coverUrl, source.coverUrl);
        for (const QString *text : {&t.reservedText1, &t.playlist, &t.codec, &t.filepath, &t.originalPath,
                 &t.filename, &t.artistname, &t.albumname, &t.trackname, &t.cover, &t.coverdata, &t.genre,
                 &t.comment, &t.releaseDate, &t.reservedText3, &t.folderLocation})
            QVERIFY(text->isEmpty() && !text->isNull());
        QVERIFY(t.id == 0 && !t.hasCover);
        source.coverUrl = QString();
        QVERIFY(AppPaths().clearTrack(source).coverUrl.isNull());
    }

    void albumCountsUseFullIdsAndCounts()
    {
        TestEnv env;
        AppPaths p;
        // Album ids that share their low 8 (or 32) bits are still two albums.
        for (const qint64 id : {3LL, 259LL, 5000000000LL, 5000000000LL + 4294967296LL})
            p.countFolderAlbumTrack(env.root() + (id < 300 ? "/mixed" : "/big"), id);
        QVERIFY(p.isMixedFolder(env.root() + "/mixed", true) && p.isMixedFolder(env.root() + "/big", true));
        p.resetFolderAlbumCounts();
        QVERIFY(!p.isMixedFolder(env.root() + "/mixed", false));

        // One album is mixed only when its tracks differ from the audio files; counts past 255 do not
        // wrap.
        const QString folder = env.root() + "/large";
        for (int i = 0; i < 266; ++i) {
            QVERIFY(touch(folder + (i ? QString("/%1.mp3").arg(i) : "/other.M4A")));
            p.countFolderAlbumTrack(folder, 7);
        }
        // Neither a picture nor a folder named like an audio file counts.
        QVERIFY(touch(folder + "/cover.jpg") && QDir().mkpath(folder + "/folder.mp3"));
        QVERIFY(!p.isMixedFolder(folder, false));
        QVERIFY(touch(folder + "/odd.mp3"));
        QVERIFY(p.isMixedFolder(folder, false));
        QVERIFY(!p.isMixedFolder(folder, true));
    }

    void copyFolderArtNeverOverwrites()
    {
        TestEnv env;
        const AppPaths p;
        const QString folder = env.root() + "/album";
        const QString target = env.appDataDir() + "/Artwork/Album";
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(p.copyFolderArt(folder, target), "");
        QVERIFY(touch(folder + "/folder.png", "PNGDATA"));
        QCOMPARE(p.copyFolderArt(folder, target), target + ".png");
        // An existing cover stays; folder.jpg wins over folder.png for a new one.
        QVERIFY(touch(folder + "/folder.jpg", "JPGDATA"));
        QCOMPARE(p.copyFolderArt(folder, target), target + ".png");
        QCOMPARE(readAll(target + ".png"), "PNGDATA");
        QCOMPARE(p.copyFolderArt(folder, target + "2"), target + "2.png");
        QCOMPARE(readAll(target + "2.png"), "JPGDATA");
    }

    void assignTrackArtworkOnlyToSingleAlbumFolders()
    {
        TestEnv env;
        AppPaths p;
        const QString single = env.root() + "/Single", mixed = env.root() + "/Mixed";
        for (const QString &folder : {single, mixed})
            QVERIFY(
                touch(folder + "/folder.jpg", "JPG") && touch(folder + "/1.mp3") && touch(folder + "/2.mp3"));
        TrackMap tracks{{1, albumTrack(single, "Live: (1991)", 70001)},
            {2, albumTrack(single, "Live: (1991)", 70001)}, {3, albumTrack(mixed, "First", 3)},
            {4, albumTrack(mixed, "Second", 259)}};
        for (const track &t : std::as_const(tracks))
            p.countFolderAlbumTrack(t.folderLocation, t.album_id);
        const TrackMap result = p.assignTrackArtwork(tracks, false);
        const QString cover = env.appDataDir() + "/Artwork/Live 1991.png";
        QVERIFY(result.value(1).hasCover && result.value(2).cover == cover);
        QCOMPARE(readAll(cover), "JPG");
        QVERIFY(!result.value(3).hasCover && !result.value(4).hasCover);
        QVERIFY(tracks.value(1).cover.isEmpty());  // the input map is not changed

        // No art for unknown albums, playlists or names that sanitize to nothing ("unknown" in
        // another case is a real name).
        p.resetFolderAlbumCounts();
        p.countFolderAlbumTrack(single, 1);
        track inPlaylist = albumTrack(single, "Road Trip", 1);
        inPlaylist.playlist = "Road Trip";
        const TrackMap skipped = p.assignTrackArtwork(
            {{1, albumTrack(single, "Unknown Album", 1)}, {2, inPlaylist}, {3, albumTrack(single, "...", 1)},
                {4, albumTrack(single, "unknown pleasures", 1)}},
            true);
        QVERIFY(!skipped.value(1).hasCover && !skipped.value(2).hasCover && !skipped.value(3).hasCover);
        QVERIFY(!QFileInfo::exists(env.appDataDir() + "/Artwork/.png"));
        QVERIFY(skipped.value(4).hasCover);
    }

    void coverFilesStayInsideTheArtworkFolder()
    {
        TestEnv env;
        QVERIFY(!QFileInfo::exists(AppPaths().dataDir));  // not made by merely asking for it
        const QString png = QString::fromLatin1(imageBytes("PNG").toBase64());
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        QVERIFY(isInsideArtworkFolder(artwork + "/Album.png"));
        for (const QString &path :
            {artwork, artwork + "/../escape.png", artwork + "Other/x.png", env.root() + "/music/cover.png"}) {
            QVERIFY2(!isInsideArtworkFolder(path), qPrintable(path));
            QVERIFY(!saveCoverImage(path, png));
        }
        QVERIFY(!QFileInfo::exists(env.root() + "/music/cover.png"));
        QVERIFY(!QFileInfo::exists(AppPaths().dataDir + "/escape.png"));
        QCOMPARE(fileToBase64(env.root() + "/missing.png"), "");

        // Saved once, never replaced; garbage is refused without leaving a temporary file.
        const QString path = AppPaths().artworkCachePath("Live: (1991)");
        QVERIFY(saveCoverImage(path, png));
        QCOMPARE(QImage(path).size(), QSize(4, 4));
        const QString first = fileToBase64(path);
        QVERIFY(!saveCoverImage(path, QString::fromLatin1(imageBytes("BMP").toBase64())));
        QCOMPARE(fileToBase64(path), first);
        const QString bad = AppPaths().artworkCachePath("Bad");
        QVERIFY(!saveCoverImage(bad, QString::fromLatin1(QByteArray("not an image").toBase64())));
        QVERIFY(!saveCoverImage(bad, "%%%"));
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList({"Live 1991.png"}));
    }
    void logStartsRestartsAndLineShape()
    {
        TestEnv env;
        QVERIFY(!QFileInfo::exists(env.appDataDir()));
        const QString path = startProgram();
        QCOMPARE(lines(path), QStringList{"Start KiVO"});
        const QByteArray errorLog = readAll(env.appDataDir() + "/error.log");
        QVERIFY(errorLog.endsWith(" : Starting application...\n"));
        closeLogFile(appLogFile());
        writeLog(appLogFile(), "after close", "");  // writing goes on after a close
        QCOMPARE(lines(path).size(), 2);
        // A second instance the user lets start keeps the running one's logs; a restart resets them.
        startProgram(false);
        QCOMPARE(lines(path).size(), 3);
        QCOMPARE(readAll(env.appDataDir() + "/error.log"), errorLog);
        startProgram();
        QCOMPARE(lines(path).size(), 1);

        AppLog log;
        writeLog(&log, "lost", "");  // no file name yet: nothing, and no crash
        writeLog(nullptr, "lost", "");
        closeLogFile(nullptr);
        setLogFile(&log, env.root() + "/logs/debug.log");
        writeLog(&log, "Copy: ", "");
        writeLog(&log, QString::fromUtf8("Björk – Jóga "), QString::fromUtf8("日本"));
        QCOMPARE(lines(env.root() + "/logs/debug.log"), QStringList({"Copy: ", "Björk – Jóga 日本"}));
        // A log whose folder cannot exist (a file stands in its way) fails quietly.
        QVERIFY(touch(env.root() + "/blocker"));
        setLogFile(&log, env.root() + "/blocker/debug.log");
        writeLog(&log, "lost", "");
        QVERIFY(QFileInfo(env.root() + "/blocker").isFile());
    }

    void manyThreadsLogAtOnce()
    {
        TestEnv env;
        const QString path = env.root() + "/threads/debug.log";
        setLogFile(appLogFile(), path);
        // Lines long enough that an unguarded writer would split them across buffer flushes.
        const QString padding(300, 'x');
        QThreadPool pool;
        pool.setMaxThreadCount(8);
        for (int t = 0; t < 8; ++t)
            pool.start([t, padding] {
                for (int i = 0; i < 400; ++i)
                    writeLog(appLogFile(), QString("thread %1 line %2 ").arg(t).arg(i), padding);
            });
        QVERIFY(pool.waitForDone(20000));

        const QRegularExpression shape("^thread (\\d+) line (\\d+) x{300}$");
        QSet<QString> seen;
        for (const QString &line : lines(path)) {
            const QRegularExpressionMatch m = shape.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
            seen.insert(m.captured(1) + ":" + m.captured(2));
        }
        QCOMPARE(seen.size(), 8 * 400);
    }
};

KIVO_TEST_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
