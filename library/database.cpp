#include "database.h"

#include "applog.h"
#include "apppaths.h"
#include "storesql_p.h"

#include <QAtomicInteger>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QThread>
#include <QThreadStorage>
#include <QUrl>

namespace {

// The file every store connection opens, chosen by Database::open.
struct StoreState {
    QMutex mutex;
    QString path;
    bool open = false;
    bool readOnly = false;
    quint64 generation = 0;
    int busyTimeoutMs = 5000;
};

StoreState &storeState()
{
    static StoreState state;
    return state;
}

// One thread's connection; removed from Qt's list when the thread ends.
struct ThreadConnection {
    QString name;
    quint64 generation = 0;

    ~ThreadConnection() { drop(); }
    void drop()
    {
        if (name.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        name.clear();
    }
};

QThreadStorage<ThreadConnection *> &threadConnections()
{
    static QThreadStorage<ThreadConnection *> storage;
    return storage;
}

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("kivo-store-%1-%2")
        .arg(counter.fetchAndAddRelaxed(1))
        .arg(reinterpret_cast<quintptr>(QThread::currentThread()), 0, 16);
}

// Adds and opens a connection named `name`; the caller checks isOpen() and removes it on failure.
QSqlDatabase openConnection(const QString &name, const QString &path, bool readOnly, int busyMs)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs);
    // A read-only library is read as an unchanging file, so no -wal or -shm file is made beside
    // it; only a write-ahead log with content left by a crash is read the ordinary way.
    const QFileInfo log(path + QStringLiteral("-wal"));
    if (readOnly && (!log.exists() || log.size() == 0)) {
        QUrl url = QUrl::fromLocalFile(path);
        url.setScheme(QStringLiteral("file"));
        url.setQuery(QStringLiteral("mode=ro&immutable=1"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        options += QStringLiteral(";QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
    } else {
        db.setDatabaseName(path);
        if (readOnly)
            options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    }
    db.setConnectOptions(options);
    db.open();
    return db;
}

QString damagedMessage(const QString &path)
{
    return QStringLiteral("The library file %1 is damaged; it was left unchanged.")
        .arg(QDir::toNativeSeparators(path));
}

// "ok", or the first problem SQLite's quick check finds in the file.
QString quickCheck(QSqlDatabase db, QSqlError *error)
{
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")) || !check.next()) {
        *error = check.lastError();
        return error->text().isEmpty() ? QStringLiteral("the check could not run") : error->text();
    }
    return check.value(0).toString();
}

void removeConnection(QSqlDatabase &db)
{
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

// Settings every connection needs; journal mode is a property of the file and set by open().
bool configureConnection(QSqlDatabase db, int busyMs, QSqlError *error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(busyMs))
        || !query.exec(QStringLiteral("PRAGMA synchronous = NORMAL"))) {
        *error = query.lastError();
        return false;
    }
    return true;
}

QString describeOpenError(const QString &path, const QSqlError &error)
{
    const QString file = QDir::toNativeSeparators(path);
    switch (storesql::sqliteCode(error)) {
    case 26:  // SQLITE_NOTADB
        return QStringLiteral("The library file %1 is not a database; it was left unchanged.").arg(file);
    case 11:  // SQLITE_CORRUPT
        return QStringLiteral("The library file %1 is damaged; it was left unchanged.").arg(file);
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
        return QStringLiteral("The library file %1 is locked by another program; close it and try again.")
            .arg(file);
    case 8:  // SQLITE_READONLY
        return QStringLiteral("The library file %1 cannot be written.").arg(file);
    default:
        return QStringLiteral("The library file %1 cannot be opened: %2").arg(file, error.text());
    }
}

const char *const kCreateTables[] = {
    "CREATE TABLE IF NOT EXISTS `genres` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `genre` TEXT NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS `artists` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS `albums` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT NOT "
    "NULL, "
    "`artist_id` INTEGER NOT NULL, `cover` TEXT, `year` INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS `tracks` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `filename` TEXT "
    "NOT "
    "NULL, `trackname` TEXT NOT NULL, `filepath` TEXT NOT NULL, `codec` TEXT NOT NULL, `filesize` INTEGER "
    "NULL, "
    "`frequency` INTEGER NULL, `bitrate` INTEGER NULL, `source` INTEGER, `tracknumber` INTEGER, `duration` "
    "INTEGER NULL, `artist_id` INTEGER NOT NULL, `album_id` INTEGER NOT NULL, `genre_id` INTEGER NOT NULL, "
    "`isPodcast` bit, `year_id` INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS `years` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `year` INTEGER NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS `playlists` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `filename` "
    "TEXT "
    "NOT NULL, `name` TEXT NOT NULL, `type` INTEGER NULL)",
    "CREATE TABLE IF NOT EXISTS `playlist_items` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `url` "
    "TEXT "
    "NOT NULL, `name` TEXT NOT NULL, `playlist_id` INTEGER NOT NULL)",
};

