#include "storesql_p.h"

#include "applog.h"
#include "database.h"

#include <QSqlDriver>
#include <QThread>

namespace storesql {

namespace {
thread_local QString t_lastError;
thread_local bool t_lastBusy = false;

// Whether the failure was another connection holding the file: worth trying again later.
void noteFailure(const QSqlError &error)
{
    const int code = sqliteCode(error);
    t_lastBusy = code == 5 || code == 6;
}
}  // namespace

int sqliteCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

void reportError(const QString &message)
{
    t_lastError = message;
    t_lastBusy = false;
    writeLog(appLogFile(), QStringLiteral("Library store: "), message);
}

QString lastError()
{
    return t_lastError;
}

bool lastFailureBusy()
{
    return t_lastBusy;
}

void clearError()
{
    t_lastError.clear();
    t_lastBusy = false;
}

bool prepare(QSqlQuery &query, const QString &sql, const char *what)
{
    if (query.prepare(sql))
        return true;
    reportError(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
    noteFailure(query.lastError());
    return false;
}

bool exec(QSqlQuery &query, const char *what)
{
    if (query.exec())
        return true;
    reportError(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
    noteFailure(query.lastError());
    return false;
}

bool execText(QSqlDatabase db, const QString &sql, const char *what)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    reportError(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
    noteFailure(query.lastError());
    return false;
}

Transaction::Transaction(QSqlDatabase db, bool write)
    : m_db(db)
{
    // BEGIN IMMEDIATE takes the write lock up front, so a read followed by a write inside the
    // operation waits for other writers instead of failing half way.
    const bool canWrite = write && !Database::storeIsReadOnly();
    m_active = execText(m_db, canWrite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"),
        canWrite ? "Starting a library change" : "Starting a library read");
}

Transaction::~Transaction()
{
    rollback();
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    if (!execText(m_db, QStringLiteral("COMMIT"), "Saving a library change")) {
        rollback();
        return false;
    }
    m_active = false;
    return true;
}

void Transaction::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("ROLLBACK"));
}

QSqlDatabase connectionFor(const QSqlDatabase &given)
{
    // A handle is only used on the thread that opened it; any other falls back to this thread's own.
    if (given.isValid() && given.isOpen() && given.driver()
        && given.driver()->thread() == QThread::currentThread())
        return given;
    QSqlDatabase db = Database::threadConnection();
    if (!db.isValid())
        reportError(Database::storeIsOpen() ? QStringLiteral("The library database cannot be reached.")
                                            : QStringLiteral("No library database is open."));
    return db;
}

}  // namespace storesql
