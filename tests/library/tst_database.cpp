#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include <memory>

namespace {

QStringList columnsOf(QSqlDatabase db, const QString &table)
{
    QStringList names;
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (query.next())
        names << query.value(1).toString();
    return names;
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A plain connection of its own, as another program (or an older version) would have.
class RawConnection
{
public:
    explicit RawConnection(const QString &path)
        : m_name(QStringLiteral("raw-%1").arg(++s_counter))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        m_db.open();
    }
    ~RawConnection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString &sql)
    {
        QSqlQuery query(m_db);
        const bool ok = query.exec(sql);
        if (!ok)
            qWarning() << sql << query.lastError().text();
        return ok;
    }
    QSqlDatabase db() const { return m_db; }

private:
    static inline int s_counter = 0;
    QString m_name;
    QSqlDatabase m_db;
};

}  // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnv> m_env;

    QString libraryFile() const { return m_env->appDataDir() + QStringLiteral("/kivo.db"); }

private slots:
    void init()
    {
        Database::close();
        Database::setBusyTimeout(5000);
        m_env = std::make_unique<TestEnv>();
    }

    void cleanup()
    {
        Database::close();
        m_env.reset();
    }

    void newFileGetsSchemaAndResetsVehicle()
    {
        {
            QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
            settings.setValue(QStringLiteral("MainWindows/Model"), 5);
            settings.setValue(QStringLiteral("MainWindows/ModelName"), QStringLiteral("Roadster"));
        }
        QVERIFY(!QFileInfo::exists(m_env->appDataDir()));
        Database database;
        QVERIFY(QFileInfo(m_env->appDataDir()).isDir());
        QCOMPARE(database.filePath(), libraryFile());
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY(database.initStructure());

        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        QCOMPARE(settings.value(QStringLiteral("Model")).toInt(), 0);
        QCOMPARE(settings.value(QStringLiteral("ModelName")).toString(), QStringLiteral("Select"));
        QCOMPARE(settings.value(QStringLiteral("ModelYearValue")).toString(), QStringLiteral("Select"));
        QCOMPARE(settings.value(QStringLiteral("ModelYearIndex")).toInt(), 0);

        QSqlDatabase db = database.handle();
        QCOMPARE(columnsOf(db, QStringLiteral("tracks")).size(), 21);
        QCOMPARE(columnsOf(db, QStringLiteral("albums")).size(), 8);
        QCOMPARE(columnsOf(db, QStringLiteral("artists")).size(), 4);
        QCOMPARE(columnsOf(db, QStringLiteral("TrackRepo")).size(), 25);
        QCOMPARE(columnsOf(db, QStringLiteral("tracks")).mid(16),
            QStringList({"isAudiobook", "ReleaseDate", "playlist", "isVideo", "VideoImage"}));
        QCOMPARE(columnsOf(db, QStringLiteral("getTracks")),
            QStringList({"id", "filename", "trackname", "filepath", "codec", "filesize", "frequency",
                "bitrate", "source", "tracknumber", "duration", "VideoImage", "artist_id", "artistname",
                "album_id", "albumname", "cover", "coverdata", "genre", "isPodcast", "isAudiobook", "isVideo",
                "ReleaseDate", "playlist", "year"}));
        QCOMPARE(columnsOf(db, QStringLiteral("getTracksRepo")).first().toLower(), QStringLiteral("id"));
        QCOMPARE(columnsOf(db, QStringLiteral("getTracksRepo")).size(), 25);
        for (const char *table : {"genres", "artists", "albums", "tracks", "years", "playlists",
                 "playlist_items", "artistsRepo", "albumsRepo", "TrackRepo"})
            QVERIFY2(!columnsOf(db, QString::fromLatin1(table)).isEmpty(), table);

        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(query.exec(QStringLiteral("PRAGMA synchronous")) && query.next());
        QCOMPARE(query.value(0).toInt(), 1);  // NORMAL
        // The name look-ups are backed by indexes.
        QVERIFY(query.exec(
            QStringLiteral("EXPLAIN QUERY PLAN SELECT id FROM albums WHERE name = 'x' COLLATE NOCASE")));
        QVERIFY(query.next());
        QVERIFY2(query.value(3).toString().contains(QLatin1String("kivo_albums_name")),
            qPrintable(query.value(3).toString()));
        query = QSqlQuery();
        db = QSqlDatabase();

        // A second start writes no settings and keeps the file.
        settings.setValue(QStringLiteral("Model"), 7);
        settings.sync();
        Database::close();
        Database again;
        QVERIFY(again.open(QStringLiteral("KivoData"), true));
        QVERIFY(again.initStructure());
        QCOMPARE(QSettings(QStringLiteral("MyComp"), QStringLiteral("MyApp"))
                     .value(QStringLiteral("MainWindows/Model"))
                     .toInt(),
            7);
        // Opening under a name already open reports the existing connection.
        QVERIFY(again.open(QStringLiteral("KivoData"), true));
    }

    void olderFileIsMigratedAndKeepsItsRows()
    {
        QDir().mkpath(m_env->appDataDir());
        const QString song = m_env->makePath(QStringLiteral("music/old song.mp3"));
        QFile(song).open(QIODevice::WriteOnly);
        {
            // The first file format: no added columns, and a repository table of an older shape.
            RawConnection raw(libraryFile());
            QVERIFY(raw.exec(
                "CREATE TABLE `genres` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `genre` TEXT "
                "NOT NULL)"));
            QVERIFY(raw.exec(
                "CREATE TABLE `artists` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT "
                "NOT NULL)"));
            QVERIFY(raw.exec(
                "CREATE TABLE `albums` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT "
                "NOT NULL, `artist_id` INTEGER NOT NULL, `cover` TEXT, `year` INTEGER NOT NULL)"));
            QVERIFY(raw.exec(
                "CREATE TABLE `tracks` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `filename` "
                "TEXT NOT NULL, `trackname` TEXT NOT NULL, `filepath` TEXT NOT NULL, `codec` TEXT NOT "
                "NULL, `filesize` INTEGER NULL, `frequency` INTEGER NULL, `bitrate` INTEGER NULL, "
                "`source` INTEGER, `tracknumber` INTEGER, `duration` INTEGER NULL, `artist_id` INTEGER "
                "NOT NULL, `album_id` INTEGER NOT NULL, `genre_id` INTEGER NOT NULL, `isPodcast` bit, "
                "`year_id` INTEGER NOT NULL)"));
            QVERIFY(raw.exec("CREATE TABLE `years` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `year` "
                             "INTEGER NOT NULL)"));
            QVERIFY(raw.exec("CREATE TABLE `TrackRepo` (`ID` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                             "`filename` TEXT NULL, `folderLocation` TEXT NULL, `trackname` TEXT NULL)"));
            QVERIFY(raw.exec("INSERT INTO genres(genre) VALUES ('Rock')"));
            QVERIFY(raw.exec("INSERT INTO artists(name) VALUES ('Old Artist')"));
            QVERIFY(raw.exec(
                "INSERT INTO albums(name, artist_id, cover, year) VALUES ('Old Album', 1, '', 1999)"));
            QVERIFY(raw.exec("INSERT INTO years(year) VALUES (1999)"));
            QSqlQuery insert(raw.db());
            insert.prepare(
                "INSERT INTO tracks(filename, trackname, filepath, codec, bitrate, artist_id, album_id, "
                "genre_id, year_id) VALUES ('old song.mp3', 'Old Song', ?, 'mp3', 192, 1, 1, 1, 1)");
            insert.addBindValue(song);
            QVERIFY(insert.exec());
        }

        Database database;
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY2(database.initStructure(), qPrintable(database.lastError()));
        const QSqlDatabase db = database.handle();
        QCOMPARE(columnsOf(db, QStringLiteral("tracks")).mid(16),
            QStringList({"isAudiobook", "ReleaseDate", "playlist", "isVideo", "VideoImage"}));
        QCOMPARE(columnsOf(db, QStringLiteral("albums")).mid(5),
            QStringList({"coverdata", "MusicBrainzID", "DiscogsID"}));
        QCOMPARE(
            columnsOf(db, QStringLiteral("artists")).mid(2), QStringList({"MusicBrainzID", "DiscogsID"}));
        // The empty repository table of the old shape was rebuilt with every column.
        QCOMPARE(columnsOf(db, QStringLiteral("TrackRepo")).size(), 25);

        kivoDB store;
        bool ok = false;
        const TrackMap library = store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY(ok);
        QCOMPARE(library.size(), 1);
        const track t = library.first();
        QCOMPARE(t.trackname, QStringLiteral("Old Song"));
        QCOMPARE(t.albumname, QStringLiteral("Old Album"));
        QCOMPARE(t.artistname, QStringLiteral("Old Artist"));
        QCOMPARE(t.genre, QStringLiteral("Rock"));
        QCOMPARE(t.year, qint16(1999));
        QCOMPARE(t.quality, qint16(1));
        QCOMPARE(t.playlist, QStringLiteral(""));
        QCOMPARE(t.playlistId, qint64(0));
    }

    void repositoryWithRowsIsKept()
    {
        {
            Database database;
            QVERIFY(database.open(QStringLiteral("KivoData"), true));
            QVERIFY(database.initStructure());
            QSqlQuery query(database.handle());
            QVERIFY(query.exec("INSERT INTO TrackRepo(filename, folderLocation) VALUES ('a.mp3', '/music')"));
            QVERIFY(query.exec("ALTER TABLE TrackRepo ADD extra TEXT NULL"));
        }
        Database::close();
        Database database;
        QVERIFY(database.open(QStringLiteral("KivoData"), true));
        QVERIFY(database.initStructure());
        QCOMPARE(columnsOf(database.handle(), QStringLiteral("TrackRepo")).size(), 26);
        QSqlQuery query(database.handle());
        QVERIFY(query.exec("SELECT filename FROM TrackRepo") && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("a.mp3"));
    }

    void missingFileWithoutCreate()
    {
        Database database;
        QVERIFY(!database.open(QStringLiteral("KivoData"), false));
        QVERIFY(!QFileInfo::exists(libraryFile()));
        QVERIFY(!Database::storeIsOpen());
        kivoDB store;
        QVERIFY(!store.libraryHasAlbums());
        QVERIFY(!store.insertTrackSingle(track{}));
        QCOMPARE(kivoDB::lastError(), QStringLiteral("No library database is open."));
        bool ok = true;
        QVERIFY(store.loadLibrary(QSqlDatabase(), &ok).isEmpty());
        QVERIFY(!ok);
    }

    void fileThatIsNoDatabaseIsLeftAlone()
    {
        QDir().mkpath(m_env->appDataDir());
        {
            QFile file(libraryFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int i = 0; i < 200; ++i)
                file.write("These are the user's notes, not a database.\n");
        }
        const QByteArray before = fileHash(libraryFile());
        Database database;
        QVERIFY(!database.open(QStringLiteral("KivoData"), true));
        QVERIFY2(database.lastError().contains(QLatin1String("is not a database")),
            qPrintable(database.lastError()));
        QVERIFY(!Database::storeIsOpen());
        QCOMPARE(fileHash(libraryFile()), before);
        QVERIFY(!QFileInfo::exists(libraryFile() + QStringLiteral("-wal")));

        // A folder standing where the file should be.
        QVERIFY(QFile::remove(libraryFile()));
        QVERIFY(QDir().mkpath(libraryFile()));
        QVERIFY(!database.open(QStringLiteral("KivoData"), true));
        QVERIFY(!database.lastError().isEmpty());
    }

    void readOnlyFileOpensReadOnly()
    {
        const QString song = m_env->makePath(QStringLiteral("music/song.mp3"));
        QFile(song).open(QIODevice::WriteOnly);
        {
            Database database;
            QVERIFY(database.open(QStringLiteral("KivoData"), true));
            QVERIFY(database.initStructure());
            track t{};
            t.filepath = song;
            t.trackname = QStringLiteral("Kept");
            QVERIFY(kivoDB().insertTrackSingle(t));
        }
        Database::close();
        QVERIFY(QFile::setPermissions(libraryFile(), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        const QByteArray before = fileHash(libraryFile());

        Database database;
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY(database.isReadOnly());
        QVERIFY2(database.lastError().contains(QLatin1String("read-only")), qPrintable(database.lastError()));
        QVERIFY2(database.initStructure(), qPrintable(database.lastError()));

        kivoDB store;
        bool ok = false;
        const TrackMap library = store.loadLibrary(QSqlDatabase(), &ok);
        QVERIFY(ok);
        QCOMPARE(library.size(), 1);
        QCOMPARE(library.first().trackname, QStringLiteral("Kept"));
        track other{};
        other.filepath = song + QStringLiteral("2");
        QVERIFY(!store.insertTrackSingle(other));
        QVERIFY(!kivoDB::lastError().isEmpty());
        QVERIFY(!store.deleteTrackByPath(QSqlDatabase(), song));
        QVERIFY(QFileInfo::exists(song));
        QVERIFY(store.libraryHasAlbums());

        Database::close();
        QCOMPARE(fileHash(libraryFile()), before);
        QFile::setPermissions(libraryFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void lockedFileIsReportedAndNotWritten()
    {
        Database::setBusyTimeout(200);
        QDir().mkpath(m_env->appDataDir());
        RawConnection other(libraryFile());
        QVERIFY(other.exec("CREATE TABLE notes(text TEXT)"));
        QVERIFY(other.exec("PRAGMA locking_mode = EXCLUSIVE"));
        QVERIFY(other.exec("BEGIN EXCLUSIVE"));
        QVERIFY(other.exec("INSERT INTO notes VALUES ('being written')"));

        Database database;
        QVERIFY(!database.open(QStringLiteral("KivoData"), true));
        QVERIFY2(database.lastError().contains(QLatin1String("locked")), qPrintable(database.lastError()));
        QVERIFY(!Database::storeIsOpen());

        QVERIFY(other.exec("COMMIT"));
        QVERIFY(other.exec("PRAGMA locking_mode = NORMAL"));
        QVERIFY(other.exec("SELECT count(*) FROM notes"));  // drops the exclusive lock
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY(database.initStructure());
        QSqlQuery query(database.handle());
        QVERIFY(query.exec("SELECT text FROM notes") && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("being written"));
    }

    void busyWriterFailsSchemaUpdateCleanly()
    {
        Database::setBusyTimeout(200);
        {
            Database database;
            QVERIFY(database.open(QStringLiteral("KivoData"), true));
            QVERIFY(database.initStructure());
        }
        Database::close();
        RawConnection other(libraryFile());
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        Database database;
        QVERIFY(database.open(QStringLiteral("KivoData"), true));  // readers are not blocked in WAL mode
        QVERIFY(!database.initStructure());
        QVERIFY2(database.lastError().contains(QLatin1String("locked")), qPrintable(database.lastError()));
        QVERIFY(other.exec("ROLLBACK"));
        QVERIFY(database.initStructure());
    }

    void eachThreadHasItsOwnConnection()
    {
        Database database;
        QVERIFY(database.open(QStringLiteral("KivoData"), true));
        QVERIFY(database.initStructure());
        const QString mainName = Database::threadConnection().connectionName();
        QCOMPARE(Database::threadConnection().connectionName(), mainName);

        QString workerName;
        bool workerOpen = false;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            const QSqlDatabase db = Database::threadConnection();
            workerName = db.connectionName();
            workerOpen = db.isOpen();
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(workerOpen);
        QVERIFY(workerName != mainName);
        // The worker's connection went with its thread.
        QVERIFY(!QSqlDatabase::connectionNames().contains(workerName));
        QVERIFY(QSqlDatabase::connectionNames().contains(mainName));
    }
};

KIVO_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