struct Migration {
    const char *table;
    const char *column;
    const char *alter;
    const char *label;
};

// Columns added after the first release, in the order older files receive them.
const Migration kMigrations[] = {
    {"tracks", "isAudiobook", "ALTER TABLE tracks ADD isAudiobook bit", "Audiobook"},
    {"tracks", "ReleaseDate", "ALTER TABLE tracks ADD ReleaseDate TEXT NULL", "Release Date"},
    {"tracks", "playlist", "ALTER TABLE tracks ADD playlist TEXT NULL", "playlist"},
    {"albums", "coverdata", "ALTER TABLE albums ADD coverdata TEXT NULL", "CoverData"},
    {"tracks", "isVideo", "ALTER TABLE tracks ADD isVideo bit", "isVideo"},
    {"tracks", "VideoImage", "ALTER TABLE tracks ADD VideoImage TEXT NULL", "VideoImage"},
    {"artists", "MusicBrainzID", "ALTER TABLE artists ADD MusicBrainzID INTEGER NULL", "MusicBrainzID"},
    {"artists", "DiscogsID", "ALTER TABLE artists ADD DiscogsID INTEGER NULL", "DiscogsID"},
    {"albums", "MusicBrainzID", "ALTER TABLE albums ADD MusicBrainzID INTEGER NULL", "MusicBrainzID"},
    {"albums", "DiscogsID", "ALTER TABLE albums ADD DiscogsID INTEGER NULL", "DiscogsID"},
};

const char *const kCreateRepoTables[] = {
    "CREATE TABLE IF NOT EXISTS `artistsRepo` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT "
    "NOT "
    "NULL)",
    "CREATE TABLE IF NOT EXISTS `albumsRepo` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT "
    "NOT "
    "NULL, `artist_id` INTEGER NOT NULL, `cover` TEXT, `year` INTEGER NOT NULL)",
};

const char *const kCreateTrackRepo
    = "CREATE TABLE IF NOT EXISTS `TrackRepo` (`ID` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `filename` "
      "TEXT "
      "NULL, `folderLocation` TEXT NULL, `trackname` TEXT NULL, `filepath` TEXT NULL, `codec` TEXT NULL, "
      "`filesize` INTEGER NULL, `frequency` INTEGER NULL, `bitrate` INTEGER NULL, `source` INTEGER NULL, "
      "`tracknumber` INTEGER NULL, `duration` INTEGER NULL, `artist_id` INTEGER NULL, `album_id` INTEGER "
      "NULL, "
      "`genre` TEXT NULL, `IsPodcast` bit NULL, `year` INTEGER NULL, `MusicBrainzID` INTEGER NULL, "
      "`DiscogsID` "
      "INTEGER NULL, `isAudiobook` bit NULL, `releaseDate` TEXT NULL, `Playlist` TEXT NULL, `MusicSample` "
      "TEXT "
      "NULL, `isVideo` bit NULL, `VideoImage` TEXT NULL, FOREIGN KEY(artist_id) REFERENCES artistsRepo(ID), "
      "FOREIGN KEY(album_id) REFERENCES albumsRepo(ID))";

// Every look-up by name or path is backed by an index; names compared without case get a NOCASE one.
const char *const kCreateIndexes[] = {
    "CREATE INDEX IF NOT EXISTS kivo_genres_genre ON genres(genre)",
    "CREATE INDEX IF NOT EXISTS kivo_artists_name ON artists(name COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS kivo_albums_name ON albums(name COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS kivo_years_year ON years(year)",
    "CREATE INDEX IF NOT EXISTS kivo_tracks_filepath ON tracks(filepath)",
    "CREATE INDEX IF NOT EXISTS kivo_tracks_album ON tracks(album_id)",
    "CREATE INDEX IF NOT EXISTS kivo_tracks_artist ON tracks(artist_id)",
    "CREATE INDEX IF NOT EXISTS kivo_artistsRepo_name ON artistsRepo(name)",
    "CREATE INDEX IF NOT EXISTS kivo_albumsRepo_name ON albumsRepo(name COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS kivo_TrackRepo_filepath ON TrackRepo(filepath)",
    "CREATE INDEX IF NOT EXISTS kivo_TrackRepo_folder ON TrackRepo(folderLocation, trackname)",
};

