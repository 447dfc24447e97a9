#pragma once

// Helpers shared by the store's source files; not part of the store's interface.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace storesql {

// A text as it is bound: a null text is stored as "" so it compares equal to an empty one.
inline QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// A column read as text: NULL reads as "".
inline QString readText(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("") : value.toString();
}

// The primary SQLite result code of an error (extended codes folded), or -1.
int sqliteCode(const QSqlError &error);

// Records `message` as the calling thread's last store error and writes it to the debug log.
void reportError(const QString &message);
QString lastError();
// Whether the last failure was the file being busy (locked by another connection).
bool lastFailureBusy();
void clearError();

// Prepares (when `sql` is given) and executes; on failure reports `what` with the driver's text.
bool prepare(QSqlQuery &query, const QString &sql, const char *what);
bool exec(QSqlQuery &query, const char *what);
bool execText(QSqlDatabase db, const QString &sql, const char *what);

// One store operation: BEGIN IMMEDIATE (or a plain BEGIN for a read-only file) on construction,
// ROLLBACK on destruction unless commit() succeeded.
class Transaction
{
public:
    Transaction(QSqlDatabase db, bool write);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit();
    void rollback();

private:
    QSqlDatabase m_db;
    bool m_active = false;
};

// The calling thread's connection for a store operation: `given` when it is a valid open handle,
// else the thread's own connection to the open library file. Reports why when there is none.
QSqlDatabase connectionFor(const QSqlDatabase &given);

// Runs `body(conn)` as one store operation on the calling thread's connection: committed when it
// returns true, rolled back otherwise. The body's statements end before the commit.
template <typename Body> bool inTransaction(const QSqlDatabase &given, bool write, Body body)
{
    const QSqlDatabase conn = connectionFor(given);
    if (!conn.isValid())
        return false;
    Transaction transaction(conn, write);
    return transaction.isActive() && body(conn) && transaction.commit();
}

}  // namespace storesql
