#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QSqlQuery>

#include <memory>

namespace {

qint64 countRows(const QString &sql)
{
    QSqlQuery query(Database::threadConnection());
    if (!query.exec(sql) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

QString cell(const QString &sql)
{
    QSqlQuery query(Database::threadConnection());
    if (!query.exec(sql) || !query.next())
        return QStringLiteral("<none>");
    return query.value(0).toString();
}

const QString kFolder = QStringLiteral("/music/Some Folder");

}  // namespace

class TestKivoDBRepo : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;
    kivoDB m_store;

    // A scanned file as the folder scan builds it.
    static track scanned(
        const QString &file, const QString &title, const QString &album, const QString &artist)
    {
        track t = AppPaths().clearTrack(track{});
        t.folderLocation = kFolder;
        t.filepath = t.originalPath = kFolder + QLatin1Char('/') + file;
        t.filename = file;
        t.trackname = title;
        t.albumname = album;
        t.artistname = artist;
        t.genre = QStringLiteral("Rock");
        t.year = 1999;
        t.bitrate = 192;
        t.codec = QStringLiteral("mp3");
        t.cover = AppPaths().noArtworkUrl;
        return t;
    }

    // A track under repair that knows nothing yet.
    static track unknownTrack(const QString &file)
    {
        track t = scanned(file, QStringLiteral("Unknown Song"), QStringLiteral("Unknown Album"),
            QStringLiteral("Unknown Artist"));
        t.genre = QStringLiteral("Unknown Genre");
        return t;
    }

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
        QVERIFY(m_database->open(QStringLiteral("KivoData"), true));
        QVERIFY(m_database->initStructure());
    }

