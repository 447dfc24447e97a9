#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "kivodb.h"
#include "storewriter.h"
#include "tempfiles.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QTimer>

#include <memory>

#include <sys/time.h>

namespace {

// Quotes, apostrophes, SQL wildcards and characters beyond Latin-1.
const QString kOdd = QStringLiteral("Ünïcødé \"q\" it's 100%_x 日本語 ");
const QString kFolder = QStringLiteral("/music/Some Folder");

void touch(const QStringList &paths)
{
    for (const QString &path : paths) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("audio") == 5);
    }
}

bool exec(const QString &sql)
{
    return QSqlQuery(Database::threadConnection()).exec(sql);
}

QString cell(const QString &sql)
{
    QSqlQuery query(Database::threadConnection());
    return query.exec(sql) && query.next() ? query.value(0).toString() : QString("<none>");
}

// Row counts of the tables named, as "3 3 4".
QString counts(const QString &tables)
{
    QStringList result;
    for (const QString &table : tables.split(' '))
        result << cell("SELECT count(*) FROM " + table);
    return result.join(' ');
}

QString lib(const QString &relative)
{
    return kivoDB::libraryRoot() + QLatin1Char('/') + relative;
}

// A file as the folder scan builds it; a relative path lies in the scanned folder.
track make(const QString &path, const QString &album = "Album", const QString &artist = "Artist",
    const QString &title = "Title")
{
    track t = AppPaths().clearTrack(track{});
    t.filepath = t.originalPath = QDir::isRelativePath(path) ? kFolder + "/" + path : path;
    t.filename = QFileInfo(path).fileName();
    t.folderLocation = QFileInfo(t.filepath).path();
    t.trackname = title;
    t.albumname = album;
    t.artistname = artist;
    t.genre = "Rock";
    t.year = 1999;
    t.bitrate = 192;
    t.cover = AppPaths().noArtworkUrl;
    return t;
}

// A track under repair that knows nothing yet.
track unknownTrack(const QString &file, const QString &originalPath = "-")
{
    track t = make(file, "Unknown Album", "Unknown Artist", "Unknown Song");
    t.genre = "Unknown Genre";
    if (originalPath != "-")
        t.originalPath = originalPath.isEmpty() ? QString() : kFolder + originalPath;
    return t;
}

track with(track t, int bitrate, const QString &playlist = QString())
{
    t.bitrate = qint16(bitrate);
    t.playlist = playlist;
    return t;
}

QString describe(const track &t)
{
    return QStringList(
        {t.albumname, t.artistname, t.trackname, t.genre, QString::number(t.tracknumber),
            QString(t.hasAlbum ? "A" : "-") + (t.hasArtist ? "R" : "-") + (t.hasTitle ? "T" : "-")})
        .join('|');
}

}  // namespace

class TestKivoDB : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;
    kivoDB m_store;

    void store(const QList<track> &tracks)
    {
        for (const track &t : tracks)
            QVERIFY2(m_store.saveToRepo(t), qPrintable(kivoDB::lastError()));
    }