const char *const kCreateGetTracks
    = "CREATE VIEW getTracks AS SELECT tracks.id, tracks.filename, tracks.trackname, tracks.filepath, "
      "tracks.codec, tracks.filesize, tracks.frequency, tracks.bitrate, tracks.source, tracks.tracknumber, "
      "tracks.duration, tracks.VideoImage, artists.id as artist_id, artists.name as artistname, albums.id as "
      "album_id, albums.name as albumname, albums.cover, albums.coverdata, genres.genre, tracks.isPodcast, "
      "tracks.isAudiobook, tracks.isVideo, tracks.ReleaseDate, tracks.playlist, years.year as year FROM "
      "tracks "
      "LEFT JOIN artists ON tracks.artist_id = artists.id LEFT JOIN albums ON tracks.album_id = albums.id "
      "LEFT "
      "JOIN genres ON tracks.genre_id = genres.id LEFT JOIN years ON tracks.year_id = years.id";

const char *const kCreateGetTracksRepo
    = "CREATE VIEW getTracksRepo AS SELECT TrackRepo.id, TrackRepo.filename, TrackRepo.trackname, "
      "TrackRepo.filepath, TrackRepo.codec, TrackRepo.filesize, TrackRepo.frequency, TrackRepo.bitrate, "
      "TrackRepo.source, TrackRepo.tracknumber, TrackRepo.duration, TrackRepo.folderLocation, "
      "TrackRepo.VideoImage, artistsRepo.id as artist_id, artistsRepo.name as artistname, albumsRepo.id as "
      "album_id, albumsRepo.name as albumname, albumsRepo.cover, TrackRepo.genre, TrackRepo.isPodcast, "
      "TrackRepo.isAudiobook, TrackRepo.isVideo, TrackRepo.releaseDate, TrackRepo.Playlist, TrackRepo.year "
      "FROM "
      "TrackRepo LEFT JOIN artistsRepo ON TrackRepo.artist_id = artistsRepo.id LEFT JOIN albumsRepo ON "
      "TrackRepo.album_id = albumsRepo.id";

const char *const kRequiredObjects[] = {"genres", "artists", "albums", "tracks", "years", "artistsRepo",
    "albumsRepo", "TrackRepo", "getTracks", "getTracksRepo"};

}  // namespace

Database::Database()
    : driver(QStringLiteral("QSQLITE"))
    , path(defaultFilePath())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
}

Database::~Database() = default;

QString Database::defaultFilePath()
{
    return AppPaths().dataDir + QStringLiteral("/kivo.db");
}

bool Database::storeIsOpen()
{
    StoreState &state = storeState();
    QMutexLocker lock(&state.mutex);
    return state.open;
}

bool Database::storeIsReadOnly()
{
    StoreState &state = storeState();
    QMutexLocker lock(&state.mutex);
    return state.open && state.readOnly;
}

QString Database::storeFilePath()
{
    StoreState &state = storeState();
    QMutexLocker lock(&state.mutex);
    return state.open ? state.path : QString();
}

void Database::setBusyTimeout(int milliseconds)
{
    StoreState &state = storeState();
    QMutexLocker lock(&state.mutex);
    state.busyTimeoutMs = qMax(0, milliseconds);
}

int Database::busyTimeout()
{
    StoreState &state = storeState();
    QMutexLocker lock(&state.mutex);
    return state.busyTimeoutMs;
}

void Database::close()
{
    {
        StoreState &state = storeState();
        QMutexLocker lock(&state.mutex);
        state.open = false;
        state.path.clear();
        ++state.generation;
    }
    if (threadConnections().hasLocalData())
        threadConnections().localData()->drop();
}