    void cleanup()
    {
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void saveToRepoStoresEachFileOnce()
    {
        track t = scanned(QStringLiteral("it's 100%.mp3"), QStringLiteral("  Song  "),
            QStringLiteral("Album's"), QStringLiteral("Guns N' Roses"));
        store({t, t});
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo"), 1);
        QCOMPARE(cell("SELECT trackname FROM TrackRepo"), QStringLiteral("Song"));
        QCOMPARE(cell("SELECT name FROM artistsRepo"), QStringLiteral("Guns N' Roses"));
        QCOMPARE(cell("SELECT VideoImage FROM TrackRepo"), QStringLiteral(""));
        t.playlist = QStringLiteral("Mix");
        store({t});
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo"), 2);

        // Without a source path the file is still stored once, not once per call.
        track noPath
            = scanned(QStringLiteral("x.mp3"), QStringLiteral("X"), QStringLiteral("A"), QStringLiteral("B"));
        noPath.originalPath = QString();
        store({noPath, noPath});
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo WHERE filepath = ''"), 1);

        // Album names compare without case; the genre and year land in the library tables.
        store({scanned(
            QStringLiteral("y.mp3"), QStringLiteral("Y"), QStringLiteral("ALBUM'S"), QStringLiteral("C"))});
        QCOMPARE(countRows("SELECT count(*) FROM albumsRepo WHERE name LIKE 'album''s'"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM genres WHERE genre = 'Rock'"), 1);
        QCOMPARE(countRows("SELECT count(*) FROM years WHERE year = 1999"), 1);
    }

    void saveToRepoCoverRules()
    {
        const QString artwork = AppPaths().dataDir + QStringLiteral("/Artwork/");
        QDir().mkpath(artwork);
        const QString named = artwork + QStringLiteral("Night Drive.png");
        QFile(named).open(QIODevice::WriteOnly);
        track t = scanned(QStringLiteral("1.mp3"), QStringLiteral("One"), QStringLiteral("Night Drive"),
            QStringLiteral("A"));
        t.cover = named;
        track other = scanned(
            QStringLiteral("2.mp3"), QStringLiteral("Two"), QStringLiteral("Day"), QStringLiteral("A"));
        other.cover = named;
        track dots = scanned(
            QStringLiteral("3.mp3"), QStringLiteral("Three"), QStringLiteral("..."), QStringLiteral("A"));
        dots.cover = QStringLiteral("");
        store({t, other, dots});
        QCOMPARE(cell("SELECT cover FROM albumsRepo WHERE name = 'Night Drive'"), named);
        QCOMPARE(cell("SELECT cover FROM albumsRepo WHERE name = 'Day'"), AppPaths().noArtworkUrl);
        QCOMPARE(cell("SELECT cover FROM albumsRepo WHERE name = '...'"), AppPaths().noArtworkUrl);
    }

    void upsertUpdatesTheFilesRow()
    {
        track t = scanned(
            QStringLiteral("a.mp3"), QStringLiteral("Old Title"), QStringLiteral("A"), QStringLiteral("B"));
        t.folderLocation = kFolder + QStringLiteral(" ");  // a folder name may end in a blank
        store({t});
        t.trackname = QStringLiteral("New Title");
        t.genre = QStringLiteral("Jazz");
        QVERIFY(m_store.upsertRepoTrack(t));
        QVERIFY(m_store.upsertRepoTrack(t));
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo"), 1);
        QCOMPARE(cell("SELECT trackname FROM TrackRepo"), QStringLiteral("New Title"));
        QCOMPARE(cell("SELECT genre FROM TrackRepo"), QStringLiteral("Jazz"));
        QCOMPARE(cell("SELECT folderLocation FROM TrackRepo"), kFolder + QStringLiteral(" "));

        // Without a source path the row of the same title and folder is the one updated.
        track bare = t;
        bare.originalPath = QString();
        bare.trackname = QStringLiteral("  New Title ");
        bare.tracknumber = 4;
        QVERIFY(m_store.upsertRepoTrack(bare));
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo"), 1);
        QCOMPARE(cell("SELECT tracknumber FROM TrackRepo"), QStringLiteral("4"));
        bare.trackname = QStringLiteral("Other");
        QVERIFY(m_store.upsertRepoTrack(bare));
        QCOMPARE(countRows("SELECT count(*) FROM TrackRepo"), 2);
    }

    void folderWithoutRowsLeavesTrackAlone()
    {
        track t = unknownTrack(QStringLiteral("a.mp3"));
        t.duration = 3;
        const track result = m_store.loadRepoFolder(t);
        QCOMPARE(result.trackname, t.trackname);
        QCOMPARE(result.albumname, t.albumname);
        QVERIFY(!result.hasAlbum && !result.hasArtist && !result.hasTitle);
        t.folderLocation = QString();
        store({scanned(QStringLiteral("b.mp3"), QStringLiteral("B"), QStringLiteral("Album"),
            QStringLiteral("Artist"))});
        QCOMPARE(m_store.loadRepoFolder(t).albumname, t.albumname);
    }

    void folderRulesFillWhatTheFolderAgreesOn()
    {
        store({scanned(QStringLiteral("1.mp3"), QStringLiteral("One"), QStringLiteral("Live"),
                   QStringLiteral("Abba")),
            scanned(QStringLiteral("2.mp3"), QStringLiteral("Two"), QStringLiteral("Studio"),
                QStringLiteral("abba"))});
        track t = unknownTrack(QStringLiteral("01 Intro.mp3"));
        track result = m_store.loadRepoFolder(t);
        QVERIFY(result.hasAlbum);
        QCOMPARE(result.albumname, QStringLiteral("Live"));
        QVERIFY(!result.hasArtist);  // two album names: the folder does not name one artist
        QVERIFY(!result.hasTitle);
        QCOMPARE(result.hasCover, t.hasCover);
        QCOMPARE(result.cover, t.cover);
    }

    void folderRulesWithOneAlbum()
    {
        // A blank album name says nothing, so the folder still has one album.
        track blank = scanned(
            QStringLiteral("0.mp3"), QStringLiteral("Zero"), QStringLiteral("  "), QStringLiteral(""));
        store({scanned(QStringLiteral("1.mp3"), QStringLiteral("One"), QStringLiteral("Gold"),
                   QStringLiteral("Abba")),
            scanned(QStringLiteral("2.mp3"), QStringLiteral("Two"), QStringLiteral("Gold"),
                QStringLiteral("abba")),
            blank});
        track t = unknownTrack(QStringLiteral("01 Intro.mp3"));
        t.originalPath = kFolder + QStringLiteral("/01 Intro.mp3");
        track result = m_store.loadRepoFolder(t);
        QCOMPARE(result.albumname, QStringLiteral("Gold"));
        QCOMPARE(result.artistname, QStringLiteral("Abba"));
        QCOMPARE(result.trackname, QStringLiteral("01 Intro"));
        QVERIFY(result.hasAlbum && result.hasArtist && result.hasTitle);

        const QList<QPair<QString, QString>> names
            = {{"/song.mp3.mp3", "song"}, {"/Mr. Brown", "Mr"}, {"/Song.", "Song"},
                {"/Track 01.mp3", "Unknown Song"}, {"", "Unknown Song"}, {"/.mp3", "Unknown Song"}};
        for (const auto &[path, expected] : names) {
            track u = unknownTrack(QStringLiteral("x.mp3"));
            u.originalPath = path.isEmpty() ? QString() : kFolder + path;
            QCOMPARE(m_store.loadRepoFolder(u).trackname, expected);
        }
        track trackNamed = unknownTrack(QStringLiteral("track 3.mp3"));
        trackNamed.originalPath = kFolder + QStringLiteral("/Nice.mp3");
        QCOMPARE(m_store.loadRepoFolder(trackNamed).trackname, QStringLiteral("Unknown Song"));
    }

    void compilationAndMixedFoldersGiveNoArtist()
    {
        store({scanned(QStringLiteral("1.mp3"), QStringLiteral("One"),
            QStringLiteral("Greatest Compilation Hits"), QStringLiteral("Various"))});
        QVERIFY(!m_store.loadRepoFolder(unknownTrack(QStringLiteral("z.mp3"))).hasArtist);

        track otherRate = scanned(QStringLiteral("2.mp3"), QStringLiteral("Two"),
            QStringLiteral("Greatest Compilation Hits"), QStringLiteral("Various"));
        otherRate.bitrate = 320;
        store({otherRate});
        const track result = m_store.loadRepoFolder(unknownTrack(QStringLiteral("z.mp3")));
        QVERIFY(!result.hasAlbum && !result.hasArtist && !result.hasTitle);
    }

    void matchingRowsAreMerged()
    {
        track playlistRow = scanned(QStringLiteral("p.mp3"), QStringLiteral("Anthem"),
            QStringLiteral("My List"), QStringLiteral("Singer"));
        playlistRow.playlist = QStringLiteral("My List");
        playlistRow.genre = QStringLiteral("Pop");
        playlistRow.tracknumber = 5;
        track otherRate = scanned(
            QStringLiteral("o.mp3"), QStringLiteral("Zzz"), QStringLiteral("Other"), QStringLiteral("X"));
        otherRate.bitrate = 320;  // two bit rates: no folder rule applies
        store({playlistRow, otherRate});

        track t = unknownTrack(QStringLiteral("q.mp3"));
        t.trackname = QStringLiteral("The Anthem (live)");
        track result = m_store.loadRepoFolder(t);
        QCOMPARE(result.artistname, QStringLiteral("Singer"));
        QVERIFY(result.hasArtist);
        QCOMPARE(result.trackname, QStringLiteral("Anthem"));
        QCOMPARE(result.genre, QStringLiteral("Pop"));
        QCOMPARE(result.tracknumber, qint16(5));
        QVERIFY(!result.hasAlbum);  // a playlist row never gives its album
    }

    void mergeNeverTakesBlankOrUnknownValues()
    {
        track t = unknownTrack(QStringLiteral("a.mp3"));
        t.tracknumber = 2;
        track copy = m_store.trackFromRepoRecord(t, QStringLiteral(""), QStringLiteral("  "),
            QStringLiteral("Track 05"), QStringLiteral("unknown"), 9, QString());
        QVERIFY(!t.hasAlbum && !t.hasArtist && !t.hasTitle);
        QCOMPARE(t.albumname, QStringLiteral("Unknown Album"));
        QCOMPARE(t.genre, QStringLiteral("Unknown Genre"));
        QCOMPARE(t.tracknumber, qint16(2));
        QCOMPARE(copy.trackname, t.trackname);

        t.genre = QString();
        m_store.trackFromRepoRecord(t, QStringLiteral("Real"), QStringLiteral("Someone"),
            QStringLiteral("Name"), QStringLiteral("Blues"), 0, QStringLiteral(" "));
        QVERIFY(t.hasAlbum && t.hasArtist && t.hasTitle);
        QCOMPARE(t.albumname, QStringLiteral("Real"));
        QCOMPARE(t.genre, QStringLiteral("Blues"));  // an empty genre is missing too
        m_store.trackFromRepoRecord(t, QStringLiteral("Other"), QStringLiteral("Other"),
            QStringLiteral("Other"), QStringLiteral("Jazz"), 3, QString());
        QCOMPARE(t.albumname, QStringLiteral("Real"));
        QCOMPARE(t.genre, QStringLiteral("Blues"));
        QCOMPARE(t.tracknumber, qint16(2));
    }
};

KIVO_TEST_MAIN(TestKivoDBRepo)
#include "tst_kivodb_repo.moc"
