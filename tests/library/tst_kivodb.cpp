#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include <memory>

namespace {

// Quotes, apostrophes, SQL wildcards and characters beyond Latin-1.
const QString kOdd = QStringLiteral("Ünïcødé \"q\" it's 100%_x 日本語 ");
const QString kFolder = QStringLiteral("/music/Some Folder");

void touch(const QString &path, const QByteArray &content = "audio")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QString cell(const QString &sql)
{
    QSqlQuery query(Database::threadConnection());
    return query.exec(sql) && query.next() ? query.value(0).toString() : QString("<none>");
}

qint64 count(const QString &sql)
{
    bool ok = false;
    const qint64 value = cell(sql).toLongLong(&ok);
    return ok ? value : -1;
}

QString lib(const QString &relative)
{
    return kivoDB::libraryRoot() + QLatin1Char('/') + relative;
}

// A file as the folder scan builds it.
track make(const QString &path, const QString &album = "Album", const QString &artist = "Artist",
    const QString &title = "Title")
{
    track t = AppPaths().clearTrack(track{});
    t.filepath = t.originalPath = path;
    t.filename = QFileInfo(path).fileName();
    t.folderLocation = QFileInfo(path).path();
    t.trackname = title;
    t.albumname = album;
    t.artistname = artist;
    t.genre = "Rock";
    t.year = 1999;
    t.bitrate = 192;
    t.cover = AppPaths().noArtworkUrl;
    return t;
}

track scanned(const QString &file, const QString &title, const QString &album, const QString &artist)
{
    return make(kFolder + "/" + file, album, artist, title);
}

// A track under repair that knows nothing yet.
track unknownTrack(const QString &file)
{
    track t = scanned(file, "Unknown Song", "Unknown Album", "Unknown Artist");
    t.genre = "Unknown Genre";
    return t;
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

    // Every repository row a list of scanned tracks leaves, stored one by one or in two batches.
    static QStringList repoRowsInFreshFile(bool batch)
    {
        TestEnv env;
        Database database;
        if (!database.open("KivoData", true) || !database.initStructure())
            return {"no store: " + database.lastError()};
        const QString covers = env.root() + "/covers/";
        for (const char *name : {"Album's Best.png", "Other.png", "clip.png"})
            touch(covers + name);
        // Quotes, albums differing only in case, existing, missing and placeholder covers, repeats.
        QList<track> list;
        auto add
            = [&](const QString &file, const QString &album, const QString &artist, const QString &cover) {
                  list << scanned(file, " Title of " + file + " ", album, artist);
                  list.last().cover = cover.isEmpty() ? list.last().cover : covers + cover;
              };
        add("a.mp3", "Album's Best", "Guns N' Roses", "Album's Best.png");
        add("b.mp3", "ALBUM'S BEST", "Guns N' Roses", "Other.png");
        add("c.mp3", "album's best", "Other", "Album's Best.png");
        list.last().year = 2001;
        add("d.mp3", "Unknown Album", "Unknown Artist", "");
        add("e.mp3", "Unknown Album", "Unknown Artist", "Album's Best.png");
        add("f.mp3", "100% Hits_", "Band", "missing.png");
        list << list.first() << list.first();
        list.last().playlist = "Road Trip";
        add("clip.mp4", "Films", "Studio", "clip.png");
        list.last().isVideo = true;
        list.last().genre = "Jazz";
        kivoDB db;
        bool ok = !batch || (db.saveToRepoBatch(list.mid(0, 5)) && db.saveToRepoBatch(list.mid(5)));
        for (int i = 0; !batch && i < list.size(); ++i)
            ok = ok && db.saveToRepo(list[i]);
        QStringList rows = {ok ? "stored" : "failed: " + kivoDB::lastError()};
        for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"}) {
            QSqlQuery query(Database::threadConnection());
            query.exec(QString("SELECT * FROM %1 ORDER BY id").arg(table));
            while (query.next()) {
                QStringList values;
                for (int i = 0; i < query.record().count(); ++i)
                    values << (query.value(i).isNull() ? QString("NULL") : query.value(i).toString());
                rows << QString(table) + ": " + values.join('|').replace(env.root(), "<root>");
            }
        }
        Database::close();
        return rows;
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
        QSqlQuery(Database::threadConnection())
            .exec("INSERT INTO sqlite_sequence VALUES ('tracks', 5000000000), ('albums', 4294967299)");
        const QString path = lib(kOdd + "/" + kOdd + ".mp3");
        touch(path);
        track t = make("/source/x.mp3", kOdd + "album", kOdd + "artist", kOdd + "title");
        t.genre = kOdd + "genre";
        t.playlist = kOdd + "list";
        t.codec = QString();  // stored as "", never NULL
        t.filesize = 3LL * 1024 * 1024 * 1024 + 17;
        t.bitrate = 320;
        TrackMap source{{1, t}};
        qint64 id = 0;
        QVERIFY2(m_store.insertTrack(source.begin(), path, &id), qPrintable(kivoDB::lastError()));
        QCOMPARE(id, qint64(5000000001));
        QCOMPARE(source.first().filepath, "/source/x.mp3");  // the entry is not changed
        QCOMPARE(count("SELECT count(*) FROM tracks WHERE codec = '' AND VideoImage = ''"), 1);

        bool ok = false;
        const TrackMap library = m_store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY(ok && library.keys() == QList<qint64>{id});
        const track &l = library.first();
        QCOMPARE(QStringList({l.filepath, l.trackname, l.albumname, l.artistname, l.genre, l.playlist}),
            QStringList({path, t.trackname, t.albumname, t.artistname, t.genre, t.playlist}));
        QCOMPARE(l.filesize, t.filesize);
        QCOMPARE(l.album_id, qint64(4294967300));
    }

