#pragma once

#include <QSqlDatabase>
#include <QString>

// The library database "kivo.db" in the data folder.
//
// Connections: a QSqlDatabase may only be used on the thread that opened it, so every thread gets
// its own connection to the file that `open` chose (threadConnection()): a unique name per thread,
// opened on first use, closed and removed when the thread ends. All connections run in WAL mode
// with synchronous=NORMAL and a busy timeout, so readers never block writers and a crash cannot
// corrupt the file.
//
// Failures: `open` and `initStructure` return false and leave a readable message in lastError();
// the same message goes to the debug log. A file that is not a database, is damaged or is locked by
// another program is never written to; a file marked read-only opens read-only.
class Database
{
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens (and with `create` makes) the library file on the calling thread and makes it the file
    // every store connection uses. Creating a new file resets the stored vehicle choice.
    bool open(const QString &name, bool create);
    // Whether `open` has checked the file already: a new one, or one it had to switch to WAL mode.
    // Otherwise checkStore() must pass before anything is written.
    bool isChecked() const { return m_checked; }
    // Reads the whole open file through the calling thread's connection; "" when it is sound,
    // else the message that it is damaged. Writes nothing.
    static QString checkStore();

    // Creates missing tables, adds missing columns, rebuilds an empty repository table, adds the
    // look-up indexes and re-creates the views, all in one transaction. On a read-only file it only
    // checks that the tables and views are there.
    bool initStructure();

    // Forgets the open file: later store calls fail until `open` succeeds again. Closes the calling
    // thread's connection; other threads drop theirs on their next use or when they end.
    static void close();

    QString lastError() const { return m_lastError; }
    bool isReadOnly() const { return m_readOnly; }
    QString filePath() const { return path; }
    QString name() const { return connectionName; }
    // The calling thread's connection to the open file (invalid when none is open). No copy is
    // kept, so closing never leaves a dangling handle behind.
    QSqlDatabase handle() const;

    // "<data folder>/kivo.db".
    static QString defaultFilePath();
    // Whether a file is open for the store, and whether it opened read-only.
    static bool storeIsOpen();
    static bool storeIsReadOnly();
    static QString storeFilePath();
    // The calling thread's connection to the open file, opened on first use. Invalid (and the
    // reason logged) when no file is open or the connection cannot be made.
    static QSqlDatabase threadConnection();
    // How long a statement waits for another connection's write lock (default 5000 ms).
    static void setBusyTimeout(int milliseconds);
    static int busyTimeout();

private:
    bool fail(const QString &message);

    QString driver;
    QString path;
    QString connectionName;
    QString m_lastError;
    bool m_readOnly = false;
    bool m_checked = false;
};
