#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlQuery>
#include <QThread>

#include <memory>

namespace {

QString firstValue(QSqlDatabase db, const QString &sql)
{
    QSqlQuery query(db);
    return query.exec(sql) && query.next() ? query.value(0).toString() : QString("<none>");
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A plain connection of its own, as another program (or an older version) would have.
class RawConnection
{
public:
    explicit RawConnection(const QString &path)
        : m_db(QSqlDatabase::addDatabase("QSQLITE", "raw " + path))
    {
        m_db.setDatabaseName(path);
        m_db.open();
    }
    ~RawConnection()
    {
        const QString name = m_db.connectionName();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    bool exec(const QString &sql) { return QSqlQuery(m_db).exec(sql); }

private:
    QSqlDatabase m_db;
};

}  // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;

    QString libraryFile() const { return m_env->appDataDir() + "/kivo.db"; }

    static bool openStore(Database &database)
    {
        return database.open("KivoData", true) && database.initStructure();
    }

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

    void firstStartMakesFolderAndResetsVehicleOnce()
    {
        QSettings("MyComp", "MyApp").setValue("MainWindows/Model", 5);
        QVERIFY(!QFileInfo::exists(m_env->appDataDir()));
        {
            Database database;  // a first start in a missing data folder
            QVERIFY2(openStore(database), qPrintable(database.lastError()));
            QCOMPARE(firstValue(database.handle(), "PRAGMA journal_mode"), "wal");
            QCOMPARE(firstValue(database.handle(), "PRAGMA synchronous"), "1");  // NORMAL
        }
        QCOMPARE(QSettings("MyComp", "MyApp").value("MainWindows/Model").toInt(), 0);
        QCOMPARE(QSettings("MyComp", "MyApp").value("MainWindows/ModelName").toString(), "Select");

        // A second start keeps the user's choice and the file.
        QSettings("MyComp", "MyApp").setValue("MainWindows/Model", 7);
        Database::close();
        Database again;
        QVERIFY(openStore(again));
        QCOMPARE(QSettings("MyComp", "MyApp").value("MainWindows/Model").toInt(), 7);
    }

    void olderFileIsMigratedAndKeepsItsRows()
    {
        QDir().mkpath(m_env->appDataDir());
        const QString song = m_env->makePath("music/old song.mp3");
        QFile(song).open(QIODevice::WriteOnly);
        {
            // The first file format: no added columns, and a repository table of an older shape.
            RawConnection raw(libraryFile());
            const QString sql = QString(
                "CREATE TABLE genres (@, genre); CREATE TABLE artists (@, name); CREATE TABLE years (@, "
                "year);"
                "CREATE TABLE albums (@, name, artist_id, cover, year); CREATE TABLE tracks (@, filename,"
                " trackname, filepath, codec, filesize, frequency, bitrate, source, tracknumber, duration,"
                " artist_id, album_id, genre_id, isPodcast, year_id);"
                "CREATE TABLE TrackRepo (@, filename TEXT NULL, folderLocation TEXT NULL);"
                "INSERT INTO genres(genre) VALUES ('Rock'); INSERT INTO artists(name) VALUES ('Old Artist');"
                "INSERT INTO years(year) VALUES (1999); INSERT INTO albums(name, artist_id, cover, year)"
                " VALUES ('Old Album', 1, '', 1999); INSERT INTO tracks(filename, trackname, filepath, codec,"
                " bitrate, artist_id, album_id, genre_id, year_id) VALUES ('old song.mp3', 'Old Song', '%1',"
                " 'mp3', 192, 1, 1, 1, 1)")
                                    .arg(song)
                                    .replace("@", "id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL");
            for (const QString &statement : sql.split(';'))
                QVERIFY2(raw.exec(statement), qPrintable(statement));
        }
        {
            Database database;
            QVERIFY2(openStore(database), qPrintable(database.lastError()));
            const QSqlDatabase db = database.handle();
            // Added columns, and the empty repository table of the old shape rebuilt with every column.
            QCOMPARE(
                firstValue(db,
                    "SELECT group_concat(name, ' ') FROM (SELECT name FROM pragma_table_info('tracks') "
                    "WHERE cid > 15 UNION ALL SELECT name FROM pragma_table_info('albums') WHERE cid > 4)"),
                "isAudiobook ReleaseDate playlist isVideo VideoImage coverdata MusicBrainzID DiscogsID");
            QCOMPARE(firstValue(db, "SELECT count(*) FROM pragma_table_info('TrackRepo')"), "25");
            bool ok = false;
            const TrackMap library = kivoDB().loadLibrary(QSqlDatabase(), &ok);
            QVERIFY(ok && library.size() == 1);
            QCOMPARE(QStringList({library.first().albumname, library.first().playlist}),
                QStringList({"Old Album", ""}));

            // A repository table holding rows is never rebuilt, whatever its shape.
            QVERIFY(QSqlQuery(db).exec("INSERT INTO TrackRepo(filename) VALUES ('a.mp3')"));
            QVERIFY(QSqlQuery(db).exec("ALTER TABLE TrackRepo ADD extra TEXT NULL"));
        }
        Database::close();
        Database database;
        QVERIFY(openStore(database));
        QCOMPARE(firstValue(database.handle(), "SELECT filename FROM TrackRepo"), "a.mp3");
    }

    void unusableFilesAreReportedAndLeftAlone()
    {
        // Missing and not to be made: every store call fails and says why.
        Database database;
        QVERIFY(!database.open("KivoData", false));
        QVERIFY(!QFileInfo::exists(libraryFile()));
        kivoDB store;
        QVERIFY(!store.libraryHasAlbums());
        QVERIFY(!store.insertTrackSingle(track{}));
        QCOMPARE(kivoDB::lastError(), "No library database is open.");
        bool ok = true;
        QVERIFY(store.loadLibrary(QSqlDatabase(), &ok).isEmpty() && !ok);

        // A file that is not a database is never written to.
        const QByteArray before = QByteArray("These are the user's notes, not a database.\n").repeated(200);
        {
            QFile file(libraryFile());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        }
        QVERIFY(!database.open("KivoData", true));
        QVERIFY2(database.lastError().contains("is not a database"), qPrintable(database.lastError()));
        QVERIFY(!Database::storeIsOpen());
        QCOMPARE(contentOf(libraryFile()), before);
        QVERIFY(!QFileInfo::exists(libraryFile() + "-wal"));

        // A folder standing where the file should be.
        QVERIFY(QFile::remove(libraryFile()) && QDir().mkpath(libraryFile()));
        QVERIFY(!database.open("KivoData", true));
        QVERIFY(!database.lastError().isEmpty());
    }

    void readOnlyFileOpensReadOnly()
    {
        const QString song = m_env->makePath("music/song.mp3");
        QFile(song).open(QIODevice::WriteOnly);
        {
            Database database;
            QVERIFY(openStore(database));
            track t{};
            t.filepath = song;
            QVERIFY(kivoDB().insertTrackSingle(t));
        }
        Database::close();
        QVERIFY(QFile::setPermissions(libraryFile(), QFileDevice::ReadOwner));
        const QByteArray before = contentOf(libraryFile());

        Database database;
        QVERIFY2(openStore(database), qPrintable(database.lastError()));
        QVERIFY(database.isReadOnly());
        QVERIFY2(database.lastError().contains("read-only"), qPrintable(database.lastError()));
        kivoDB store;
        bool ok = false;
        QVERIFY(store.loadLibrary(QSqlDatabase(), &ok).size() == 1 && ok);
        track other{};
        other.filepath = song + "2";
        QVERIFY(!store.insertTrackSingle(other));
        QVERIFY(!store.deleteTrackByPath(QSqlDatabase(), song));
        QVERIFY(QFileInfo::exists(song));

        Database::close();
        QCOMPARE(contentOf(libraryFile()), before);
        QFile::setPermissions(libraryFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void lockedFileWaitsBrieflyThenFails()
    {
        Database::setBusyTimeout(200);
        QDir().mkpath(m_env->appDataDir());
        RawConnection other(libraryFile());
        for (const char *sql : {"CREATE TABLE notes(text TEXT)", "PRAGMA locking_mode = EXCLUSIVE",
                 "BEGIN EXCLUSIVE", "INSERT INTO notes VALUES ('being written')"})
            QVERIFY2(other.exec(sql), sql);

        Database database;
        QVERIFY(!database.open("KivoData", true));
        QVERIFY2(database.lastError().contains("locked"), qPrintable(database.lastError()));
        QVERIFY(!Database::storeIsOpen());

        // Back to normal locking; the next read drops the exclusive lock.
        QVERIFY(other.exec("COMMIT") && other.exec("PRAGMA locking_mode = NORMAL")
            && other.exec("SELECT 1 FROM notes"));
        QVERIFY2(openStore(database), qPrintable(database.lastError()));
        QCOMPARE(firstValue(database.handle(), "SELECT text FROM notes"), "being written");

        // Another writer busy: readers go on (WAL), the schema update fails cleanly and can be retried.
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        Database::close();
        QVERIFY(database.open("KivoData", true));
        QVERIFY(!database.initStructure());
        QVERIFY2(database.lastError().contains("locked"), qPrintable(database.lastError()));
        QVERIFY(other.exec("ROLLBACK"));
        QVERIFY(database.initStructure());
    }

    void eachThreadHasItsOwnConnection()
    {
        Database database;
        QVERIFY(openStore(database));
        const QString mainName = Database::threadConnection().connectionName();
        QString workerName;
        bool workerOpen = false;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            workerName = Database::threadConnection().connectionName();
            workerOpen = Database::threadConnection().isOpen();
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(workerOpen && workerName != mainName);
        // The worker's connection went with its thread.
        QVERIFY(!QSqlDatabase::connectionNames().contains(workerName));
        QVERIFY(QSqlDatabase::connectionNames().contains(mainName));
    }
};

KIVO_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