private slots:
    void init()
    {
        Database::close();
        m_env = std::make_unique<TestEnv>();
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open("KivoData", true) && m_database->initStructure());
    }

    void cleanup()
    {
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void roundTripKeepsTextsAndSixtyFourBitValues()
    {
        // Ids past 32 bits must neither wrap nor collide.
        exec("INSERT INTO sqlite_sequence VALUES ('tracks', 5000000000), ('albums', 4294967299)");
        const QString path = lib(kOdd + "/" + kOdd + ".mp3");
        touch({path});
        track t = make("/source/x.mp3", kOdd + "album", kOdd + "artist", kOdd + "title");
        t.genre = kOdd + "genre";
        t.playlist = kOdd + "list";
        t.codec = QString();  // stored as "", never NULL
        t.filesize = 3LL * 1024 * 1024 * 1024 + 17;
        TrackMap source{{1, t}};
        qint64 id = 0;
        QVERIFY2(m_store.insertTrack(source.begin(), path, &id), qPrintable(kivoDB::lastError()));
        QCOMPARE(id, qint64(5000000001));
        QCOMPARE(source.first().filepath, "/source/x.mp3");  // the entry is not changed
        QCOMPARE(cell("SELECT count(*) FROM tracks WHERE codec = '' AND VideoImage = ''"), "1");
        bool ok = false;
        const TrackMap library = m_store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY(ok && library.keys() == QList<qint64>{id});
        const track &l = library.first();
        QCOMPARE(QStringList({l.filepath, l.trackname, l.albumname, l.artistname, l.genre, l.playlist}),
            QStringList({path, t.trackname, t.albumname, t.artistname, t.genre, t.playlist}));
        QCOMPARE(l.filesize, t.filesize);
        QCOMPARE(l.album_id, qint64(4294967300));
    }

    // Rows are per path and playlist; a null playlist, also one an older version stored as NULL,
    // is the plain file like "". Artists and albums match without case, never as LIKE patterns;
    // genres match exactly.
    void rowsAndNamesMatchExactlyEnough()
    {
        const QString path = lib("Album/it's.mp3");
        touch({path});
        track t = make(path);
        qint64 ids[3] = {};
        QVERIFY(m_store.insertTrackSingle(with(t, 192, QString()), &ids[0]));
        QVERIFY(m_store.insertTrackSingle(with(t, 192, ""), &ids[1]));
        QVERIFY(m_store.insertTrackSingle(with(t, 192, "Road trip"), &ids[2]));
        QCOMPARE(m_store.loadLibrary().keys(), QList<qint64>({ids[1], ids[2]}));
        QVERIFY(exec("UPDATE tracks SET playlist = NULL WHERE playlist = ''"));
        QVERIFY(m_store.insertTrackSingle(with(t, 192, QString())));
        QCOMPARE(counts("tracks"), "2");

        QVERIFY(exec("DELETE FROM tracks") && m_store.deleteOrphans());
        int i = 0;
        for (const QString name : {"Rock'n'Roll", "rock'n'roll", "100% Pure", "100%"}) {
            t = make(lib(QString("L/%1.mp3").arg(i++)), name, name);
            t.genre = name;
            QVERIFY2(m_store.insertTrackSingle(t), qPrintable(kivoDB::lastError()));
        }
        QCOMPARE(counts("artists albums genres"), "3 3 4");
    }

    void albumCoversAreStoredOnceAndShared()
    {
        const QString coverFile = AppPaths().dataDir + "/Artwork/Blue Album.png";
        QDir().mkpath(QFileInfo(coverFile).path());
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(coverFile));
        const QString png = fileToBase64(coverFile);
        track a = make(lib("Blue/a.mp3"), "Blue Album"), b = make(lib("Blue/b.mp3"), "Blue Album");
        track other = make(lib("Red/c.mp3"), "Red Album"), unknown = make(lib("U/d.mp3"), "Unknown Album");
        a.cover = b.cover = other.cover = coverFile;  // not named after the red album
        touch({a.filepath, b.filepath, other.filepath, unknown.filepath});
        QList<qint64> ids;
        QVERIFY(m_store.insertTracks({a, b, other, unknown}, &ids));
        unknown.cover = coverFile;
        QVERIFY(m_store.insertTrackSingle(unknown));
        QCOMPARE(cell("SELECT sum(coverdata <> '') || ' ' || sum(cover LIKE '%no_artwork.png') FROM albums"),
            "1 2");
        // A missing cover file is made again from the store's copy; the loaded tracks carry none.
        QVERIFY(QFile::remove(coverFile));
        const TrackMap loaded = m_store.loadLibrary();
        QVERIFY(loaded.value(ids[0]).coverdata.isEmpty());
        QVERIFY(!QImage(coverFile).isNull());
    }

    void loadIsFreshAndLeavesNoOrphans()
    {
        const QString keep = lib("A/1.mp3"), shared = lib("A/2.mp3"), gone = lib("C/3.mp3");
        touch({keep, shared, gone});
        QVERIFY(
            m_store.insertTracks({make(keep, "A", "Shared"), make(shared, "A", "Shared"), make(gone, "C")}));
        QCOMPARE(m_store.loadLibrary().size(), 3);
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), keep));
        QVERIFY(m_store.deleteOrphans());
        QCOMPARE(counts("albums"), "2");  // still used by 2.mp3
        QCOMPARE(m_store.loadLibrary().size(), 2);  // removed tracks do not come back
        // Rows whose file is gone are dropped, with what only they used.
        QVERIFY(QFile::remove(gone));
        QCOMPARE(m_store.loadLibrary().size(), 1);
        QCOMPARE(counts("artists"), "1");
        QVERIFY(m_store.deleteTrackById(QSqlDatabase(), m_store.loadLibrary().firstKey()));
        QVERIFY(m_store.deleteOrphans());
        QCOMPARE(counts("albums genres"), "0 0");
        QVERIFY(!m_store.libraryHasAlbums());
    }

    void loadOfWidelySpreadIdsReadsEveryRowOnce()
    {
        // Ids far apart make a large library's load read in several parts at once.
        const QStringList paths = {lib("W/1.mp3"), lib("W/2.mp3"), lib("W/3.mp3"), lib("W/4.mp3")};
        touch(paths);
        QVERIFY(m_store.insertTracks({make(paths[0], "W", "One"), make(paths[1], "W", "Two"),
            make(paths[2], "W", "Three"), make(paths[3], "X", "Four")}));
        const QList<qint64> before = m_store.loadLibrary().keys();
        QCOMPARE(before.size(), 4);
        const QList<qint64> ids = {before[0], 30001, 60002, 90003};
        for (int i = 1; i < 4; ++i)
            QVERIFY(exec(QString("UPDATE tracks SET id = %1 WHERE id = %2").arg(ids[i]).arg(before[i])));
        QVERIFY(QFile::remove(paths[2]));
        // A row whose artist is gone reads as the library's view gives it.
        QVERIFY(exec("DELETE FROM artists WHERE name = 'Four'"));
        QStringList viewed;
        QSqlQuery view(Database::threadConnection());
        QVERIFY(view.exec("SELECT id, artist_id, artistname, album_id, albumname, cover, genre, year FROM "
                          "getTracks WHERE id <> "
            + QString::number(ids[2]) + " ORDER BY id"));
        while (view.next()) {
            viewed << QStringList({view.value(0).toString(), QString::number(view.value(1).toLongLong()),
                                      view.value(2).toString(), view.value(3).toString(),
                                      view.value(4).toString(), view.value(5).toString(),
                                      view.value(6).toString(), QString::number(view.value(7).toInt())})
                          .join('|');
        }
        view.finish();
        bool ok = false;
        const TrackMap loaded = m_store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY2(ok, qPrintable(kivoDB::lastError()));
        QCOMPARE(loaded.keys(), QList<qint64>({ids[0], ids[1], ids[3]}));
        QStringList read;
        for (const track &t : loaded) {
            read << QStringList(
                {QString::number(t.id), QString::number(t.artist_id), t.artistname,
                    QString::number(t.album_id), t.albumname, t.cover, t.genre, QString::number(t.year)})
                        .join('|');
        }
        QCOMPARE(read, viewed);
        QCOMPARE(loaded.value(ids[1]).artistname, QString("Two"));
        QCOMPARE(loaded.value(ids[3]).artistname, QString(""));
        QCOMPARE(loaded.value(ids[3]).filepath, paths[3]);
        // The stale row went, and the artist only it used.
        QCOMPARE(counts("tracks artists"), "3 2");
    }

    void deleteByPathOnlyTouchesLibraryCopies()
    {
        // The last file of a library album folder: file and folder go, the root stays.
        touch({lib("Solo/last.mp3")});
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), lib("Solo/last.mp3")));
        QVERIFY(!QFileInfo::exists(lib("Solo")) && QFileInfo::exists(kivoDB::libraryRoot()));
        // A folder that still holds anything, even a hidden file, stays.
        touch({lib("Kept/song.mp3"), lib("Kept/.folder.jpg")});
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), lib("Kept/song.mp3")));
        QVERIFY(!QFileInfo::exists(lib("Kept/song.mp3")) && QFileInfo::exists(lib("Kept/.folder.jpg")));

        // Outside the library only the rows go: also through a link, a linked folder or "..".
        const QString outside = m_env->makePath("home/Music/own.mp3");
        touch({outside});
        QVERIFY(m_store.insertTrackSingle(make(outside)));
        QDir().mkpath(lib("Links"));
        QVERIFY(QFile::link(outside, lib("Links/own.mp3")));
        QVERIFY(QFile::link(QFileInfo(outside).absolutePath(), lib("UserFolder")));
        for (const QString &path : {outside, lib("Links/own.mp3"), lib("UserFolder/own.mp3"),
                 lib(QDir(kivoDB::libraryRoot()).relativeFilePath(outside))})
            QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), path));
        QCOMPARE(counts("tracks"), "0");
        QVERIFY(QFileInfo::exists(outside) && QFileInfo(lib("Links/own.mp3")).isSymLink());
    }

    void removeDirStaysInsideAndNeverFollowsLinks()
    {
        const QString data = AppPaths().dataDir, folder = data + "/Artwork/Old";
        const QString userFile = m_env->makePath("home/Pictures/keep.png");
        touch({folder + "/.hidden", folder + "/sub/file.png", userFile});
        const QString userFolder = QFileInfo(userFile).absolutePath();
        QVERIFY(QFile::link(userFolder, folder + "/pictures"));
        QVERIFY(QFile::link(userFile, folder + "/sub/keep-link.png"));
        QVERIFY(QFile::link(userFolder, data + "/pictures-link"));
        QVERIFY(m_store.removeDir(folder));
        QVERIFY(!QFileInfo::exists(folder));
        // Outside the program's folder, or given as a link: refused.
        QVERIFY(!m_store.removeDir(userFolder) && !m_store.removeDir(data + "/pictures-link"));
        QVERIFY(QFileInfo::exists(userFile));
    }

    // What killed writers left under a temporary name goes at start-up, with the folders it
    // leaves empty; the files of writers still at work stay.
    void sweepClearsLeftoverTemporaries()
    {
        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted(-1));
        const QString dead = QString::number(gone.processId());
        QVERIFY(gone.waitForFinished(-1));
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        // A killed tag write, one of an older build, a killed add, a killed cover download, and
        // one whose id now names another program (the id came back after a reboot).
        const QStringList stale = {lib("Album/.kivo-" + dead + "-4.mp3"), lib("Album/.kivo-tags-aB3xY9.m4a"),
            lib("Gone/.kivo-" + dead + "-1.part"), artwork + "/.kivo-" + dead + "-2.png",
            lib("Album/.kivo-1-9.mp3")};
        const QStringList kept = {lib("Album/song.mp3"), platform::temporaryPath(lib("Album"), "mp3"),
            lib("Album/.kivo-notes.txt"), artwork + "/Album.png"};
        touch(stale + kept);
        // A folder made in the same instant the sweep begins counts as new; this one is older.
        const timeval past[2]
            = {{QDateTime::currentSecsSinceEpoch() - 60, 0}, {QDateTime::currentSecsSinceEpoch() - 60, 0}};
        QCOMPARE(::utimes(QFile::encodeName(lib("Gone")).constData(), past), 0);
        const int swept = kivoDB::sweepLibraryFolder();
        for (const QString &path : stale)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QCOMPARE(swept, stale.size());
        for (const QString &path : kept)
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QVERIFY(!QFileInfo::exists(lib("Gone")));
    }

    void failedInsertRollsBackWholeOperation()
    {
        const QString path = lib("A/song.mp3");
        touch({path});
        qint64 id = 0;
        QVERIFY(m_store.insertTrackSingle(make(path), &id));
        QVERIFY(exec("CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.trackname = 'refused' "
                     "BEGIN SELECT RAISE(ABORT, 'refused by test'); END"));
        const track bad = make(path, "New Album", "New Artist", "refused");
        qint64 badId = -5;
        QVERIFY(!m_store.insertTrackSingle(bad, &badId));
        QCOMPARE(badId, qint64(-5));
        QVERIFY2(kivoDB::lastError().contains("refused by test"), qPrintable(kivoDB::lastError()));
        // The old row survived (its delete was undone) and no new artist or album was kept.
        QCOMPARE(cell("SELECT id FROM tracks").toLongLong(), id);
        QCOMPARE(counts("artists albums"), "1 1");
        // A batch is stored whole or not at all.
        QVERIFY(!m_store.insertTracks({make(lib("B/other.mp3")), bad}));
        QCOMPARE(counts("tracks"), "1");
    }

    void twoThreadsWriteAtOnce()
    {
        auto writer = [](int thread, bool *allOk) {
            kivoDB store;
            for (int i = 0; i < 150; ++i) {
                const track t = make(lib(QString("T%1/%2.mp3").arg(thread).arg(i)),
                    QString("Album %1").arg(i % 7), QString("Artist %1").arg(i % 5));
                if (!store.insertTrackSingle(t) || (i % 50 == 0 && !store.deleteOrphans()))
                    *allOk = false;
            }
        };
        bool ok1 = true, ok2 = true;
        std::unique_ptr<QThread> first(QThread::create(writer, 1, &ok1));
        std::unique_ptr<QThread> second(QThread::create(writer, 2, &ok2));
        first->start();
        second->start();
        QVERIFY(first->wait(60000) && second->wait(60000));
        QVERIFY(ok1 && ok2);
        QCOMPARE(counts("tracks albums artists"), "300 7 5");
    }

    // Another program holds the write lock: a write that finds it free within a few busy
    // time-outs is stored, one that does not is given up, logged by its name and told as failed.
    void busyWriteIsTriedForABoundedTime()
    {
        const QString logPath = m_env->appDataDir() + "/debug.log";
        setLogFile(appLogFile(), logPath);
        // The write's whole time (a few busy time-outs) lies far beyond the release at 1 s, so a
        // stalled main thread still releases within it.
        const int busyMs = 2000;
        Database::setBusyTimeout(busyMs);
        const auto restore = qScopeGuard([] { Database::setBusyTimeout(5000); });
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other program");
        const auto remove = qScopeGuard([&other] {
            other = QSqlDatabase();
            QSqlDatabase::removeDatabase("other program");
        });
        other.setDatabaseName(Database::storeFilePath());
        QVERIFY(other.open() && QSqlQuery(other).exec("BEGIN IMMEDIATE"));

        StoreWriter writer;
        QList<bool> outcomes;
        const auto submit = [&](const QString &path) {
            const track t = make(path);
            writer.submit([t] { return StoreWriter::outcomeOf(kivoDB().insertTrackSingle(t)); }, this,
                [&outcomes](bool ok) { outcomes << ok; }, path);
        };
        QElapsedTimer clock;
        clock.start();
        submit(lib("A/freed.mp3"));
        QTimer release;
        release.setSingleShot(true);
        connect(&release, &QTimer::timeout, this, [&other] { QSqlQuery(other).exec("COMMIT"); });
        release.start(1000);
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, 30000);
        QVERIFY(outcomes[0]);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(counts("tracks"), "1");

        QVERIFY(QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        clock.restart();
        submit(lib("B/held.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 2, 30000);
        QVERIFY(!outcomes[1]);
        // Given up once its time is over, never before; the upper bound leaves room for a busy
        // machine yet rules out trying on without end.
        const qint64 bound = qint64(StoreWriter::kBusyTimeoutsPerWrite) * busyMs;
        QVERIFY2(clock.elapsed() >= bound - 100 && clock.elapsed() < bound + 10000,
            qPrintable(QString::number(clock.elapsed())));
        QVERIFY(QSqlQuery(other).exec("ROLLBACK"));
        QCOMPARE(counts("tracks"), "1");
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains("not stored: " + lib("B/held.mp3")));
    }

    void repoUpsertUpdatesTheFilesRow()
    {
        track t = make("a.mp3", "A", "B", "Old Title");
        t.folderLocation = kFolder + " ";  // a folder name may end in a blank
        store({t});
        t.trackname = "New Title";
        QVERIFY(m_store.upsertRepoTrack(t) && m_store.upsertRepoTrack(t));
        QCOMPARE(cell("SELECT count(*) || folderLocation FROM TrackRepo WHERE trackname = 'New Title'"),
            "1" + kFolder + " ");
        // Without a source path the row of the same title and folder is the one updated.
        t.originalPath = QString();
        t.trackname = "  New Title ";
        t.tracknumber = 4;
        QVERIFY(m_store.upsertRepoTrack(t));
        QCOMPARE(cell("SELECT tracknumber FROM TrackRepo"), "4");
        t.trackname = "Other";
        QVERIFY(m_store.upsertRepoTrack(t));
        QCOMPARE(counts("TrackRepo"), "2");
    }

    void repoFolderRules_data()
    {
        QTest::addColumn<QList<track>>("rows");
        QTest::addColumn<track>("input");
        QTest::addColumn<QString>("expected");
        const QString unchanged = "Unknown Album|Unknown Artist|Unknown Song|Unknown Genre|0|---";
        const QString gold = "Gold|Abba|%1|Unknown Genre|0|AR%2";
        const QList<track> twoAlbums
            = {make("1.mp3", "Live", "Abba", "One"), make("2.mp3", "Studio", "abba")};
        const QList<track> compilation = {make("1.mp3", "Greatest Compilation Hits", "Various")};
        // A blank album name says nothing, so the folder still has one album.
        const QList<track> oneAlbum
            = {make("1.mp3", "Gold", "Abba"), make("2.mp3", "Gold", "abba"), make("0.mp3", "  ", "", "Zero")};
        track noFolder = unknownTrack("z.mp3");
        noFolder.folderLocation = QString();
        QTest::newRow("no rows") << QList<track>() << unknownTrack("z.mp3") << unchanged;
        QTest::newRow("no folder") << twoAlbums << noFolder << unchanged;
        QTest::newRow("two albums: no single artist")
            << twoAlbums << unknownTrack("01 Intro.mp3")
            << "Live|Unknown Artist|Unknown Song|Unknown Genre|0|A--";
        QTest::newRow("compilation: no artist")
            << compilation << unknownTrack("z.mp3")
            << "Greatest Compilation Hits|Unknown Artist|z|Unknown Genre|0|A-T";
        QTest::newRow("two bit rates: nothing")
            << compilation + QList<track>{with(make("2.mp3", "Greatest Compilation Hits", "Various"), 320)}
            << unknownTrack("z.mp3") << unchanged;
        QTest::newRow("one album") << oneAlbum << unknownTrack("01 Intro.mp3") << gold.arg("01 Intro", "T");
        // The title comes from the source file's name, never from a "track" name or nothing.
        for (const QString title : {"/song.mp3.mp3 song", "/Mr. Brown Mr", "/Song. Song"})
            QTest::newRow(qPrintable(title)) << oneAlbum << unknownTrack("x.mp3", title.section(' ', 0, -2))
                                             << gold.arg(title.section(' ', -1), "T");
        for (const QString path : {"/Track 01.mp3", "", "/.mp3"})
            QTest::newRow(qPrintable(path))
                << oneAlbum << unknownTrack("x.mp3", path) << gold.arg("Unknown Song", "-");
        QTest::newRow("track file") << oneAlbum << unknownTrack("track 3.mp3", "/Nice.mp3")
                                    << gold.arg("Unknown Song", "-");
        // A playlist row never gives its album; its other values fill what the track lacks.
        track playlistRow = with(make("p.mp3", "My List", "Singer", "Anthem"), 192, "My List");
        playlistRow.genre = "Pop";
        playlistRow.tracknumber = 5;
        track live = unknownTrack("q.mp3");
        live.trackname = "The Anthem (live)";
        QTest::newRow("playlist row")
            << QList<track>{playlistRow, with(make("o.mp3", "Other", "X", "Zzz"), 320)} << live
            << "Unknown Album|Singer|Anthem|Pop|5|-RT";
    }

    // What the rows of a folder give a track that knows nothing: only values they agree on.
    void repoFolderRules()
    {
        QFETCH(QList<track>, rows);
        QFETCH(track, input);
        QFETCH(QString, expected);
        store(rows);
        QCOMPARE(describe(m_store.loadRepoFolder(input)), expected);
    }

    // Blank, "Track nn" and "unknown" values count as missing; known values are never replaced.
    void repoRecordMergesOnlyRealValues()
    {
        track t = unknownTrack("a.mp3");
        t.tracknumber = 2;
        m_store.trackFromRepoRecord(t, "", "  ", "Track 05", "unknown", 9, QString());
        QCOMPARE(describe(t), "Unknown Album|Unknown Artist|Unknown Song|Unknown Genre|2|---");
        t.genre = QString();  // an empty genre is missing too
        m_store.trackFromRepoRecord(t, "Real", "Someone", "Name", "Blues", 0, " ");
        QVERIFY(t.hasAlbum && t.hasArtist && t.hasTitle);
        m_store.trackFromRepoRecord(t, "Other", "Other", "Other", "Jazz", 3, QString());
        QCOMPARE(describe(t), "Real|Someone|Name|Blues|2|ART");
    }

    // Quotes, albums differing only in case, existing, missing and placeholder covers, repeats, a
    // playlist copy, a file without source path and a video: each file is stored once per playlist,
    // titles trimmed, album names compared without case, and only a cover named after its album kept
    // (none for a name that sanitizes to nothing). A batch leaves exactly the rows single stores leave.
    void repoStoresEachFileOnceAlsoInBatches()
    {
        const QString covers = m_env->root() + "/covers/",
                      named = AppPaths().dataDir + "/Artwork/Night Drive.png";
        touch({covers + "Album's Best.png", covers + "Other.png", covers + "clip.png", named});
        QList<track> list;
        auto add
            = [&](const QString &file, const QString &album, const QString &artist, const QString &cover) {
                  list << make(file, album, artist, " Title of " + file + " ");
                  list.last().cover = cover.isEmpty() || cover.contains('/') ? cover : covers + cover;
              };
        add("a.mp3", "Album's Best", "Guns N' Roses", "Album's Best.png");
        add("b.mp3", "ALBUM'S BEST", "Guns N' Roses", "Other.png");
        add("c.mp3", "album's best", "Other", "Album's Best.png");
        list.last().year = 2001;
        add("d.mp3", "Unknown Album", "Unknown Artist", AppPaths().noArtworkUrl);
        add("e.mp3", "Unknown Album", "Unknown Artist", "Album's Best.png");
        add("f.mp3", "100% Hits_", "Band", "missing.png");
        list << list.first() << with(list.first(), 192, "Road Trip");
        add("clip.mp4", "Films", "Studio", "clip.png");
        list.last().isVideo = true;
        list.last().genre = "Jazz";
        add("n.mp3", "Night Drive", "A", named);
        add("day.mp3", "Day", "A", named);
        add("dots.mp3", "...", "A", "");
        add("nopath.mp3", "Album's Best", "B", "");
        list.last().originalPath = QString();
        list << list.last();
        const auto rows = [&](bool batch) {
            bool ok
                = !batch || (m_store.saveToRepoBatch(list.mid(0, 5)) && m_store.saveToRepoBatch(list.mid(5)));
            for (int i = 0; !batch && i < list.size(); ++i)
                ok = ok && m_store.saveToRepo(list[i]);
            QStringList values = {ok ? "stored" : kivoDB::lastError(),
                cell("SELECT count(*) || ' ' || sum(filepath = '') || ' ' || sum(trackname <> "
                     "trim(trackname)) "
                     "FROM TrackRepo"),
                cell("SELECT count(*) FROM albumsRepo WHERE name LIKE 'album''s best'"),
                cell("SELECT group_concat(cover, ' ') FROM albumsRepo WHERE name IN ('Night Drive', 'Day', "
                     "'...')")};
            for (const QString table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"}) {
                QSqlQuery query(Database::threadConnection());
                query.exec("SELECT * FROM " + table + " ORDER BY id");
                for (values << table; query.next();)
                    for (int i = 0; i < query.record().count(); ++i)
                        values << (query.value(i).isNull() ? "NULL" : query.value(i).toString());
                exec("DELETE FROM " + table);
            }
            exec("DELETE FROM sqlite_sequence");
            return values;
        };
        const QStringList single = rows(false);
        const QString none = AppPaths().noArtworkUrl;
        QCOMPARE(single.mid(0, 4), QStringList({"stored", "12 1 0", "1", named + " " + none + " " + none}));
        QCOMPARE(rows(true), single);
        // Without a library file nothing is stored and the failure is told.
        m_database.reset();
        Database::close();
        QVERIFY(m_store.saveToRepoBatch({}));
        QVERIFY(!m_store.saveToRepoBatch({make("a.mp3")}));
        QVERIFY(!kivoDB::lastError().isEmpty());
    }
};

KIVO_TEST_MAIN(TestKivoDB)
#include "tst_kivodb.moc"