QSqlDatabase Database::threadConnection()
{
    QString path;
    bool readOnly = false;
    quint64 generation = 0;
    int busyMs = 0;
    {
        StoreState &state = storeState();
        QMutexLocker lock(&state.mutex);
        if (!state.open)
            return QSqlDatabase();
        path = state.path;
        readOnly = state.readOnly;
        generation = state.generation;
        busyMs = state.busyTimeoutMs;
    }

    QThreadStorage<ThreadConnection *> &storage = threadConnections();
    if (!storage.hasLocalData())
        storage.setLocalData(new ThreadConnection);
    ThreadConnection *holder = storage.localData();
    if (!holder->name.isEmpty() && holder->generation == generation) {
        QSqlDatabase db = QSqlDatabase::database(holder->name, false);
        if (db.isOpen())
            return db;
    }
    holder->drop();

    const QString name = uniqueConnectionName();
    QSqlDatabase db = openConnection(name, path, readOnly, busyMs);
    QSqlError error = db.lastError();
    if (!db.isOpen() || !configureConnection(db, busyMs, &error)) {
        writeLog(appLogFile(), QStringLiteral("Database: "), describeOpenError(path, error));
        removeConnection(db);
        return QSqlDatabase();
    }
    holder->name = name;
    holder->generation = generation;
    return db;
}

bool Database::fail(const QString &message)
{
    m_lastError = message;
    qDebug() << "- Database ->" << message;
    writeLog(appLogFile(), QStringLiteral("Database: "), message);
    return false;
}

