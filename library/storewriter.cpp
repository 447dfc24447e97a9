#include "storewriter.h"

#include "applog.h"
#include "database.h"
#include "kivodb.h"
#include "storesql_p.h"

#include <QSqlQuery>
#include <QThread>

namespace {

void logUnstored(const QString &why, const QString &what)
{
    writeLog(appLogFile(), why, what.isEmpty() ? QStringLiteral("a library change") : what);
}

// While closing, a try waits for the file no longer than closing waits for it.
void limitBusyWait(qint64 ms)
{
    const QSqlDatabase db = Database::threadConnection();
    if (db.isValid())
        QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(qMax<qint64>(1, ms)));
}

}  // namespace

StoreWriter::StoreWriter()
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("store writer"));
    m_thread->start();
}

StoreWriter::~StoreWriter()
{
    close(kClosingWaitMs);
}

void StoreWriter::submit(Job job, QObject *context, Done done, const QString &what)
{
    QMutexLocker lock(&m_mutex);
    if (m_ending) {
        lock.unlock();
        if (job)
            logUnstored(QStringLiteral("Closed, not stored: "), what);
        return;
    }
    m_queue.push_back(Entry{std::move(job), context, std::move(done), what});
    m_wake.wakeAll();
}

void StoreWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (!m_queue.empty() || m_running)
        m_idle.wait(&m_mutex);
}

void StoreWriter::close(int waitMs)
{
    QMutexLocker lock(&m_mutex);
    if (!m_closing) {
        m_closing = true;
        m_closeBy = QDeadlineTimer(qMax(0, waitMs));
        m_wake.wakeAll();
    }
    while ((!m_queue.empty() || m_running) && !m_closeBy.hasExpired())
        m_idle.wait(&m_mutex, m_closeBy);
    std::deque<Entry> dropped;
    dropped.swap(m_queue);
    m_ending = true;
    m_wake.wakeAll();
    m_idle.wakeAll();
    lock.unlock();

    for (const Entry &entry : dropped) {
        if (entry.job)
            logUnstored(QStringLiteral("Closing, not stored: "), entry.what);
    }
    // The write in hand ends its try by the closing's deadline.
    m_thread->wait();
}

StoreWriter::Outcome StoreWriter::outcomeOf(bool ok)
{
    if (ok)
        return Outcome::Done;
    return kivoDB::lastFailureBusy() ? Outcome::Busy : Outcome::Failed;
}

void StoreWriter::run()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_queue.empty() && !m_ending)
            m_wake.wait(&m_mutex);
        if (m_queue.empty())
            return;
        Entry entry = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = true;
        lock.unlock();

        const Outcome outcome = attempt(entry);
        if (entry.context && entry.done) {
            const bool ok = outcome == Outcome::Done;
            QMetaObject::invokeMethod(
                entry.context, [done = std::move(entry.done), ok] { done(ok); }, Qt::QueuedConnection);
        }

        lock.relock();
        m_running = false;
        if (m_queue.empty())
            m_idle.wakeAll();
    }
}

StoreWriter::Outcome StoreWriter::attempt(const Entry &entry)
{
    if (!entry.job)
        return Outcome::Done;
    const QDeadlineTimer bound(qint64(kBusyTimeoutsPerWrite) * Database::busyTimeout());
    int pauseMs = 20;
    for (int tries = 0;; ++tries) {
        qint64 closingMs = -1;
        {
            QMutexLocker lock(&m_mutex);
            if (tries > 0) {
                const QDeadlineTimer pause(pauseMs);
                // Ended early by a close that leaves no time for another try.
                for (qint64 left = timeLeft(bound); left > 0 && !pause.hasExpired(); left = timeLeft(bound))
                    m_wake.wait(&m_mutex, QDeadlineTimer(qMin(left, pause.remainingTime())));
                pauseMs = qMin(pauseMs * 2, kMaxPauseMs);
                if (timeLeft(bound) <= 0)
                    break;
            } else if (m_ending || (m_closing && m_closeBy.hasExpired())) {
                break;
            }
            if (m_closing)
                closingMs = m_closeBy.remainingTime();
        }
        if (closingMs >= 0)
            limitBusyWait(closingMs);
        // A job that fails without a word of its own must not read an earlier job's "busy".
        storesql::clearError();
        const Outcome outcome = entry.job();
        if (outcome != Outcome::Busy)
            return outcome;
        if (tries > 0 && tries % 20 == 0)
            writeLog(
                appLogFile(), QStringLiteral("Library store busy, still trying: "), QString::number(tries));
    }
    logUnstored(QStringLiteral("Library store busy, not stored: "), entry.what);
    return Outcome::Busy;
}

qint64 StoreWriter::timeLeft(const QDeadlineTimer &bound) const
{
    if (m_ending)
        return 0;
    qint64 left = bound.remainingTime();
    if (m_closing)
        left = qMin(left, m_closeBy.remainingTime());
    return left;
}
