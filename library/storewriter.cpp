#include "storewriter.h"

#include "applog.h"
#include "kivodb.h"
#include "storesql_p.h"

#include <QThread>

StoreWriter::StoreWriter()
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("store writer"));
    m_thread->start();
}

StoreWriter::~StoreWriter()
{
    {
        QMutexLocker lock(&m_mutex);
        m_ending = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
}

void StoreWriter::submit(Job job, QObject *context, Done done)
{
    QMutexLocker lock(&m_mutex);
    m_queue.push_back(Entry{std::move(job), context, std::move(done)});
    m_wake.wakeAll();
}

void StoreWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (!m_queue.empty() || m_running)
        m_idle.wait(&m_mutex);
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

        // A job that fails without a word of its own must not read an earlier job's "busy".
        storesql::clearError();
        Outcome outcome = entry.job ? entry.job() : Outcome::Done;
        int pauseMs = 20;
        int tries = 1;
        while (outcome == Outcome::Busy) {
            QThread::msleep(pauseMs);
            pauseMs = qMin(pauseMs * 2, kMaxPauseMs);
            storesql::clearError();
            outcome = entry.job();
            if (++tries % 20 == 0)
                writeLog(appLogFile(), QStringLiteral("Library store busy, still trying: "),
                    QString::number(tries));
        }
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