bool Database::open(const QString &name, bool create)
{
    connectionName = name;
    m_lastError.clear();

    if (storeIsOpen() && storeFilePath() == path) {
        const QSqlDatabase current = threadConnection();
        if (current.isValid()) {
            qDebug() << "- Database -> Connection with name" << name << "exists";
            m_readOnly = storeIsReadOnly();
            return true;
        }
    }

    const QFileInfo info(path);
    const bool exists = info.exists();
    if (exists && !info.isFile())
        return fail(QStringLiteral("The library file %1 is not a file.").arg(QDir::toNativeSeparators(path)));
    if (!exists && !create) {
        m_lastError
            = QStringLiteral("The library file %1 does not exist.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!exists)
        QDir().mkpath(info.absolutePath());

    // The owner's write bit is honoured even for a user who could write anyway, so a file the
    // user marked read-only is never changed.
    const bool readOnly = exists
        && (!info.isWritable() || !(info.permissions() & QFileDevice::WriteOwner)
            || !QFileInfo(info.absolutePath()).isWritable());

    const int busyMs = busyTimeout();
    QSqlDatabase candidate = openConnection(uniqueConnectionName(), path, readOnly, busyMs);
    QSqlError error = candidate.lastError();
    bool ok = candidate.isOpen();
    if (ok) {
        // Reading the schema is what tells a database from any other file, and a locked one.
        QSqlQuery probe(candidate);
        ok = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && probe.next();
        if (!ok)
            error = probe.lastError();
    }
    // A damaged file is told before anything is written to it, and left as it is. A file in
    // WAL mode needs no write to open, so its check (which reads the whole file) is left to
    // checkStore() off the window's thread; an older one is checked before it is switched.
    bool inWal = false;
    if (ok && exists) {
        QSqlQuery mode(candidate);
        inWal = mode.exec(QStringLiteral("PRAGMA journal_mode")) && mode.next()
            && mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    }
    if (ok && exists && !inWal) {
        const QString verdict = quickCheck(candidate, &error);
        if (verdict != QLatin1String("ok")) {
            removeConnection(candidate);
            writeLog(appLogFile(), QStringLiteral("Database check: "), verdict);
            return fail(damagedMessage(path));
        }
    }
    m_checked = !exists || !inWal;
    if (ok && !readOnly) {
        QSqlQuery pragma(candidate);
        if (!exists)
            pragma.exec(QStringLiteral("PRAGMA auto_vacuum = FULL"));
        ok = pragma.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && pragma.next();
        if (!ok)
            error = pragma.lastError();
        else if (pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            writeLog(appLogFile(), QStringLiteral("Database: "),
                QStringLiteral("The library file could not switch to WAL mode; it stays in %1 mode.")
                    .arg(pragma.value(0).toString()));
    }
    if (ok)
        ok = configureConnection(candidate, busyMs, &error);
    if (!ok) {
        removeConnection(candidate);
        return fail(describeOpenError(path, error));
    }

    if (!exists) {
        // A new library file means no vehicle has been chosen for it yet.
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        settings.setValue(QStringLiteral("Model"), 0);
        settings.setValue(QStringLiteral("ModelName"), QStringLiteral("Select"));
        settings.setValue(QStringLiteral("ModelYearValue"), QStringLiteral("Select"));
        settings.setValue(QStringLiteral("ModelYearIndex"), 0);
        settings.endGroup();
        settings.sync();
    }

    quint64 generation = 0;
    {
        StoreState &state = storeState();
        QMutexLocker lock(&state.mutex);
        state.path = path;
        state.open = true;
        state.readOnly = readOnly;
        generation = ++state.generation;
    }
    QThreadStorage<ThreadConnection *> &storage = threadConnections();
    if (!storage.hasLocalData())
        storage.setLocalData(new ThreadConnection);
    storage.localData()->drop();
    storage.localData()->name = candidate.connectionName();
    storage.localData()->generation = generation;

    candidate = QSqlDatabase();
    m_readOnly = readOnly;
    if (readOnly) {
        m_lastError
            = QStringLiteral("The library file %1 is read-only: the library opens, but changes cannot "
                             "be saved.")
                  .arg(QDir::toNativeSeparators(path));
        qDebug() << "- Database ->" << m_lastError;
        writeLog(appLogFile(), QStringLiteral("Database: "), m_lastError);
    }
    return true;
}

QString Database::checkStore()
{
    const QSqlDatabase db = threadConnection();
    if (!db.isValid() || !db.isOpen())
        return QStringLiteral("No library database is open.");
    QSqlError error;
    const QString verdict = quickCheck(db, &error);
    if (verdict == QLatin1String("ok"))
        return {};
    writeLog(appLogFile(), QStringLiteral("Database check: "), verdict);
    return damagedMessage(storeFilePath());
}

QSqlDatabase Database::handle() const
{
    return threadConnection();
}

bool Database::initStructure()
{
    const QSqlDatabase db = threadConnection();
    if (!db.isValid() || !db.isOpen())
        return fail(QStringLiteral("No library database is open."));

    if (m_readOnly) {
        QSqlQuery query(db);
        for (const char *object : kRequiredObjects) {
            query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ?"));
            query.addBindValue(QString::fromLatin1(object));
            if (!query.exec() || !query.next())
                return fail(QStringLiteral("The read-only library file %1 lacks \"%2\" and cannot be used.")
                                .arg(QDir::toNativeSeparators(path), QString::fromLatin1(object)));
        }
        return true;
    }

    qDebug() << "- Database -> Initializing database structure";
    storesql::Transaction transaction(db, true);
    if (!transaction.isActive())
        return fail(QStringLiteral("The library file cannot be updated: %1").arg(storesql::lastError()));

    QSqlQuery query(db);
    QString failed;
    auto run = [&](const QString &sql) {
        if (!failed.isEmpty())
            return false;
        if (query.exec(sql))
            return true;
        failed = QStringLiteral("%1 (%2)").arg(query.lastError().text(), sql);
        return false;
    };

    // Views go first so no change to a table has to account for them; they are made again last.
    run(QStringLiteral("DROP VIEW IF EXISTS getTracks"));
    run(QStringLiteral("DROP VIEW IF EXISTS getTracksRepo"));
    for (const char *sql : kCreateTables)
        run(QString::fromLatin1(sql));

    for (const Migration &migration : kMigrations) {
        if (!run(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(migration.table))))
            break;
        bool present = false;
        while (query.next())
            present = present
                || query.value(1).toString().compare(QLatin1String(migration.column), Qt::CaseInsensitive)
                    == 0;
        if (!present) {
            const bool added = run(QString::fromLatin1(migration.alter));
            qDebug() << "- Database ->" << migration.label << added;
        }
    }

    for (const char *sql : kCreateRepoTables)
        run(QString::fromLatin1(sql));

    // An empty repository table is rebuilt so it always has the current columns; one with rows stays.
    if (run(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'TrackRepo'"))
        && query.next()) {
        if (run(QStringLiteral("SELECT 1 FROM TrackRepo LIMIT 1")) && !query.next())
            run(QStringLiteral("DROP TABLE TrackRepo"));
    }
    run(QString::fromLatin1(kCreateTrackRepo));

    for (const char *sql : kCreateIndexes)
        run(QString::fromLatin1(sql));
    run(QString::fromLatin1(kCreateGetTracks));
    run(QString::fromLatin1(kCreateGetTracksRepo));
    query.finish();

    if (!failed.isEmpty()) {
        transaction.rollback();
        return fail(QStringLiteral("The library file's structure could not be updated: %1").arg(failed));
    }
    if (!transaction.commit())
        return fail(
            QStringLiteral("The library file's structure could not be saved: %1").arg(storesql::lastError()));
    qDebug() << "- Database -> done database structure";
    return true;
}