    void duplicatesArePerPathAndPlaylist()
    {
        const QString path = lib("Album/it's.mp3");
        touch(path);
        track t = make(path);
        qint64 first = 0, second = 0, third = 0;
        t.playlist = QString();  // a null playlist is the plain file, like ""
        QVERIFY(m_store.insertTrackSingle(t, &first));
        t.playlist = "";
        QVERIFY(m_store.insertTrackSingle(t, &second));
        t.playlist = "Road trip";
        QVERIFY(m_store.insertTrackSingle(t, &third));
        QCOMPARE(m_store.loadLibrary().keys(), QList<qint64>({second, third}));
        // A row an older version stored with a NULL playlist is still the plain file's row.
        QVERIFY(QSqlQuery(Database::threadConnection())
                    .exec("UPDATE tracks SET playlist = NULL WHERE playlist = ''"));
        t.playlist = QString();
        QVERIFY(m_store.insertTrackSingle(t));
        QCOMPARE(count("SELECT count(*) FROM tracks"), 2);
    }

    void namesMatchWithoutCaseButNeverAsPatterns()
    {
        const QStringList names = {"Rock'n'Roll", "rock'n'roll", "100% Pure", "100%"};
        for (const QString &name : names) {
            track t = make(lib(QString("L/%1.mp3").arg(names.indexOf(name))), name, name);
            t.genre = name;
            QVERIFY2(m_store.insertTrackSingle(t), qPrintable(kivoDB::lastError()));
        }
        QCOMPARE(count("SELECT count(*) FROM artists"), 3);
        QCOMPARE(count("SELECT count(*) FROM albums"), 3);
        QCOMPARE(count("SELECT count(*) FROM genres"), 4);  // genres compare exactly
    }

    void albumCoversAreStoredOnceAndShared()
    {
        const QString coverFile = AppPaths().dataDir + "/Artwork/Blue Album.png";
        touch(coverFile);
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(coverFile, "PNG"));
        QFile file(coverFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray png = file.readAll();
        track a = make(lib("Blue/a.mp3"), "Blue Album"), b = make(lib("Blue/b.mp3"), "Blue Album");
        track other = make(lib("Red/c.mp3"), "Red Album"), unknown = make(lib("U/d.mp3"), "Unknown Album");
        a.cover = b.cover = other.cover = coverFile;  // not named after the red album
        for (const track &t : {a, b, other, unknown})
            touch(t.filepath);
        QVERIFY(m_store.insertTracks({a, b, other, unknown}));
        unknown.cover = coverFile;
        QVERIFY(m_store.insertTrackSingle(unknown));
        QCOMPARE(count("SELECT count(*) FROM albums WHERE coverdata <> ''"), 1);
        QCOMPARE(count("SELECT count(*) FROM albums WHERE cover LIKE '%no_artwork.png'"), 2);

        // The tracks of one album share one copy; a missing cover file is made again from it.
        QVERIFY(QFile::remove(coverFile));
        QList<track> blue;
        for (const track &t : m_store.loadLibrary())
            if (t.albumname == "Blue Album")
                blue << t;
        QCOMPARE(blue.size(), 2);
        QCOMPARE(QByteArray::fromBase64(blue[0].coverdata.toLatin1()), png);
        QVERIFY(blue[0].coverdata.isSharedWith(blue[1].coverdata));
        QVERIFY(!QImage(coverFile).isNull());
    }

    void loadIsFreshAndLeavesNoOrphans()
    {
        const QString keep = lib("A/1.mp3"), shared = lib("A/2.mp3"), gone = lib("C/3.mp3");
        for (const QString &path : {keep, shared, gone})
            touch(path);
        QVERIFY(
            m_store.insertTracks({make(keep, "A", "Shared"), make(shared, "A", "Shared"), make(gone, "C")}));
        QCOMPARE(m_store.loadLibrary().size(), 3);
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), keep));
        QVERIFY(m_store.deleteOrphans());
        QCOMPARE(count("SELECT count(*) FROM albums"), 2);  // still used by 2.mp3
        QCOMPARE(m_store.loadLibrary().size(), 2);  // removed tracks do not come back
        // Rows whose file is gone are dropped, with what only they used.
        QVERIFY(QFile::remove(gone));
        QCOMPARE(m_store.loadLibrary().size(), 1);
        QCOMPARE(count("SELECT count(*) FROM artists"), 1);
        QVERIFY(m_store.deleteTrackById(QSqlDatabase(), m_store.loadLibrary().firstKey()));
        QVERIFY(m_store.deleteOrphans());
        QCOMPARE(count("SELECT (SELECT count(*) FROM albums) + (SELECT count(*) FROM genres)"), 0);
        QVERIFY(!m_store.libraryHasAlbums());
    }

    void deleteByPathOnlyTouchesLibraryCopies()
    {
        // The last file of a library album folder: file and folder go, the root stays.
        touch(lib("Solo/last.mp3"));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), lib("Solo/last.mp3")));
        QVERIFY(!QFileInfo::exists(lib("Solo")) && QFileInfo::exists(kivoDB::libraryRoot()));
        // A folder that still holds anything, even a hidden file, stays.
        touch(lib("Kept/song.mp3"));
        touch(lib("Kept/.folder.jpg"));
        QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), lib("Kept/song.mp3")));
        QVERIFY(!QFileInfo::exists(lib("Kept/song.mp3")) && QFileInfo::exists(lib("Kept/.folder.jpg")));

        // Outside the library only the rows go: also through a link, a linked folder or "..".
        const QString outside = m_env->makePath("home/Music/own.mp3");
        touch(outside);
        QVERIFY(m_store.insertTrackSingle(make(outside)));
        QDir().mkpath(lib("Links"));
        QVERIFY(QFile::link(outside, lib("Links/own.mp3")));
        QVERIFY(QFile::link(QFileInfo(outside).absolutePath(), lib("UserFolder")));
        for (const QString &path : {outside, lib("Links/own.mp3"), lib("UserFolder/own.mp3"),
                 lib(QDir(kivoDB::libraryRoot()).relativeFilePath(outside))})
            QVERIFY(m_store.deleteTrackByPath(QSqlDatabase(), path));
        QCOMPARE(count("SELECT count(*) FROM tracks"), 0);
        QVERIFY(QFileInfo::exists(outside) && QFileInfo(lib("Links/own.mp3")).isSymLink());
    }

    void removeDirStaysInsideAndNeverFollowsLinks()
    {
        const QString data = AppPaths().dataDir, folder = data + "/Artwork/Old";
        touch(folder + "/.hidden");
        touch(folder + "/sub/file.png");
        const QString userFile = m_env->makePath("home/Pictures/keep.png");
        touch(userFile);
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

    void failedInsertRollsBackWholeOperation()
    {
        const QString path = lib("A/song.mp3");
        touch(path);
        qint64 id = 0;
        QVERIFY(m_store.insertTrackSingle(make(path), &id));
        QVERIFY(QSqlQuery(Database::threadConnection())
                    .exec("CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.trackname = 'refused' "
                          "BEGIN SELECT RAISE(ABORT, 'refused by test'); END"));
        track bad = make(path, "New Album", "New Artist", "refused");
        qint64 badId = -5;
        QVERIFY(!m_store.insertTrackSingle(bad, &badId));
        QCOMPARE(badId, qint64(-5));
        QVERIFY2(kivoDB::lastError().contains("refused by test"), qPrintable(kivoDB::lastError()));
        // The old row survived (its delete was undone) and no new artist or album was kept.
        QCOMPARE(count(QString("SELECT count(*) FROM tracks WHERE id = %1").arg(id)), 1);
        QCOMPARE(count("SELECT (SELECT count(*) FROM artists) + (SELECT count(*) FROM albums)"), 2);
        // A batch is stored whole or not at all.
        QVERIFY(!m_store.insertTracks({make(lib("B/other.mp3")), bad}));
        QCOMPARE(count("SELECT count(*) FROM tracks"), 1);
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
        QCOMPARE(count("SELECT count(*) FROM tracks"), 300);
        QCOMPARE(count("SELECT count(*) FROM albums"), 7);
        QCOMPARE(count("SELECT count(*) FROM artists"), 5);
    }

    void repoStoresEachFileOnce()
    {
        track t = scanned("it's 100%.mp3", "  Song  ", "Album's", "Guns N' Roses");
        store({t, t});
        QCOMPARE(cell("SELECT trackname FROM TrackRepo"), "Song");
        t.playlist = "Mix";
        store({t});
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 2);
        // Without a source path the file is still stored once, not once per call.
        track noPath = scanned("x.mp3", "X", "ALBUM'S", "B");
        noPath.originalPath = QString();
        store({noPath, noPath});
        QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE filepath = ''"), 1);
        QCOMPARE(count("SELECT count(*) FROM albumsRepo"), 1);  // names compare without case

        // Only a cover named after its album is kept; a name that sanitizes to nothing gets none.
        const QString named = AppPaths().dataDir + "/Artwork/Night Drive.png";
        touch(named);
        track night = scanned("1.mp3", "1", "Night Drive", "A"), day = scanned("2.mp3", "2", "Day", "A");
        track dots = scanned("3.mp3", "Three", "...", "A");
        night.cover = day.cover = named;
        dots.cover = "";
        store({night, day, dots});
        QCOMPARE(cell("SELECT cover FROM albumsRepo WHERE name = 'Night Drive'"), named);
        QCOMPARE(count("SELECT count(*) FROM albumsRepo WHERE cover LIKE '%no_artwork.png'"), 3);
    }

    void repoUpsertUpdatesTheFilesRow()
    {
        track t = scanned("a.mp3", "Old Title", "A", "B");
        t.folderLocation = kFolder + " ";  // a folder name may end in a blank
        store({t});
        t.trackname = "New Title";
        QVERIFY(m_store.upsertRepoTrack(t) && m_store.upsertRepoTrack(t));
        QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE trackname = 'New Title'"), 1);
        QCOMPARE(cell("SELECT folderLocation FROM TrackRepo"), kFolder + " ");
        // Without a source path the row of the same title and folder is the one updated.
        t.originalPath = QString();
        t.trackname = "  New Title ";
        t.tracknumber = 4;
        QVERIFY(m_store.upsertRepoTrack(t));
        QCOMPARE(cell("SELECT tracknumber FROM TrackRepo"), "4");
        t.trackname = "Other";
        QVERIFY(m_store.upsertRepoTrack(t));
        QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 2);
    }

    void repoFolderRulesNeedOneAgreeingFolder()
    {
        // No rows for the folder (or no folder at all): the track stays as it is.
        track t = unknownTrack("z.mp3");
        const track alone = m_store.loadRepoFolder(t);
        QVERIFY(!alone.hasAlbum && !alone.hasArtist && !alone.hasTitle);
        store({scanned("1.mp3", "One", "Live", "Abba"), scanned("2.mp3", "Two", "Studio", "abba")});
        t.folderLocation = QString();
        QCOMPARE(m_store.loadRepoFolder(t).albumname, "Unknown Album");
        // Two album names: an album, but no single artist.
        const track result = m_store.loadRepoFolder(unknownTrack("01 Intro.mp3"));
        QCOMPARE(result.albumname, "Live");
        QVERIFY(result.hasAlbum && !result.hasArtist && !result.hasTitle);
    }

    void repoCompilationAndMixedFoldersGiveNoArtist()
    {
        store({scanned("1.mp3", "One", "Greatest Compilation Hits", "Various")});
        QVERIFY(!m_store.loadRepoFolder(unknownTrack("z.mp3")).hasArtist);
        track otherRate = scanned("2.mp3", "Two", "Greatest Compilation Hits", "Various");
        otherRate.bitrate = 320;
        store({otherRate});
        const track result = m_store.loadRepoFolder(unknownTrack("z.mp3"));
        QVERIFY(!result.hasAlbum && !result.hasArtist && !result.hasTitle);
    }

    void repoFolderWithOneAlbum()
    {
        // A blank album name says nothing, so the folder still has one album.
        store({scanned("1.mp3", "One", "Gold", "Abba"), scanned("2.mp3", "Two", "Gold", "abba"),
            scanned("0.mp3", "Zero", "  ", "")});
        track t = unknownTrack("01 Intro.mp3");
        const track result = m_store.loadRepoFolder(t);
        QCOMPARE(QStringList({result.albumname, result.artistname, result.trackname}),
            QStringList({"Gold", "Abba", "01 Intro"}));
        QVERIFY(result.hasAlbum && result.hasArtist && result.hasTitle);

        // The title comes from the source file's name, never from a "track" name or nothing.
        const QList<QPair<QString, QString>> names
            = {{"/song.mp3.mp3", "song"}, {"/Mr. Brown", "Mr"}, {"/Song.", "Song"},
                {"/Track 01.mp3", "Unknown Song"}, {"", "Unknown Song"}, {"/.mp3", "Unknown Song"}};
        t = unknownTrack("x.mp3");
        for (const auto &[path, expected] : names) {
            t.originalPath = path.isEmpty() ? QString() : kFolder + path;
            QCOMPARE(m_store.loadRepoFolder(t).trackname, expected);
        }
        t = unknownTrack("track 3.mp3");
        t.originalPath = kFolder + "/Nice.mp3";
        QCOMPARE(m_store.loadRepoFolder(t).trackname, "Unknown Song");
    }

    void repoRowsMergeOnlyRealValues()
    {
        track playlistRow = scanned("p.mp3", "Anthem", "My List", "Singer");
        playlistRow.playlist = "My List";
        playlistRow.genre = "Pop";
        playlistRow.tracknumber = 5;
        track otherRate = scanned("o.mp3", "Zzz", "Other", "X");
        otherRate.bitrate = 320;  // two bit rates: no folder rule applies
        store({playlistRow, otherRate});
        track t = unknownTrack("q.mp3");
        t.trackname = "The Anthem (live)";
        const track result = m_store.loadRepoFolder(t);
        QCOMPARE(QStringList({result.artistname, result.trackname, result.genre}),
            QStringList({"Singer", "Anthem", "Pop"}));
        QCOMPARE(result.tracknumber, qint16(5));
        QVERIFY(!result.hasAlbum);  // a playlist row never gives its album

        // Blank, "Track nn" and "unknown" values count as missing; known values are never replaced.
        t = unknownTrack("a.mp3");
        t.tracknumber = 2;
        m_store.trackFromRepoRecord(t, "", "  ", "Track 05", "unknown", 9, QString());
        QVERIFY(!t.hasAlbum && !t.hasArtist && !t.hasTitle);
        QCOMPARE(t.genre, "Unknown Genre");
        QCOMPARE(t.tracknumber, qint16(2));
        t.genre = QString();  // an empty genre is missing too
        m_store.trackFromRepoRecord(t, "Real", "Someone", "Name", "Blues", 0, " ");
        QVERIFY(t.hasAlbum && t.hasArtist && t.hasTitle);
        m_store.trackFromRepoRecord(t, "Other", "Other", "Other", "Jazz", 3, QString());
        QCOMPARE(QStringList({t.albumname, t.genre}), QStringList({"Real", "Blues"}));
    }

    void repoBatchLeavesSameRowsAsSingleStores()
    {
        m_database.reset();
        Database::close();
        const QStringList single = repoRowsInFreshFile(false);
        QVERIFY(single.size() > 10);
        QCOMPARE(repoRowsInFreshFile(true), single);
        // Without a library file nothing is stored and the failure is told.
        QVERIFY(m_store.saveToRepoBatch({}));
        QVERIFY(!m_store.saveToRepoBatch({scanned("a.mp3", "A", "B", "C")}));
        QVERIFY(!kivoDB::lastError().isEmpty());
    }
};

KIVO_TEST_MAIN(TestKivoDB)
#include "tst_kivodb.moc"
